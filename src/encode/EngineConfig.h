// The engine's 331-byte configuration record, built from the settings.
//
// The record is laid out byte for byte as the engine's published interface
// has it (little-endian, packed), so the same bytes can be handed to any
// engine that implements that interface.
#pragma once

#include <cstdint>

#include "base/Settings.h"
#include "platform/Mp3Engine.h"

namespace vorta {

// Offsets and fixed values of the record's fields.
namespace engine_config {
constexpr std::size_t kFormatOffset = 0;
constexpr std::size_t kVersionOffset = 4;
constexpr std::size_t kSizeOffset = 8;
constexpr std::size_t kSampleRateOffset = 12;
constexpr std::size_t kResampleRateOffset = 16;
constexpr std::size_t kModeOffset = 20;
constexpr std::size_t kBitrateOffset = 24;
constexpr std::size_t kQualityOffset = 32;
constexpr std::size_t kMpegVersionOffset = 36;
constexpr std::size_t kPsychoModelOffset = 40;
constexpr std::size_t kEmphasisOffset = 44;
constexpr std::size_t kOriginalOffset = 60;

constexpr std::uint32_t kFormatCode = 256;
constexpr std::uint32_t kRecordVersion = 1;
}  // namespace engine_config

// Builds the record from sampleRate, channelMode (after the automatic
// choice), bitrate and quality.
EngineConfig makeEngineConfig(const Settings& settings);

// Little-endian 32-bit field access, shared with the engine adapter.
void putU32(EngineConfig& config, std::size_t offset, std::uint32_t value);
std::uint32_t getU32(const EngineConfig& config, std::size_t offset);

}  // namespace vorta
