// The five-call MP3 engine over libmp3lame.
//
// Each stream is one lame_global_flags, owned here and reached by a small
// integer handle; closeStream frees it, and the engine's destructor frees any
// stream a caller left open (an error path). Encoding is constant bitrate at
// the input's own sample rate, with no Xing/Info frame and no ID3 tags, so
// the output is nothing but MPEG audio frames: files cut between two engine
// outputs are consecutive pieces of one stream.
#include <lame/lame.h>

#include <cmath>
#include <map>
#include <memory>

#include "platform/Mp3Engine.h"

namespace vorta {
namespace {

// Result codes of the published interface.
constexpr std::uint32_t kErrInvalidFormat = 1;
constexpr std::uint32_t kErrInvalidParameters = 2;
constexpr std::uint32_t kErrInvalidHandle = 4;

// The configuration record as this engine reads it: little-endian, packed.
constexpr std::uint32_t kRecordFormat = 256;
constexpr std::uint32_t kRecordVersion = 1;
constexpr std::size_t kOffFormat = 0, kOffVersion = 4, kOffSize = 8, kOffRate = 12,
                      kOffMode = 20, kOffBitrate = 24, kOffQuality = 32;
constexpr std::uint32_t kModeStereo = 0, kModeJoint = 1, kModeMono = 3;
constexpr std::uint32_t kQualityLow = 1, kQualityHigh = 2;
constexpr int kLameQualityHigh = 2, kLameQualityLow = 7;

std::uint32_t field(const EngineConfig& config, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= std::uint32_t{config.bytes[offset + i]} << (8 * i);
  return value;
}

bool knownRate(std::uint32_t rate) {
  for (std::uint32_t r : {8000u, 11025u, 12000u, 16000u, 22050u, 24000u, 32000u, 44100u, 48000u}) {
    if (rate == r) return true;
  }
  return false;
}

struct LameCloser {
  void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameCloser>;

struct Stream {
  LamePtr lame;
  int channels = 2;
  std::uint32_t outputSize = 0;
};

class LameEngine final : public Mp3Engine {
 public:
  void version(EngineVersion& out) override {
    lame_version_t v{};
    get_lame_version_numerical(&v);
    out = EngineVersion{};
    out.bytes[2] = static_cast<std::uint8_t>(v.major);
    out.bytes[3] = static_cast<std::uint8_t>(v.minor);
  }

  std::uint32_t initStream(const EngineConfig& config, std::uint32_t& samplesPerChunk,
                           std::uint32_t& outputSize, std::uint32_t& stream) override {
    if (field(config, kOffFormat) != kRecordFormat || field(config, kOffVersion) != kRecordVersion ||
        field(config, kOffSize) != kEngineConfigSize) {
      return kErrInvalidFormat;
    }
    const std::uint32_t rate = field(config, kOffRate);
    const std::uint32_t mode = field(config, kOffMode);
    const std::uint32_t bitrate = field(config, kOffBitrate);
    const std::uint32_t quality = field(config, kOffQuality);
    if (!knownRate(rate) || bitrate == 0 || bitrate > 320) return kErrInvalidParameters;
    if (mode != kModeStereo && mode != kModeJoint && mode != kModeMono) return kErrInvalidParameters;
    if (quality != kQualityLow && quality != kQualityHigh) return kErrInvalidParameters;

    Stream s;
    s.channels = mode == kModeMono ? 1 : 2;
    s.lame.reset(lame_init());
    if (!s.lame) return kErrInvalidParameters;
    lame_global_flags* g = s.lame.get();
    lame_set_num_channels(g, s.channels);
    lame_set_in_samplerate(g, static_cast<int>(rate));
    // Left alone, LAME would pick a lower output rate for low bitrates; the
    // output keeps the input's rate.
    lame_set_out_samplerate(g, static_cast<int>(rate));
    lame_set_mode(g, mode == kModeMono ? MONO : (mode == kModeJoint ? JOINT_STEREO : STEREO));
    lame_set_VBR(g, vbr_off);
    lame_set_brate(g, static_cast<int>(bitrate));
    lame_set_quality(g, quality == kQualityHigh ? kLameQualityHigh : kLameQualityLow);
    lame_set_bWriteVbrTag(g, 0);
    lame_set_write_id3tag_automatic(g, 0);
    lame_set_original(g, 1);
    lame_set_copyright(g, 0);
    lame_set_error_protection(g, 0);
    lame_set_emphasis(g, 0);
    if (lame_init_params(g) < 0) return kErrInvalidParameters;

    const std::uint32_t perChannel = rate >= 32000 ? 1152u : 576u;  // MPEG-1 vs MPEG-2/2.5
    samplesPerChunk = perChannel * static_cast<std::uint32_t>(s.channels);
    // LAME's own worst case for one call: 1.25 x samples + 7200 bytes.
    s.outputSize = static_cast<std::uint32_t>(std::ceil(1.25 * samplesPerChunk)) + 7200u;
    outputSize = s.outputSize;
    stream = nextHandle_++;
    streams_.emplace(stream, std::move(s));
    return 0;
  }

  std::uint32_t encodeChunk(std::uint32_t stream, std::uint32_t sampleCount,
                            const std::int16_t* samples, std::uint8_t* output,
                            std::uint32_t& outputBytes) override {
    outputBytes = 0;
    Stream* s = find(stream);
    if (!s) return kErrInvalidHandle;
    const int frames = static_cast<int>(sampleCount / static_cast<std::uint32_t>(s->channels));
    // LAME's prototypes take non-const sample pointers but only read them.
    auto* pcm = const_cast<short*>(reinterpret_cast<const short*>(samples));
    const int size = static_cast<int>(s->outputSize);
    const int n = s->channels == 1
                      ? lame_encode_buffer(s->lame.get(), pcm, pcm, frames, output, size)
                      : lame_encode_buffer_interleaved(s->lame.get(), pcm, frames, output, size);
    return result(n, outputBytes);
  }

  std::uint32_t deinitStream(std::uint32_t stream, std::uint8_t* output,
                             std::uint32_t& outputBytes) override {
    outputBytes = 0;
    Stream* s = find(stream);
    if (!s) return kErrInvalidHandle;
    const int n = lame_encode_flush(s->lame.get(), output, static_cast<int>(s->outputSize));
    return result(n, outputBytes);
  }

  void closeStream(std::uint32_t stream) override { streams_.erase(stream); }

 private:
  Stream* find(std::uint32_t stream) {
    const auto it = streams_.find(stream);
    return it == streams_.end() ? nullptr : &it->second;
  }

  // A negative LAME result becomes its magnitude as the error code
  // (1: output room too small, 2: out of memory, 3: not initialised, 4: psychoacoustic failure).
  static std::uint32_t result(int n, std::uint32_t& outputBytes) {
    if (n < 0) return static_cast<std::uint32_t>(-n);
    outputBytes = static_cast<std::uint32_t>(n);
    return 0;
  }

  std::map<std::uint32_t, Stream> streams_;
  std::uint32_t nextHandle_ = 1;
};

}  // namespace

std::unique_ptr<Mp3Engine> makeLameEngine() { return std::make_unique<LameEngine>(); }

}  // namespace vorta
