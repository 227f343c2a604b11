// The MP3 engine over LAME, decoded back with mpg123, and the frame
// arithmetic the split and cut-back points rest on.
#include <gtest/gtest.h>
#include <lame/lame.h>

#include "Mp3Decode.h"
#include "encode/MpegFrame.h"
#include "platform/Mp3Engine.h"

namespace vorta {
namespace {

struct HeaderRow {
  std::uint8_t header[4];
  std::uint32_t length;
};

TEST(MpegFrame, LengthFromTheHeaderForEveryVersionWithPadding) {
  const HeaderRow rows[] = {
      {{0xFF, 0xFB, 0x90, 0x00}, 417},  // MPEG-1 44.1 kHz 128 kbit/s
      {{0xFF, 0xFB, 0x92, 0x00}, 418},  //   padded
      {{0xFF, 0xFA, 0x92, 0x00}, 418},  //   with CRC
      {{0xFF, 0xFB, 0xE4, 0x00}, 960},  // MPEG-1 48 kHz 320 kbit/s
      {{0xFF, 0xFB, 0x18, 0x00}, 144},  // MPEG-1 32 kHz 32 kbit/s
      {{0xFF, 0xF3, 0x82, 0x00}, 209},  // MPEG-2 22.05 kHz 64 kbit/s padded
      {{0xFF, 0xF3, 0x14, 0x00}, 24},   // MPEG-2 24 kHz 8 kbit/s
      {{0xFF, 0xF3, 0xE8, 0x00}, 720},  // MPEG-2 16 kHz 160 kbit/s
      {{0xFF, 0xE3, 0x42, 0x00}, 209},  // MPEG-2.5 11.025 kHz 32 kbit/s padded
      {{0xFF, 0xE3, 0x1A, 0x00}, 73},   // MPEG-2.5 8 kHz 8 kbit/s padded
      {{0xFF, 0xE3, 0x84, 0x00}, 384},  // MPEG-2.5 12 kHz 64 kbit/s
      {{0xFF, 0xEB, 0x90, 0x00}, 0},    // reserved version
      {{0xFF, 0xFF, 0x90, 0x00}, 0},    // Layer I
      {{0xFF, 0xFB, 0xF0, 0x00}, 0},    // bitrate index 15
      {{0xFF, 0xFB, 0x00, 0x00}, 0},    // free format
      {{0xFF, 0xFB, 0x9C, 0x00}, 0},    // rate index 3
      {{0xFE, 0xFB, 0x90, 0x00}, 0},    // no sync
  };
  for (const HeaderRow& row : rows) {
    EXPECT_EQ(mpegFrameLength(row.header), row.length)
        << std::hex << int(row.header[1]) << " " << int(row.header[2]);
  }
}

struct EngineRow {
  int rate;
  Mp3Params::Channels channels;
  int bitrate;
  int mode;  // as the decoder reports it: 0 stereo, 1 joint, 3 mono
};

TEST(Mp3Engine, EveryMpegVersionDecodesToItsRateChannelsToneAndWalkableFrames) {
  const EngineRow rows[] = {{44100, Mp3Params::Channels::JointStereo, 128, 1},
                            {48000, Mp3Params::Channels::Stereo, 320, 0},
                            {22050, Mp3Params::Channels::Mono, 64, 3},
                            {11025, Mp3Params::Channels::Stereo, 32, 0},
                            {8000, Mp3Params::Channels::Mono, 8, 3}};
  auto engine = makeLameEngine();
  for (const EngineRow& row : rows) {
    SCOPED_TRACE(row.rate);
    const int channels = row.mode == 3 ? 1 : 2;
    const std::size_t frames = std::size_t(row.rate) * 3 / 2 + 123;  // 1.5 s, ragged
    const auto pcm = test::makeTone(row.rate, channels, frames, {440.0, 1000.0});
    auto opened = engine->open({row.rate, row.channels, row.bitrate, Mp3Params::Quality::High});
    ASSERT_TRUE(opened.ok());
    Mp3Stream stream = std::move(opened).value();
    EXPECT_EQ(stream.samplesPerChunk(), (row.rate >= 32000 ? 1152u : 576u) * channels);
    std::vector<std::uint8_t> mp3;
    for (std::size_t at = 0; at < pcm.size(); at += stream.samplesPerChunk()) {
      const std::size_t n = std::min<std::size_t>(stream.samplesPerChunk(), pcm.size() - at);
      const auto out = stream.encode({pcm.data() + at, n});
      ASSERT_TRUE(out.ok());
      mp3.insert(mp3.end(), out.value().begin(), out.value().end());
    }
    const auto rest = stream.flush();
    ASSERT_TRUE(rest.ok());
    mp3.insert(mp3.end(), rest.value().begin(), rest.value().end());

    std::size_t at = 0;  // nothing but frames, their lengths as the headers say
    while (at + 4 <= mp3.size() && mpegFrameLength(&mp3[at]) != 0) at += mpegFrameLength(&mp3[at]);
    EXPECT_EQ(at, mp3.size());
    const test::DecodedMp3 d = test::decodeMp3Bytes(mp3);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.rate, row.rate);
    EXPECT_EQ(d.channels, channels);
    for (const auto& f : d.frames) {
      ASSERT_EQ(f.bitrate, row.bitrate);
      ASSERT_EQ(f.mode, row.mode);
      ASSERT_TRUE(f.original && !f.crc && f.emphasis == 0);
    }
    EXPECT_NEAR(test::dominantFrequency(d.channel(0), row.rate, 100.0, 2000.0), 440.0, 4.0);
    if (channels == 2) {
      EXPECT_NEAR(test::dominantFrequency(d.channel(1), row.rate, 600.0, 2000.0), 1000.0, 6.0);
    }
  }
}

TEST(Mp3Engine, ReportsLamesVersionAndRefusesUnknownRatesAndBitrates) {
  lame_version_t v{};
  get_lame_version_numerical(&v);
  auto engine = makeLameEngine();
  EXPECT_EQ(engine->version().major, unsigned(v.major));
  EXPECT_EQ(engine->version().minor, unsigned(v.minor));
  for (const Mp3Params& bad : {Mp3Params{44000}, Mp3Params{44100, {}, 0}, Mp3Params{44100, {}, 384}}) {
    const auto opened = engine->open(bad);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().code, 2);
  }
}

}  // namespace
}  // namespace vorta
