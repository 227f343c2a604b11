// The recorded file has the rate, channel count and bitrate asked for: every
// frame header says so, the summary announced it, and the played tone comes
// out at its pitch.
#include <fstream>

#include "E2eSupport.h"

namespace vorta::test {
namespace {

struct FormatCase {
  const char* name;
  std::vector<std::string> args;
  long rate;
  int channels;
  int bitrate;
  int version;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
  int mode;     // 0 stereo, 1 joint stereo, 3 mono
  const char* formatLine;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class FormatTest : public E2eTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatTest, FileHasTheFormatAskedFor) {
  const FormatCase& c = GetParam();
  auto player = playTone(440);
  ASSERT_TRUE(player);
  auto args = c.args;
  args.insert(args.end(), {"-x", "stop.now", "rec"});
  Subprocess vorta;
  startRecording(vorta, E2eTest::vorta(args));
  ASSERT_FALSE(HasFailure());
  sleepSeconds(2.5);
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(20000), 0) << "stderr:\n" << vorta.errors();

  EXPECT_NE(vorta.output().find(c.formatLine), std::string::npos) << vorta.output();
  const DecodedMp3 decoded = decodeWhole(path("rec.mp3"));
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.rate, c.rate);
  EXPECT_EQ(decoded.channels, c.channels);
  int wrong = 0;
  for (const Mp3Frame& f : decoded.frames) {
    // Constant bitrate, original, no CRC, no emphasis, in every frame.
    const bool right = f.bitrate == c.bitrate && f.rate == c.rate && f.version == c.version &&
                       f.mode == c.mode && f.original && !f.crc && f.emphasis == 0;
    if (!right && wrong++ == 0) {
      ADD_FAILURE() << "frame: " << f.bitrate << " kbit/s, " << f.rate << " Hz, version "
                    << f.version << ", mode " << f.mode << ", original " << f.original
                    << ", crc " << f.crc << ", emphasis " << f.emphasis;
    }
  }
  EXPECT_EQ(wrong, 0) << "of " << decoded.frames.size() << " frames";
  for (int ch = 0; ch < decoded.channels; ++ch) {
    const auto part = slice(decoded.channel(ch), decoded.rate, 0.8, decoded.seconds() - 0.3);
    EXPECT_NEAR(dominantFrequency(part, decoded.rate), 440, 5) << "channel " << ch;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, FormatTest,
    ::testing::Values(
        FormatCase{"Khz8Mono16", {"-d", "8", "-mm", "-b", "16"}, 8000, 1, 16, 2, 3,
                   "* File format: MPEG2.5 Layer3, 16 kbit/s, 8 kHz, mono\n"},
        FormatCase{"Khz8StereoDerived32", {"-d", "8"}, 8000, 2, 32, 2, 1,
                   "* File format: MPEG2.5 Layer3, 32 kbit/s, 8 kHz, j-stereo\n"},
        FormatCase{"Khz22Mono48", {"-d", "22", "-mm", "-b", "48"}, 22050, 1, 48, 1, 3,
                   "* File format: MPEG2 Layer3, 48 kbit/s, 22 kHz, mono\n"},
        FormatCase{"Khz22StereoDerived80", {"-d", "22", "-ms"}, 22050, 2, 80, 1, 0,
                   "* File format: MPEG2 Layer3, 80 kbit/s, 22 kHz, stereo\n"},
        FormatCase{"Khz48Mono64", {"-d", "48", "-mm", "-b", "64"}, 48000, 1, 64, 0, 3,
                   "* File format: MPEG1 Layer3, 64 kbit/s, 48 kHz, mono\n"},
        FormatCase{"Khz48Stereo192", {"-d", "48", "-b", "192"}, 48000, 2, 192, 0, 0,
                   "* File format: MPEG1 Layer3, 192 kbit/s, 48 kHz, stereo\n"}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vorta::test
