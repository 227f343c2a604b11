// A minute of 48 kHz stereo at 320 kbit/s and high quality while other
// processes keep every core busy: nothing may overflow or overrun, and the
// file must hold the whole minute without a gap. Once with the encoder's own
// priority handling, once with -a- and once with -a. About a minute each; run
// them alone with ctest -R ReliabilityLoad.
#include <cmath>
#include <thread>

#include "ReliabilitySupport.h"

namespace vorta::test {
namespace {

class ReliabilityLoad : public E2eTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ReliabilityLoad, BusyCoresLoseNothingInAMinute) {
  const double seconds = 60;
  auto player = play(TimeCode::signal(seconds + 15), "timecode.wav");
  ASSERT_TRUE(player);
  // One more spinning process than there are cores (at least three).
  const int cores = int(std::max(2u, std::thread::hardware_concurrency()));
  BusyLoops busy(cores + 1);
  ASSERT_EQ(busy.running(), std::size_t(cores + 1));

  std::vector<std::string> args = {"-d", "48", "-b", "320", "-qh", "-t", "1"};
  if (std::string(GetParam()) != "") args.push_back(GetParam());
  args.push_back("rec");
  Subprocess vorta;
  startRecording(vorta, E2eTest::vorta(args));
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(vorta.wait(150000), 0) << vorta.errors();

  EXPECT_EQ(vorta.output().find("buffer overflow"), std::string::npos) << vorta.output();
  EXPECT_EQ(vorta.output().find("buffer underflow"), std::string::npos) << vorta.output();
  EXPECT_EQ(vorta.errors().find("overrun"), std::string::npos) << vorta.errors();
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  ASSERT_TRUE(decoded.ok);
  // The time limit ends it at the minute of sound handed to the encoder.
  EXPECT_GE(decoded.seconds(), seconds);
  EXPECT_LE(decoded.seconds(), seconds + kBuffer + 0.3);
  // And that minute is the minute that was played: no stretch is missing.
  const double lost = playbackLost(
      TimeCode::read(decoded.channel(0), decoded.rate, TimeCode::topHz(seconds + 15)));
  ASSERT_FALSE(std::isnan(lost)) << "no time code in the recording";
  EXPECT_NEAR(lost, 0.0, kBuffer) << "seconds of the playback missing from the file";
}

INSTANTIATE_TEST_SUITE_P(Priorities, ReliabilityLoad, ::testing::Values("", "-a-", "-a"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           const std::string option = info.param;
                           return option == "" ? std::string("Adaptive")
                                               : option == "-a" ? std::string("Raised")
                                                                : std::string("Normal");
                         });

}  // namespace
}  // namespace vorta::test
