// Sound input as a stream of whole blocks.
//
// Who calls what:
// - The capture loop (main thread) calls every method of SoundInput, in the
//   order devicePresent, open, start, stop, close (stop and close may come
//   without a start; close without a stop stops first).
// - The callback runs on the input's own thread ("vorta-input", at the
//   system's normal priority), one call at a time and never after stop() or
//   close() has returned. Nothing else runs on that thread, so the callback
//   must not wait for long: a callback that blocks holds capture up.
// - The input owns its blocks: it fills one, hands it to onBlock, and reuses
//   it once onBlock returns. The callback copies what it keeps; the bytes are
//   not valid after it returns.
// - Every block holds whole frames and is blockBytes long (half a second of
//   sound, rounded down to whole frames), except the last one, which stop()
//   hands over with what it holds: the sound up to the stop request.
// Every failure comes back as an Error with the system's own text.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Result.h"
#include "platform/Threads.h"

namespace vorta {

struct SoundFormat {
  int channels = 2;  // 1 or 2, 16-bit signed little-endian samples
  int samplesPerSecond = 44100;

  int bytesPerFrame() const { return channels * 2; }
  int bytesPerSecond() const { return bytesPerFrame() * samplesPerSecond; }
  // Half a second, in whole frames.
  std::uint32_t blockBytes() const {
    const auto half = static_cast<std::uint32_t>(bytesPerSecond() / 2);
    return half - half % static_cast<std::uint32_t>(bytesPerFrame());
  }
};

class SoundCallback {
 public:
  virtual ~SoundCallback() = default;
  // A block of `bytes` bytes of sound (whole frames).
  virtual void onBlock(const std::uint8_t* data, std::uint32_t bytes) = 0;
  // The input recovered from an overrun; about `lost` of sound was lost.
  // Recording goes on.
  virtual void onOverrun(std::chrono::milliseconds lost) = 0;
  // The reading stood still and about `lost` of sound never arrived,
  // although the device reported no overrun. Recording goes on.
  virtual void onStall(std::chrono::milliseconds lost) { onOverrun(lost); }
  // The stream was started again (after a suspend): what the device took in
  // meanwhile is lost. Recording goes on.
  virtual void onRestarted() {}
  // The input stopped working for good: its device or server is gone, or a
  // running device gave no sound for kSilentInputLimit. Reported once; no
  // block follows until the close, except the one stop() hands over.
  virtual void onInputLost(const Error& why) = 0;
};

// A running input that gives no sound for this long has stopped working.
// Time the program itself did not run (stopped, starved of the processor)
// does not count.
constexpr std::chrono::milliseconds kSilentInputLimit{10000};

class SoundInput {
 public:
  virtual ~SoundInput() = default;
  // False when there is no capture device at all; any other trouble is left
  // for open() to report.
  virtual bool devicePresent() = 0;
  virtual Status open(const SoundFormat& format, SoundCallback& callback) = 0;
  virtual Status start() = 0;
  // Hands over the partly filled block with the sound the device holds up to
  // this call, then stops reading. No callback runs after it returns.
  virtual void stop() = 0;
  virtual void close() = 0;
};

// The system's sound input. On Linux the ALSA capture PCM named by `device`;
// when none is given, the one named by the environment variable AUDIODEV,
// else "default". On Windows the wave-input device of that number (from 0)
// or the first whose name starts with `device` (or AUDIODEV), case ignored;
// when none is given, the system's preferred device. Its reading thread runs
// at the normal level of `priorities`, which the caller made on the main
// thread before raising it (a value made on a raised thread would count
// "normal" from the raised level).
std::unique_ptr<SoundInput> makeSystemSoundInput(const char* device, ThreadPriorities priorities);

// The name of the device makeSystemSoundInput(device) opens, as the user
// would type it for --device.
std::string soundDeviceName(const char* device);

// What the system can record from, for --list-devices. Main thread, before
// any recording; nothing is opened.
struct CaptureDevice {
  std::string name;         // what --device takes
  std::string description;  // the system's, possibly several lines
};
struct SoundCard {
  int index = 0;
  std::string name;
  std::string longName;
};
struct SoundDevices {
  std::vector<CaptureDevice> captureDevices;
  std::vector<SoundCard> cards;
};
Result<SoundDevices> listSoundDevices();

}  // namespace vorta
