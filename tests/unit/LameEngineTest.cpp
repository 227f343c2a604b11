#include <gtest/gtest.h>
#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "Mp3Decode.h"
#include "encode/EngineConfig.h"
#include "platform/Mp3Engine.h"

namespace vorta {
namespace {

using test::decodeMp3Bytes;
using test::DecodedMp3;
using test::dominantFrequency;
using test::makeTone;

Settings settingsFor(int rate, ChannelMode channelMode, int bitrate, Quality quality = Quality::High) {
  Settings s;
  s.sampleRate = rate;
  s.channelMode = channelMode;
  s.bitrate = bitrate;
  s.quality = quality;
  return s;
}

TEST(EngineConfig, RecordHoldsTheDocumentedFieldsAndZerosElsewhere) {
  const EngineConfig c = makeEngineConfig(settingsFor(22050, ChannelMode::Mono, 64, Quality::Low));
  std::vector<std::uint8_t> expected(kEngineConfigSize, 0);
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) expected[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(0, 256);
  put(4, 1);
  put(8, 331);
  put(12, 22050);
  put(20, 3);
  put(24, 64);
  put(32, 1);
  put(36, 1);
  put(60, 1);
  EXPECT_EQ(std::vector<std::uint8_t>(c.bytes, c.bytes + kEngineConfigSize), expected);

  const EngineConfig j = makeEngineConfig(settingsFor(48000, ChannelMode::JointStereo, 320, Quality::High));
  EXPECT_EQ(getU32(j, 12), 48000u);
  EXPECT_EQ(getU32(j, 20), 1u);
  EXPECT_EQ(getU32(j, 24), 320u);
  EXPECT_EQ(getU32(j, 32), 2u);
  EXPECT_EQ(j.bytes[24], 0x40);  // little-endian: 320 = 0x0140
  EXPECT_EQ(j.bytes[25], 0x01);
}

TEST(LameEngine, ReportsLamesOwnVersionNumbers) {
  lame_version_t v{};
  get_lame_version_numerical(&v);
  EngineVersion out;
  makeLameEngine()->version(out);
  EXPECT_EQ(out.major(), static_cast<unsigned>(v.major));
  EXPECT_EQ(out.minor(), static_cast<unsigned>(v.minor));
}

TEST(LameEngine, RefusesARecordWithUnknownFormatVersionOrSize) {
  auto engine = makeLameEngine();
  const EngineConfig good = makeEngineConfig(settingsFor(44100, ChannelMode::JointStereo, 128));
  for (std::size_t offset : {std::size_t{0}, std::size_t{4}, std::size_t{8}}) {
    SCOPED_TRACE(offset);
    EngineConfig bad = good;
    putU32(bad, offset, getU32(good, offset) + 1);
    std::uint32_t spc = 0, size = 0, stream = 0;
    EXPECT_NE(engine->initStream(bad, spc, size, stream), 0u);
  }
  EngineConfig badRate = good;
  putU32(badRate, 12, 44000);
  std::uint32_t spc = 0, size = 0, stream = 0;
  EXPECT_NE(engine->initStream(badRate, spc, size, stream), 0u);
  // The engine still works after refusals.
  ASSERT_EQ(engine->initStream(good, spc, size, stream), 0u);
  engine->closeStream(stream);
}

// Runs the five calls the way the encoder thread does, chunk by chunk.
std::vector<std::uint8_t> encodeAll(Mp3Engine& engine, const Settings& settings,
                                    const std::vector<std::int16_t>& pcm, std::uint32_t& spcOut) {
  std::uint32_t spc = 0, outSize = 0, stream = 0;
  EXPECT_EQ(engine.initStream(makeEngineConfig(settings), spc, outSize, stream), 0u);
  spcOut = spc;
  std::vector<std::uint8_t> room(outSize), mp3;
  for (std::size_t at = 0; at < pcm.size(); at += spc) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(spc, pcm.size() - at));
    std::uint32_t got = 0;
    EXPECT_EQ(engine.encodeChunk(stream, n, pcm.data() + at, room.data(), got), 0u);
    mp3.insert(mp3.end(), room.begin(), room.begin() + got);
  }
  std::uint32_t got = 0;
  EXPECT_EQ(engine.deinitStream(stream, room.data(), got), 0u);
  mp3.insert(mp3.end(), room.begin(), room.begin() + got);
  engine.closeStream(stream);
  return mp3;
}

