// Silence cutting, heard from outside: a tone, a long pause and a tone again,
// played once while vorta records. With -s the pause shrinks to the two
// seconds that are kept of every pause (plus the quiet start of the capture
// buffer in which the second tone begins); without it the pause stays whole.
#include <filesystem>
#include <fstream>

#include "E2eSupport.h"

namespace vorta::test {
namespace {

class SilenceTest : public E2eTest {
 protected:
  // Records the tone / pause / tone signal and returns the loud stretches of
  // the decoded file's left channel.
  std::vector<Stretch> recordPause(std::vector<std::string> args) {
    args.insert(args.end(), {"-x", "stop.now", "rec"});
    Subprocess vorta;
    startRecording(vorta, E2eTest::vorta(args));
    if (HasFailure()) return {};
    auto player = play(TestSignal(48000, 2).tone(1000, 1).silence(6).tone(1000, 1));
    if (!player) return {};
    EXPECT_EQ(player->wait(30000), 0) << "paplay did not finish";
    // Let the end of the second tone travel through the server and fill the
    // capture buffer it lands in: a buffer still filling at the stop is
    // dropped.
    sleepSeconds(1.5);
    std::ofstream(path("stop.now")) << "stop\n";
    EXPECT_EQ(vorta.wait(20000), 0) << "stderr:\n" << vorta.errors();
    const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
    if (!decoded.ok) return {};
    // Half of the tone's amplitude: far above what the encoder leaves in the
    // silence, reached within a fraction of a millisecond of a tone's start.
    return loudStretches(decoded.channel(0), decoded.rate, 8000, 0.1);
  }
};

TEST_F(SilenceTest, PauseLongerThanTwoSecondsIsCutToTwoSeconds) {
  const auto loud = recordPause({"-s", "50"});
  ASSERT_EQ(loud.size(), 2u) << "expected the two tones";
  EXPECT_NEAR(loud[0].length(), 1.0, 0.05);
  EXPECT_NEAR(loud[1].length(), 1.0, 0.05);
  const double pause = loud[1].begin - loud[0].end;
  // Two seconds of the pause are kept, and the buffer in which the second
  // tone starts is kept whole, its quiet beginning too.
  EXPECT_GE(pause, 2.0 - 0.05);
  EXPECT_LE(pause, 2.0 + kBuffer + 0.05);
}

TEST_F(SilenceTest, WithoutCuttingThePauseIsKeptWhole) {
  const auto loud = recordPause({});
  ASSERT_EQ(loud.size(), 2u) << "expected the two tones";
  EXPECT_NEAR(loud[0].length(), 1.0, 0.05);
  EXPECT_NEAR(loud[1].length(), 1.0, 0.05);
  EXPECT_NEAR(loud[1].begin - loud[0].end, 6.0, 0.05);
}

}  // namespace
}  // namespace vorta::test
