// Faults from inside: an overrun reported by the device (through an
// interposed ALSA read) is reported with about how much sound was lost and
// the recording goes on; an input that gives no sound for 10 s has stopped
// working: the run ends with code 3 and a finished file; an encoder far
// behind drains after a stop, and a second stop ends it at once.
#include <csignal>
#include <cstdlib>
#include <regex>
#include <thread>

#include "E2eTest.h"

namespace vorta::test {
namespace {

ProcessOptions withFault(ProcessOptions options, const std::string& fault) {
  options.env.push_back("LD_PRELOAD=" VORTA_FAULT_SHIM);
  options.env.push_back("VORTA_FAULT=" + fault);
  const char* asan = std::getenv("ASAN_OPTIONS");  // the shim comes before the sanitizer
  options.env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
  return options;
}

// As a service logs it: the closing line counts the overrun and its sound.
TEST_F(E2eTest, OverrunIsReportedAndRecordingGoesOn) {
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(withFault(E2eTest::vorta({"--log", "rec"}), "overrun")));
  ASSERT_TRUE(vorta.waitForErrors("Record: ", 30000)) << vorta.errors();
  ASSERT_EQ(play(TimeCode::signal(4))->wait(20000), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(vorta.signal(SIGINT));
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  EXPECT_TRUE(std::regex_match(vorta.errors(), std::regex(
      "Record: .*\n\\* Sound input overrun: about ([1-9]\\d*) ms of sound lost\\.\nRecord: .*\n"
      "Losses: 1 sound input overruns \\(about \\1 ms of sound\\), 0 buffer overflows\n"))) << vorta.errors();
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

// A stop waits for the encoder to catch up; a second stop does not: the file
// ends at once, at its last whole frame.
TEST_F(E2eTest, SecondStopEndsALongDrainAtOnce) {
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(withFault(E2eTest::vorta({"rec"}), "slow-encoder")));
  ASSERT_TRUE(vorta.waitForOutput("Press ESC to exit...", 20000)) << vorta.errors();
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));  // 3 s of sound: 20 s of encoding
  ASSERT_TRUE(vorta.signal(SIGINT));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  ASSERT_TRUE(vorta.running()) << "the first stop drains";
  ASSERT_TRUE(vorta.signal(SIGINT));
  EXPECT_EQ(vorta.wait(8000), 0) << vorta.errors();  // not the drain's 20 s
  decodeWhole(path("rec.mp3"));
}

}  // namespace
}  // namespace vorta::test