bool contains(const std::vector<std::uint8_t>& bytes, const std::string& what) {
  return std::search(bytes.begin(), bytes.end(), what.begin(), what.end()) != bytes.end();
}

TEST(LameEngine, EveryRateMonoAndStereoDecodesToTheSameRateChannelsLengthAndTone) {
  const int rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
  auto engine = makeLameEngine();
  for (int rate : rates) {
    for (ChannelMode mode : {ChannelMode::Mono, ChannelMode::JointStereo}) {
      SCOPED_TRACE(std::to_string(rate) + (mode == ChannelMode::Mono ? " mono" : " joint stereo"));
      const bool mpeg1 = rate >= 32000;
      const int channels = mode == ChannelMode::Mono ? 1 : 2;
      const int bitrate = mpeg1 ? 128 : 64;
      const std::size_t frames = static_cast<std::size_t>(rate) * 3 / 2 + 123;  // 1.5 s, ragged
      const std::vector<double> tones = {440.0, 1000.0};
      const auto pcm = makeTone(rate, channels, frames, tones);

      std::uint32_t spc = 0;
      const auto mp3 = encodeAll(*engine, settingsFor(rate, mode, bitrate), pcm, spc);
      EXPECT_EQ(spc, (mpeg1 ? 1152u : 576u) * channels);
      ASSERT_GE(mp3.size(), 4u);
      EXPECT_EQ(mp3[0], 0xFF);  // the first bytes are a frame header, not a tag
      EXPECT_FALSE(contains(mp3, "Xing") || contains(mp3, "Info")) << "no VBR/Info frame";
      EXPECT_FALSE(std::equal(mp3.end() - 3, mp3.end(), "TAG") ||
                   (mp3.size() > 128 && std::equal(mp3.end() - 128, mp3.end() - 125, "TAG")))
          << "no ID3v1 tag";

      const DecodedMp3 d = decodeMp3Bytes(mp3);
      ASSERT_TRUE(d.ok) << d.error;
      EXPECT_EQ(d.rate, rate);
      EXPECT_EQ(d.channels, channels);
      for (const auto& f : d.frames) {
        ASSERT_EQ(f.bitrate, bitrate);
        ASSERT_EQ(f.mode, mode == ChannelMode::Mono ? 3 : 1);  // the header's mode field
        ASSERT_TRUE(f.original);
        ASSERT_FALSE(f.crc);
        ASSERT_EQ(f.emphasis, 0);
      }
      // The decoder's output holds the encoder's 576-sample delay and the
      // padding that completes the last frame.
      const std::size_t frameSamples = mpeg1 ? 1152 : 576;
      const std::size_t extra = d.sampleFrames() - frames;
      EXPECT_GE(d.sampleFrames(), frames + 576);
      EXPECT_LT(extra - 576, 2 * frameSamples);
      EXPECT_NEAR(dominantFrequency(d.channel(0), rate, 100.0, 2000.0), 440.0, 4.0);
      if (channels == 2) {
        EXPECT_NEAR(dominantFrequency(d.channel(1), rate, 600.0, 2000.0), 1000.0, 6.0);
      }
    }
  }
}

TEST(LameEngine, LastChunksMayBeShortOrEmptyAndTheOutputRoomIsLargeEnough) {
  auto engine = makeLameEngine();
  std::uint32_t spc = 0, outSize = 0, stream = 0;
  ASSERT_EQ(engine->initStream(makeEngineConfig(settingsFor(44100, ChannelMode::Stereo, 320)), spc, outSize,
                               stream),
            0u);
  EXPECT_GE(outSize, static_cast<std::uint32_t>(std::ceil(1.25 * spc)) + 7200u);
  std::vector<std::uint8_t> room(outSize);
  const auto pcm = makeTone(44100, 2, spc / 2, {440.0});
  std::uint32_t got = 0;
  EXPECT_EQ(engine->encodeChunk(stream, spc, pcm.data(), room.data(), got), 0u);
  EXPECT_EQ(engine->encodeChunk(stream, 6, pcm.data(), room.data(), got), 0u);
  EXPECT_EQ(engine->encodeChunk(stream, 0, pcm.data(), room.data(), got), 0u);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(engine->deinitStream(stream, room.data(), got), 0u);
  EXPECT_GT(got, 0u);
  engine->closeStream(stream);
  EXPECT_NE(engine->encodeChunk(stream, 0, pcm.data(), room.data(), got), 0u)
      << "a closed stream's handle is refused";
}

}  // namespace
}  // namespace vorta
