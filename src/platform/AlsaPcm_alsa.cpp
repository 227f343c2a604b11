#include "platform/AlsaPcm.h"

#include <cerrno>
#include <chrono>

#include "platform/Process.h"
#include "platform/WithinLimit.h"

namespace vorta {
namespace {

constexpr unsigned kPeriodUs = 100000;  // about 100 ms per read
constexpr unsigned kBufferUs = 800000;  // small buffers overrun at start with the pulse plugin
constexpr auto kOpenLimit = std::chrono::seconds(5);
constexpr auto kCallLimit = std::chrono::seconds(3);

// What an open on the helper thread got; the raw handle is owned by whoever
// takes the outcome.
struct Opening {
  int error = 0;
  snd_pcm_t* pcm = nullptr;
  snd_pcm_uframes_t periodFrames = 0;
  std::chrono::milliseconds buffer{0};
};

int setHardware(snd_pcm_t* pcm, const SoundFormat& format, Opening& out) {
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  int err = snd_pcm_hw_params_any(pcm, hw);
  // Let the plug layer convert rates the hardware lacks.
  if (err >= 0) err = snd_pcm_hw_params_set_rate_resample(pcm, hw, 1);
  if (err >= 0) err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (err >= 0) err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE);
  if (err >= 0)
    err = snd_pcm_hw_params_set_channels(pcm, hw, static_cast<unsigned>(format.channels));
  if (err >= 0)
    err = snd_pcm_hw_params_set_rate(pcm, hw, static_cast<unsigned>(format.samplesPerSecond), 0);
  if (err < 0) return err;
  unsigned periodUs = kPeriodUs;
  unsigned bufferUs = kBufferUs;
  int dir = 0;
  // Near values: a device that cannot meet them exactly still records.
  snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, &dir);
  snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, &dir);
  err = snd_pcm_hw_params(pcm, hw);
  if (err < 0) return err;
  snd_pcm_uframes_t bufferFrames = 0;
  snd_pcm_hw_params_get_period_size(hw, &out.periodFrames, &dir);
  snd_pcm_hw_params_get_buffer_size(hw, &bufferFrames);
  const auto rate = static_cast<snd_pcm_uframes_t>(format.samplesPerSecond);
  if (out.periodFrames == 0) out.periodFrames = rate / 10;
  out.buffer = std::chrono::milliseconds(bufferFrames * 1000 / rate);
  return 0;
}

int setSoftware(snd_pcm_t* pcm, snd_pcm_uframes_t periodFrames) {
  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  int err = snd_pcm_sw_params_current(pcm, sw);
  if (err >= 0) err = snd_pcm_sw_params_set_avail_min(pcm, sw, periodFrames);
  // Time stamps let an overrun be measured from the moment it happened.
  if (err >= 0) err = snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
  if (err >= 0) err = snd_pcm_sw_params(pcm, sw);
  return err < 0 ? err : 0;
}

// Runs on the helper thread: touches nothing but its arguments.
Opening openAndConfigure(const std::string& device, const SoundFormat* format) {
  Opening out;
  out.error = snd_pcm_open(&out.pcm, device.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (out.error < 0) {
    out.pcm = nullptr;
    return out;
  }
  if (format) out.error = setHardware(out.pcm, *format, out);
  if (format && out.error == 0) out.error = setSoftware(out.pcm, out.periodFrames);
  if (out.error < 0 || !format) {
    snd_pcm_close(out.pcm);
    out.pcm = nullptr;
  }
  return out;
}

// An open is normally quick; a stop signal that was already pending does not
// cut it short (the recording then ends as usual), one that comes during it
// does.
Opening openWithinLimit(const std::string& device, const SoundFormat* format) {
  const bool stopBefore = stopSignalPending();
  const auto stopCame = [stopBefore] { return !stopBefore && stopSignalPending(); };
  std::optional<SoundFormat> copy;
  if (format) copy = *format;
  const std::optional<Opening> done = runWithinLimit<Opening>(
      [device, copy] { return openAndConfigure(device, copy ? &*copy : nullptr); }, kOpenLimit,
      stopCame, [](Opening& late) {
        if (late.pcm) snd_pcm_close(late.pcm);
      });
  if (done) return *done;
  Opening failed;
  failed.error = stopCame() ? -ECANCELED : -ETIMEDOUT;
  return failed;
}

}  // namespace

ErrorKind alsaErrorKind(int code) {
  if (code == -ENOENT || code == -ENODEV) return ErrorKind::NoDevice;
  switch (-code) {
    case EBUSY: case EAGAIN: return ErrorKind::DeviceBusy;
    case EINVAL: return ErrorKind::FormatRefused;
    case ETIMEDOUT: return ErrorKind::NoAnswer;
    case ECANCELED: return ErrorKind::Cancelled;
    case EIO: case EPIPE: case ESTRPIPE: case EBADFD: case ENXIO: return ErrorKind::DeviceGone;
    case ENOMEM: return ErrorKind::OutOfMemory;
    case EACCES: case EPERM: return ErrorKind::NoPermission;
    default: return ErrorKind::Failed;
  }
}

Error alsaError(int code) { return Error{alsaErrorKind(code), code, snd_strerror(code)}; }

Status probeCapturePcm(const std::string& device) {
  const Opening probe = openWithinLimit(device, nullptr);
  if (probe.error < 0) return alsaError(probe.error);
  return {};
}

Result<OpenedPcm> openCapturePcm(const std::string& device, const SoundFormat& format) {
  const Opening opened = openWithinLimit(device, &format);
  if (opened.error < 0) return alsaError(opened.error);
  OpenedPcm pcm;
  pcm.pcm.reset(opened.pcm);
  pcm.periodFrames = opened.periodFrames;
  pcm.buffer = opened.buffer;
  return pcm;
}

bool dropPcm(PcmHandle& pcm) {
  if (!pcm) return true;
  snd_pcm_t* raw = pcm.get();
  const bool answered = runWithinLimit<bool>(
                            [raw] {
                              snd_pcm_drop(raw);
                              return true;
                            },
                            kCallLimit)
                            .has_value();
  if (!answered) static_cast<void>(pcm.release());
  return answered;
}

void closePcm(PcmHandle pcm) {
  if (!pcm) return;
  snd_pcm_t* raw = pcm.release();
  static_cast<void>(runWithinLimit<bool>(
      [raw] {
        snd_pcm_drop(raw);
        snd_pcm_close(raw);
        return true;
      },
      kCallLimit));
}

}  // namespace vorta
