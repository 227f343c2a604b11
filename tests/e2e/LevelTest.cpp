// The input's level through the whole chain, as a service logs it: the
// played time code (half of full scale) shows as its peak, the silence
// between as dead air that began and ended, and the closing line counts it.
#include <fstream>
#include <regex>
#include <thread>

#include "E2eTest.h"

namespace vorta::test {
namespace {

TEST_F(E2eTest, MeterAndDeadAirFollowThePlayedSoundInTheLog) {
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(E2eTest::vorta({"--log", "--meter", "--dead-air", "0.05", "-x", "stop.now", "rec"})));
  ASSERT_TRUE(vorta.waitForErrors("Record: ", 30000)) << vorta.errors();  // the first status line comes at once
  ASSERT_EQ(play(TestSignal(48000, 2).timeCode(0, 1).silence(5).timeCode(1, 2))->wait(30000), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  // Blocks are judged whole, so the 5 s shrink to the quiet blocks in them.
  const std::string status = R"(Record: \d+\.\d kbytes \(0:00:\d\d\), buffer free: \d+\.\d%, CPU usage: \d+\.\d%, peak: )";
  const std::string halfScale = R"(-(?:5\.9|6\.0|6\.1))";
  EXPECT_TRUE(std::regex_match(vorta.errors(), std::regex(
      status + R"(-\d+\.\d/-\d+\.\d dBFS, clipped: 0\n\* Dead air: no sound for 0\.05 min\.\n)"
      R"(\* Sound is back after (0:00:0[45]) of dead air\.\n)" + status + halfScale + "/" + halfScale +
      R"( dBFS, clipped: 0\n\* Dead air in all: \1, times: 1\.\n)"
      R"(Losses: 0 sound input overruns \(about 0 ms of sound\), 0 buffer overflows, dead air \1 \(1 times\)\n)")))
      << vorta.errors();
  decodeWhole(path("rec.mp3"));
}

}  // namespace
}  // namespace vorta::test
