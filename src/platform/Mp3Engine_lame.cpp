// The MP3 engine over libmp3lame: one lame_global_flags per stream, owned by
// the stream's codec and closed with it.
#include <lame/lame.h>

#include "platform/Mp3Engine.h"

namespace vorta {
namespace {

constexpr int kRefused = 2;  // the engine code of parameters it refuses
constexpr int kLameQualityHigh = 2, kLameQualityLow = 7;

bool knownRate(int rate) {
  for (int r : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
    if (rate == r) return true;
  }
  return false;
}

// LAME's negative results, as its header documents them.
Error lameError(int n) {
  const int code = -n;
  switch (code) {
    case 1:
      return {ErrorKind::Failed, code, "output room too small"};
    case 2:
      return {ErrorKind::OutOfMemory, code, "out of memory"};
    case 3:
      return {ErrorKind::EngineRefused, code, "parameters not initialised"};
    case 4:
      return {ErrorKind::Failed, code, "psychoacoustic model failure"};
    default:
      return {ErrorKind::Failed, code, "encoding failed"};
  }
}

struct LameCloser {
  void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameCloser>;

class LameCodec final : public Mp3Stream::Codec {
 public:
  LameCodec(LamePtr lame, int channels) : lame_(std::move(lame)), channels_(channels) {}

  Result<std::uint32_t> encode(const std::int16_t* samples, std::uint32_t count, std::uint8_t* out,
                               std::uint32_t room) override {
    const int frames = static_cast<int>(count / static_cast<std::uint32_t>(channels_));
    // LAME's prototypes take non-const sample pointers but only read them.
    auto* pcm = const_cast<short*>(reinterpret_cast<const short*>(samples));
    const int size = static_cast<int>(room);
    const int n = channels_ == 1
                      ? lame_encode_buffer(lame_.get(), pcm, pcm, frames, out, size)
                      : lame_encode_buffer_interleaved(lame_.get(), pcm, frames, out, size);
    return result(n);
  }

  Result<std::uint32_t> flush(std::uint8_t* out, std::uint32_t room) override {
    return result(lame_encode_flush(lame_.get(), out, static_cast<int>(room)));
  }

 private:
  static Result<std::uint32_t> result(int n) {
    if (n < 0) return lameError(n);
    return static_cast<std::uint32_t>(n);
  }

  LamePtr lame_;
  int channels_;
};

MPEG_mode lameMode(Mp3Params::Channels channels) {
  switch (channels) {
    case Mp3Params::Channels::Stereo:
      return STEREO;
    case Mp3Params::Channels::Mono:
      return MONO;
    case Mp3Params::Channels::JointStereo:
      break;
  }
  return JOINT_STEREO;
}

class LameEngine final : public Mp3Engine {
 public:
  Mp3Version version() override {
    lame_version_t v{};
    get_lame_version_numerical(&v);
    return {static_cast<unsigned>(v.major), static_cast<unsigned>(v.minor)};
  }

  Result<Mp3Stream> open(const Mp3Params& p) override {
    if (!knownRate(p.sampleRate) || p.bitrateKbps <= 0 || p.bitrateKbps > 320) {
      return Error{ErrorKind::EngineRefused, kRefused, "parameters refused"};
    }
    const int channels = p.channels == Mp3Params::Channels::Mono ? 1 : 2;
    LamePtr lame(lame_init());
    if (!lame) return Error{ErrorKind::OutOfMemory, kRefused, "out of memory"};
    lame_global_flags* g = lame.get();
    lame_set_num_channels(g, channels);
    lame_set_in_samplerate(g, p.sampleRate);
    // Left alone, LAME would pick a lower output rate for low bitrates; the
    // output keeps the input's rate.
    lame_set_out_samplerate(g, p.sampleRate);
    lame_set_mode(g, lameMode(p.channels));
    lame_set_VBR(g, vbr_off);
    lame_set_brate(g, p.bitrateKbps);
    lame_set_quality(g, p.quality == Mp3Params::Quality::High ? kLameQualityHigh : kLameQualityLow);
    lame_set_bWriteVbrTag(g, 0);
    lame_set_write_id3tag_automatic(g, 0);
    lame_set_original(g, 1);
    lame_set_copyright(g, 0);
    lame_set_error_protection(g, 0);
    lame_set_emphasis(g, 0);
    if (lame_init_params(g) < 0) return Error{ErrorKind::EngineRefused, kRefused, "parameters refused"};

    // One granule pair per chunk: 1152 samples per channel for the MPEG-1
    // rates, 576 for MPEG-2 and 2.5.
    const std::uint32_t perChannel = p.sampleRate >= 32000 ? 1152u : 576u;
    return Mp3Stream(std::make_unique<LameCodec>(std::move(lame), channels),
                     perChannel * static_cast<std::uint32_t>(channels));
  }
};

}  // namespace

std::unique_ptr<Mp3Engine> makeLameEngine() { return std::make_unique<LameEngine>(); }

}  // namespace vorta
