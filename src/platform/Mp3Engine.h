// The MP3 engine behind five calls, in calling order: version, initStream,
// encodeChunk (repeatedly), deinitStream, closeStream.
//
// Contract: one thread (the encoder thread) makes every call of a stream.
// Results are 0 for success or an engine error code. initStream reads the
// stream's parameters from the 331-byte configuration record (little-endian,
// packed); a record with an unknown format code, version or size is refused.
// samplesPerChunk counts 16-bit samples of all channels; outputSize is the
// room each later call needs in its output buffer.
#pragma once

#include <cstdint>
#include <memory>

namespace vorta {

struct EngineVersion {
  std::uint8_t bytes[64] = {};  // bytes[2], bytes[3]: major and minor version
  unsigned major() const { return bytes[2]; }
  unsigned minor() const { return bytes[3]; }
};

constexpr std::size_t kEngineConfigSize = 331;
struct EngineConfig {
  std::uint8_t bytes[kEngineConfigSize] = {};
};

class Mp3Engine {
 public:
  virtual ~Mp3Engine() = default;
  virtual void version(EngineVersion& out) = 0;
  virtual std::uint32_t initStream(const EngineConfig& config, std::uint32_t& samplesPerChunk,
                                   std::uint32_t& outputSize, std::uint32_t& stream) = 0;
  virtual std::uint32_t encodeChunk(std::uint32_t stream, std::uint32_t sampleCount,
                                    const std::int16_t* samples, std::uint8_t* output,
                                    std::uint32_t& outputBytes) = 0;
  virtual std::uint32_t deinitStream(std::uint32_t stream, std::uint8_t* output,
                                     std::uint32_t& outputBytes) = 0;
  virtual void closeStream(std::uint32_t stream) = 0;
};

std::unique_ptr<Mp3Engine> makeLameEngine();

}  // namespace vorta
