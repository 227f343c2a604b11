// The MP3 engine: its version, and streams opened with typed parameters.
//
// Contract: the encoder thread opens one stream and makes every call on it;
// nothing here is shared between threads. A stream is a move-only value that
// owns the engine's handle and frees it when it goes, on every path. Output
// is constant bitrate at the input's own rate with nothing but MPEG audio
// frames (no Info frame, no tags), so files cut between two frames are
// consecutive pieces of one stream. The engine's outputs do not end with its
// frames: a call may hand out part of a frame (the bit reservoir).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/Result.h"

namespace vorta {

struct Mp3Params {
  enum class Channels { Stereo, JointStereo, Mono };
  enum class Quality { Low, High };

  int sampleRate = 44100;  // one of the nine rates from 8000 to 48000 Hz
  Channels channels = Channels::JointStereo;
  int bitrateKbps = 128;
  Quality quality = Quality::High;
};

struct Mp3Version {
  unsigned major = 0;
  unsigned minor = 0;
};

class Mp3Stream {
 public:
  // What an engine provides for one open stream; freed with the stream.
  class Codec {
   public:
    virtual ~Codec() = default;
    // Encodes `count` interleaved samples (all channels counted) into `out`
    // (`room` bytes); the number of bytes written.
    virtual Result<std::uint32_t> encode(const std::int16_t* samples, std::uint32_t count,
                                         std::uint8_t* out, std::uint32_t room) = 0;
    // Writes what the engine still holds; the stream is over afterwards.
    virtual Result<std::uint32_t> flush(std::uint8_t* out, std::uint32_t room) = 0;
  };

  // samplesPerChunk: the samples (all channels counted) one encode takes.
  Mp3Stream(std::unique_ptr<Codec> codec, std::uint32_t samplesPerChunk)
      : codec_(std::move(codec)),
        samplesPerChunk_(samplesPerChunk),
        // The engine's own worst case for one call: 1.25 x samples + 7200.
        out_(samplesPerChunk + samplesPerChunk / 4 + 1 + 7200) {}
  Mp3Stream(Mp3Stream&&) = default;
  Mp3Stream& operator=(Mp3Stream&&) = default;
  Mp3Stream(const Mp3Stream&) = delete;
  Mp3Stream& operator=(const Mp3Stream&) = delete;

  std::uint32_t samplesPerChunk() const { return samplesPerChunk_; }

  // At most samplesPerChunk() samples. The bytes stay valid until the next
  // call on the stream.
  Result<std::span<const std::uint8_t>> encode(std::span<const std::int16_t> samples) {
    return bytesOf(codec_->encode(samples.data(), static_cast<std::uint32_t>(samples.size()),
                                  out_.data(), room()));
  }
  Result<std::span<const std::uint8_t>> flush() {
    return bytesOf(codec_->flush(out_.data(), room()));
  }

 private:
  std::uint32_t room() const { return static_cast<std::uint32_t>(out_.size()); }
  Result<std::span<const std::uint8_t>> bytesOf(const Result<std::uint32_t>& n) const {
    if (!n.ok()) return n.error();
    return std::span<const std::uint8_t>(out_.data(), n.value());
  }

  std::unique_ptr<Codec> codec_;
  std::uint32_t samplesPerChunk_;
  std::vector<std::uint8_t> out_;
};

// A seam: the program uses makeLameEngine(), tests pass a fake.
class Mp3Engine {
 public:
  virtual ~Mp3Engine() = default;
  virtual Mp3Version version() = 0;
  // Error code 2 when the engine refuses the parameters.
  virtual Result<Mp3Stream> open(const Mp3Params& params) = 0;
};

std::unique_ptr<Mp3Engine> makeLameEngine();

}  // namespace vorta
