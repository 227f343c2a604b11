// Faults from inside (tests/e2e/FaultShim.c): an overrun reported by the
// device and a stall that drops sound are reported with about how much sound
// was lost and the recording goes on; a clock the kernel calls unsynchronised
// is warned of; an encoder far behind drains after a stop, and a second stop
// ends it at once.
#include <csignal>
#include <regex>
#include <thread>

#include "E2eTest.h"

namespace vorta::test {
namespace {

// As a service logs it: an overrun the device reports and a stall that drops
// sound without a word from the device are each reported with about how much
// was lost, the recording goes on, and the closing line adds them up.
TEST_F(E2eTest, OverrunAndLossyStallAreReportedAndAddedUp) {
  auto player = play(TimeCode::signal(12));
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(withShim(E2eTest::vorta({"--log", "--meter", "-d", "48", "rec"}), "overrun,stall")));
  ASSERT_TRUE(vorta.waitForErrors("lost.\n* Sound input overrun", 30000)) << vorta.errors();
  ASSERT_TRUE(vorta.signal(SIGINT));  // while the code plays
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  const std::string lost = R"(\* Sound input overrun: about ([1-9]\d*) ms of sound lost\.\n)";
  const std::string halfScale = R"(-(?:5\.9|6\.0|6\.1))";
  std::smatch m;
  const std::string errors = vorta.errors();
  ASSERT_TRUE(std::regex_match(errors, m, std::regex(
      "Record: [^\n]*, clipped: 0\n" + lost + lost + "Record: [^\n]*, peak: " + halfScale + "/" + halfScale +
      " dBFS, clipped: 0\nLosses: 2 sound input overruns \\(about (\\d+) ms of sound\\), 0 buffer overflows\n"))) << errors;
  EXPECT_EQ(std::stoi(m[3]), std::stoi(m[1]) + std::stoi(m[2]));
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  const CodeHeard heard = codeHeard(TimeCode::read(decoded.channel(0), decoded.rate));
  EXPECT_NEAR(heard.lost, std::stoi(m[2]) / 1000.0, 0.3) << "the stall's loss";
  EXPECT_LE(decoded.seconds() - heard.lastAt, 0.3);
}

// A clock the system does not keep in step is warned of once, at the start.
TEST_F(E2eTest, UnsynchronisedClockIsWarnedOf) {
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, withShim(E2eTest::vorta({"rec"}), "unsync")));
  ASSERT_TRUE(vorta.signal(SIGINT));
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  EXPECT_EQ(std::regex_replace(vorta.errors(), std::regex("Record: [^\r]*\r"), ""),
            "\r\n* Warning: the system clock is not synchronised with a time source; file names and hours "
            "follow it as it is.\r\n");
}

// A stop waits for the encoder to catch up; a second stop does not: the file
// ends at once, at its last whole frame.
TEST_F(E2eTest, SecondStopEndsALongDrainAtOnce) {
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(withShim(E2eTest::vorta({"rec"}), "slow-encoder")));
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
