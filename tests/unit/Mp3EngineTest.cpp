// The frame arithmetic split and cut-back points rest on, over the real engine's output too.
#include <gtest/gtest.h>
#include <lame/lame.h>

#include "Mp3Decode.h"
#include "encode/MpegFrame.h"
#include "platform/Mp3Engine.h"

namespace vorta {
namespace {

TEST(MpegFrame, LengthFromTheHeaderForEveryVersionWithPadding) {
  struct Row { std::uint8_t header[4]; std::uint32_t length; } const rows[] = {
      {{0xFF, 0xFB, 0x90}, 417}, {{0xFF, 0xFB, 0x92}, 418},  // MPEG-1 44.1 kHz 128k, padded
      {{0xFF, 0xFA, 0x92}, 418}, {{0xFF, 0xFB, 0xE4}, 960},  // with CRC; 48 kHz 320k
      {{0xFF, 0xFB, 0x18}, 144}, {{0xFF, 0xF3, 0x82}, 209},  // 32 kHz 32k; MPEG-2 22.05 kHz 64k +pad
      {{0xFF, 0xF3, 0x14}, 24},  {{0xFF, 0xF3, 0xE8}, 720},  // MPEG-2 24 kHz 8k; 16 kHz 160k
      {{0xFF, 0xE3, 0x42}, 209}, {{0xFF, 0xE3, 0x1A}, 73},   // MPEG-2.5 11.025 kHz 32k, 8 kHz 8k, +pad
      {{0xFF, 0xE3, 0x84}, 384}, {{0xFF, 0xEB, 0x90}, 0},    // MPEG-2.5 12 kHz 64k; reserved version
      {{0xFF, 0xFF, 0x90}, 0},   {{0xFF, 0xFB, 0xF0}, 0},    // Layer I; bitrate index 15
      {{0xFF, 0xFB, 0x9C}, 0},   {{0xFE, 0xFB, 0x90}, 0}};   // rate index 3; no sync
  for (const Row& row : rows)
    EXPECT_EQ(mpegFrameLength(row.header), row.length) << std::hex << int(row.header[2]);
}

// The rates whose frames the engine pads, in both channel counts: its output
// is nothing but frames, each as long as its header says.
TEST(Mp3Engine, OutputIsAChainOfFramesAtEveryMpegVersion) {
  lame_version_t v{};
  get_lame_version_numerical(&v);
  auto engine = makeLameEngine();
  EXPECT_TRUE(engine->version().major == unsigned(v.major) && engine->version().minor == unsigned(v.minor));
  using C = Mp3Params::Channels;
  for (const Mp3Params& p : {Mp3Params{44100, C::JointStereo, 128}, Mp3Params{22050, C::Mono, 64},
                             Mp3Params{11025, C::Stereo, 32}, Mp3Params{8000, C::Mono, 8}}) {
    const int channels = p.channels == C::Mono ? 1 : 2;
    auto opened = engine->open(p);
    ASSERT_TRUE(opened.ok());
    Mp3Stream stream = std::move(opened).value();
    ASSERT_EQ(stream.samplesPerChunk(), (p.sampleRate >= 32000 ? 1152u : 576u) * channels);
    const auto pcm = test::makeTone(p.sampleRate, channels, p.sampleRate + 123, {440.0, 1000.0});
    std::vector<std::uint8_t> mp3;
    for (std::size_t at = 0, n = 0; n < pcm.size() + 1; at += n) {
      n = std::min<std::size_t>(stream.samplesPerChunk(), pcm.size() - at);
      const auto out = n ? stream.encode({pcm.data() + at, n}) : stream.flush();
      ASSERT_TRUE(out.ok());
      mp3.insert(mp3.end(), out.value().begin(), out.value().end());
      if (!n) break;
    }
    std::size_t at = 0;
    while (at + 4 <= mp3.size() && mpegFrameLength(&mp3[at]) != 0) at += mpegFrameLength(&mp3[at]);
    EXPECT_EQ(at, mp3.size()) << p.sampleRate;
    EXPECT_EQ(test::decodeMp3Bytes(mp3).rate, p.sampleRate);
  }
}

}  // namespace
}  // namespace vorta
