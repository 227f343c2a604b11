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

EngineConfig makeEngineConfig(const Settings& settings) {
  EngineConfig config;  // all zeros: no maximum bitrate, no CRC, no VBR
  putU32(config, kFormatOffset, kFormatCode);
  putU32(config, kVersionOffset, kRecordVersion);
  putU32(config, kSizeOffset, static_cast<std::uint32_t>(kEngineConfigSize));
  putU32(config, kSampleRateOffset, static_cast<std::uint32_t>(settings.sampleRate));
  putU32(config, kResampleRateOffset, 0);  // the engine decides: no resampling
  putU32(config, kModeOffset, static_cast<std::uint32_t>(settings.channelMode));
  putU32(config, kBitrateOffset, static_cast<std::uint32_t>(settings.bitrate));
  putU32(config, kQualityOffset, static_cast<std::uint32_t>(settings.quality));
  putU32(config, kMpegVersionOffset, 1);
  putU32(config, kPsychoModelOffset, 0);
  putU32(config, kEmphasisOffset, 0);
  putU32(config, kOriginalOffset, 1);
  return config;
}

}  // namespace vorta
