// An overrun reported by the device (through an interposed ALSA read): the
// message says about how much sound was lost, and the recording goes on.
#include <csignal>
#include <cstdlib>
#include <regex>
#include <thread>

#include "E2eTest.h"

namespace vorta::test {
namespace {

TEST_F(E2eTest, OverrunIsReportedAndRecordingGoesOn) {
  ProcessOptions options = vorta({"rec"});
  options.env.push_back("LD_PRELOAD=" VORTA_OVERRUN_SHIM);
  const char* asan = std::getenv("ASAN_OPTIONS");  // the shim comes before the sanitizer
  options.env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, options));
  ASSERT_EQ(play(TimeCode::signal(4))->wait(20000), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(vorta.signal(SIGINT));
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  EXPECT_TRUE(std::regex_match(
      std::regex_replace(vorta.errors(), std::regex("Record: [^\r]*\r"), ""),
      std::regex("\r\n\\* Sound input overrun: about [1-9]\\d* ms of sound lost\\.\r\n")))
      << vorta.errors();
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  EXPECT_GE(codeHeard(TimeCode::read(decoded.channel(0), decoded.rate)).last, 4 - 0.25);
}

}  // namespace
}  // namespace vorta::test
