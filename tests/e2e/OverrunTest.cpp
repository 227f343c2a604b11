// The input in trouble: an overrun reported by the device (through an
// interposed ALSA read) is reported with about how much sound was lost and
// the recording goes on; an input that gives no sound for 10 s has stopped
// working: the run ends with code 3 and a finished file.
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

TEST_F(E2eTest, SilentInputEndsTheRunWithCode3) {
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, E2eTest::vorta({"rec"})));
  ASSERT_EQ(::kill(server().pid(), SIGSTOP), 0);
  const int code = vorta.wait(30000);
  ::kill(server().pid(), SIGCONT);
  ASSERT_EQ(code, 3) << vorta.errors();
  EXPECT_EQ(std::regex_replace(vorta.errors(), std::regex("Record: [^\r]*\r"), ""),
            "\r\n* Error: the sound input stopped working (Connection timed out).\r\n");
  decodeWhole(path("rec.mp3"));
}

}  // namespace
}  // namespace vorta::test
