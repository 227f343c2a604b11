// An ALSA capture PCM: opening and configuring it for a format, and stopping
// and closing it, each within a time limit (see WithinLimit.h). Used by the
// ALSA sound input only; the only header outside the .cpp files that
// includes ALSA's.
//
// Contract: the functions run on the caller's thread (the capture loop's);
// the handle belongs to whoever holds it.
#pragma once

#include <alsa/asoundlib.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/Result.h"
#include "platform/SoundInput.h"

namespace vorta {

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

struct OpenedPcm {
  PcmHandle pcm;
  snd_pcm_uframes_t periodFrames = 0;  // frames per read
  std::chrono::milliseconds buffer{0};  // what the device's buffer holds
};

// ALSA's number and its own text.
Error alsaError(int code);

// The device can be opened for capture. -ENOENT or -ENODEV: there is none.
Status probeCapturePcm(const std::string& device);

// Opens the device for capture in non-blocking mode and sets the format, a
// buffer of about 0.8 s and reads of about 100 ms.
Result<OpenedPcm> openCapturePcm(const std::string& device, const SoundFormat& format);

// Stops the PCM at once, dropping what it holds. False when the server did
// not answer in time: the handle is then given up to the waiting call.
bool dropPcm(PcmHandle& pcm);

// Closes the PCM; a server that does not answer keeps it.
void closePcm(PcmHandle pcm);

}  // namespace vorta
