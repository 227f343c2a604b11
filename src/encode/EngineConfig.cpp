#include "encode/EngineConfig.h"

namespace vorta {

using namespace engine_config;

void putU32(EngineConfig& config, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    config.bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::uint32_t getU32(const EngineConfig& config, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= std::uint32_t{config.bytes[offset + i]} << (8 * i);
  return value;
}

// The record's channel-mode numbers: 0 stereo, 1 joint stereo, 3 mono.
static std::uint32_t modeCode(ChannelMode mode) {
  switch (mode) {
    case ChannelMode::Stereo: return 0;
    case ChannelMode::JointStereo: return 1;
    case ChannelMode::Mono: return 3;
  }
  return 1;
}

EngineConfig makeEngineConfig(const Settings& settings) {
  EngineConfig config;  // all zeros: no maximum bitrate, no CRC, no VBR
  putU32(config, kFormatOffset, kFormatCode);
  putU32(config, kVersionOffset, kRecordVersion);
  putU32(config, kSizeOffset, static_cast<std::uint32_t>(kEngineConfigSize));
  putU32(config, kSampleRateOffset, static_cast<std::uint32_t>(settings.sampleRate));
  putU32(config, kResampleRateOffset, 0);  // the engine decides: no resampling
  putU32(config, kModeOffset, modeCode(settings.channelMode));
  putU32(config, kBitrateOffset, static_cast<std::uint32_t>(settings.bitrate));
  putU32(config, kQualityOffset, settings.quality == Quality::Low ? 1u : 2u);
  putU32(config, kMpegVersionOffset, 1);
  putU32(config, kPsychoModelOffset, 0);
  putU32(config, kEmphasisOffset, 0);
  putU32(config, kOriginalOffset, 1);
  return config;
}

}  // namespace vorta
