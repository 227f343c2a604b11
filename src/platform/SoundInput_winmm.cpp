// Sound input over the wave-input service (waveIn), with a function callback.
//
// The service calls waveInProc on a thread of its own for every filled
// buffer (WIM_DATA), and on the caller's thread during waveInOpen (WIM_OPEN)
// and waveInClose (WIM_CLOSE). Each CaptureBuffer gets one WAVEHDR, owned
// here from prepare to unprepare; its dwUser points back at the buffer.
#include "platform/SoundInput.h"

#include <windows.h>
#include <mmsystem.h>

#include <map>

#include "platform/Wide_win32.h"

namespace vorta {
namespace {

class WaveInSoundInput final : public SoundInput {
 public:
  ~WaveInSoundInput() override {
    if (wave_) close();
  }

  int deviceCount() override { return waveInGetNumDevs() > 0 ? 1 : 0; }

  int open(const SoundFormat& format, SoundCallback& callback,
           SoundTroubleListener* trouble) override {
    static_cast<void>(trouble);
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = static_cast<WORD>(format.channels);
    wave.nSamplesPerSec = static_cast<DWORD>(format.samplesPerSecond);
    wave.nAvgBytesPerSec = static_cast<DWORD>(format.bytesPerSecond);
    wave.nBlockAlign = static_cast<WORD>(format.blockAlign);
    wave.wBitsPerSample = 16;
    callback_ = &callback;
    const MMRESULT result =
        waveInOpen(&wave_, WAVE_MAPPER, &wave, reinterpret_cast<DWORD_PTR>(&waveInProc),
                   reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) {
      wave_ = nullptr;
      callback_ = nullptr;
    }
    return static_cast<int>(result);
  }

  std::string errorText(int code) override {
    wchar_t text[MAXERRORLENGTH] = {};
    if (waveInGetErrorTextW(static_cast<MMRESULT>(code), text, MAXERRORLENGTH) !=
        MMSYSERR_NOERROR)
      return "sound input error " + std::to_string(code);
    return fromWide(text);
  }

  int prepare(CaptureBuffer& buffer) override {
    if (!wave_) return sound::kInvalidHandle;
    WAVEHDR& header = headers_[&buffer];
    header = WAVEHDR{};
    header.lpData = reinterpret_cast<LPSTR>(buffer.data);
    header.dwBufferLength = buffer.length;
    header.dwUser = reinterpret_cast<DWORD_PTR>(&buffer);
    const MMRESULT result = waveInPrepareHeader(wave_, &header, sizeof header);
    if (result == MMSYSERR_NOERROR) buffer.prepared = true;
    return static_cast<int>(result);
  }

  int add(CaptureBuffer& buffer) override {
    if (!wave_) return sound::kInvalidHandle;
    const auto found = headers_.find(&buffer);
    if (found == headers_.end() || !buffer.prepared) return sound::kUnprepared;
    // Relaxed: the service sees the buffer only through waveInAddBuffer.
    buffer.done.store(false, std::memory_order_relaxed);
    return static_cast<int>(waveInAddBuffer(wave_, &found->second, sizeof(WAVEHDR)));
  }

  int start() override { return wave_ ? static_cast<int>(waveInStart(wave_)) : sound::kInvalidHandle; }
  int stop() override { return wave_ ? static_cast<int>(waveInStop(wave_)) : sound::kInvalidHandle; }
  int reset() override { return wave_ ? static_cast<int>(waveInReset(wave_)) : sound::kInvalidHandle; }

  int close() override {
    if (!wave_) return sound::kInvalidHandle;
    const MMRESULT result = waveInClose(wave_);
    if (result == MMSYSERR_NOERROR) wave_ = nullptr;
    return static_cast<int>(result);
  }

  int unprepare(CaptureBuffer& buffer) override {
    const auto found = headers_.find(&buffer);
    if (found == headers_.end()) return sound::kOk;
    if (wave_) {
      const MMRESULT result = waveInUnprepareHeader(wave_, &found->second, sizeof(WAVEHDR));
      if (result != MMSYSERR_NOERROR) return static_cast<int>(result);
    }
    headers_.erase(found);
    buffer.prepared = false;
    return sound::kOk;
  }

 private:
  static void CALLBACK waveInProc(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                  DWORD_PTR) {
    auto* self = reinterpret_cast<WaveInSoundInput*>(instance);
    SoundCallback* callback = self->callback_;
    if (!callback) return;
    switch (message) {
      case WIM_OPEN: callback->onSound(SoundMessage::Open, nullptr); break;
      case WIM_CLOSE: callback->onSound(SoundMessage::Close, nullptr); break;
      case WIM_DATA: {
        auto* header = reinterpret_cast<WAVEHDR*>(param1);
        auto* buffer = reinterpret_cast<CaptureBuffer*>(header->dwUser);
        buffer->bytesRecorded = header->dwBytesRecorded;
        // Release: whoever sees done also sees the bytes and the count.
        buffer->done.store(true, std::memory_order_release);
        callback->onSound(SoundMessage::Data, buffer);
        break;
      }
    }
  }

  HWAVEIN wave_ = nullptr;
  // Set before waveInOpen, read by the service's thread in waveInProc.
  SoundCallback* callback_ = nullptr;
  // Caller thread only; the service reaches a header through the pointer it
  // was given in waveInAddBuffer.
  std::map<CaptureBuffer*, WAVEHDR> headers_;
};

}  // namespace

std::unique_ptr<SoundInput> makeAlsaSoundInput() { return std::make_unique<WaveInSoundInput>(); }

}  // namespace vorta
