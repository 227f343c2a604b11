// Sound input with a function callback, modelled on a wave-input service.
//
// Who calls what:
// - The capture loop (main thread) calls every method.
// - The callback runs on the service's own thread for Data messages, and on
//   the caller's thread, during open() and close(), for Open and Close.
// - Buffers are owned by the caller. Between add() and the Data message that
//   hands a buffer back (its done flag set, bytesRecorded filled), the service
//   owns its bytes. reset() hands back every queued buffer, the partly filled
//   one with the bytes it holds; after close() returns the callback never runs
//   again.
// Result codes: 0 success, otherwise one of the codes below, so that the
// capture loop's error table can name them. errorText gives the service's own
// text for an open failure.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace vorta {

namespace sound {
constexpr int kOk = 0;
constexpr int kError = 1;
constexpr int kBadDeviceId = 2;
constexpr int kAllocated = 4;
constexpr int kInvalidHandle = 5;
constexpr int kNoDriver = 6;
constexpr int kNoMemory = 7;
constexpr int kBadFormat = 32;
constexpr int kUnprepared = 34;
}  // namespace sound

struct SoundFormat {
  int channels = 2;         // 1 or 2
  int samplesPerSecond = 44100;
  int blockAlign = 4;       // channels x 2
  int bytesPerSecond = 176400;
};

struct CaptureBuffer {
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  // Set by the service before the Data message; read by the callback.
  std::uint32_t bytesRecorded = 0;
  // Done flag: set (release) by the service when it hands the buffer back,
  // read (acquire) by the capture loop, which then may touch data again.
  std::atomic<bool> done{false};
  bool prepared = false;  // caller thread only
};

enum class SoundMessage { Open, Data, Close };

class SoundCallback {
 public:
  virtual ~SoundCallback() = default;
  // buffer is non-null for Data only.
  virtual void onSound(SoundMessage message, CaptureBuffer* buffer) = 0;
};

// What the service reports about trouble it recovered from or could not.
class SoundTroubleListener {
 public:
  virtual ~SoundTroubleListener() = default;
  // An overrun was recovered; about lostMs of sound were lost.
  virtual void onOverrun(int lostMs) = 0;
  // The device stopped working for good (server gone, device unplugged).
  virtual void onDeviceLost(const std::string& reason) = 0;
};

class SoundInput {
 public:
  virtual ~SoundInput() = default;
  // 1 when a capture device can be used, 0 when there is none.
  virtual int deviceCount() = 0;
  virtual int open(const SoundFormat& format, SoundCallback& callback,
                   SoundTroubleListener* trouble) = 0;
  virtual std::string errorText(int code) = 0;
  virtual int prepare(CaptureBuffer& buffer) = 0;
  virtual int add(CaptureBuffer& buffer) = 0;
  virtual int start() = 0;
  virtual int stop() = 0;
  virtual int reset() = 0;
  virtual int close() = 0;
  virtual int unprepare(CaptureBuffer& buffer) = 0;
};

// The ALSA capture PCM "default", or the one named by AUDIODEV.
std::unique_ptr<SoundInput> makeAlsaSoundInput();

}  // namespace vorta
