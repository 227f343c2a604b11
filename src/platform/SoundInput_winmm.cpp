// Sound input over the wave-input service (waveIn) of Windows: the device
// chosen by number or by the start of its name (given, or in AUDIODEV), else
// the system's preferred one (WAVE_MAPPER).
//
// The shared reading thread (BlockReader) steps this stream: each step waits
// on the event that the service sets whenever it hands a buffer back, passes
// every filled buffer to the callback in the order they were queued and
// queues it again. Three buffers of one block each circulate; they are owned
// here from open to close.
//
// Threads and what they touch:
// - The caller's thread calls every SoundInput method; it calls waveIn
//   (open, start, stop, reset, close) while the reader waits for an order or
//   for the event, which waveIn allows from any thread.
// - Reading thread only (the BlockStream calls): next_.
// - Set by open() before the reader starts, cleared by close() after it has
//   ended: wave_, ready_, blocks_ and headers_, callback_.
#include <windows.h>
#include <mmsystem.h>

#include <array>
#include <cwctype>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/BlockReader.h"
#include "platform/SoundInput.h"
#include "platform/Wide_win32.h"

namespace vorta {
namespace {

constexpr int kBlocks = 3;

ErrorKind kindOf(MMRESULT code) {
  switch (code) {
    case MMSYSERR_BADDEVICEID: case MMSYSERR_NODRIVER: return ErrorKind::NoDevice;
    case MMSYSERR_ALLOCATED: return ErrorKind::DeviceBusy;
    case WAVERR_BADFORMAT: return ErrorKind::FormatRefused;
    case MMSYSERR_NOMEM: return ErrorKind::OutOfMemory;
    default: return ErrorKind::Failed;
  }
}

Error waveError(MMRESULT code) {
  wchar_t text[MAXERRORLENGTH] = {};
  if (waveInGetErrorTextW(code, text, MAXERRORLENGTH) != MMSYSERR_NOERROR)
    return Error{kindOf(code), static_cast<int>(code), "sound input error " + std::to_string(code)};
  return Error{kindOf(code), static_cast<int>(code), fromWide(text)};
}

std::wstring lowered(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The device a name chooses: none, the system's preferred one (WAVE_MAPPER);
// a number, the device of that number (from 0); anything else, the first
// device whose name starts with it, case ignored.
Result<UINT> chooseDevice(const std::string& asked) {
  if (asked.empty()) return static_cast<UINT>(WAVE_MAPPER);
  const UINT count = waveInGetNumDevs();
  if (asked.size() < 6 && asked.find_first_not_of("0123456789") == std::string::npos) {
    const auto index = static_cast<UINT>(std::stoul(asked));
    if (index < count) return index;
    return waveError(MMSYSERR_BADDEVICEID);
  }
  const std::wstring prefix = lowered(toWide(asked));
  for (UINT i = 0; i < count; ++i) {
    WAVEINCAPSW caps{};
    if (waveInGetDevCapsW(i, &caps, sizeof caps) == MMSYSERR_NOERROR &&
        lowered(caps.szPname).rfind(prefix, 0) == 0)
      return i;
  }
  return waveError(MMSYSERR_BADDEVICEID);
}

class WaveInSoundInput final : public SoundInput, private BlockStream {
 public:
  WaveInSoundInput(const char* device, ThreadPriorities priorities)
      : device_(askedSoundDevice(device)), priorities_(priorities) {}
  ~WaveInSoundInput() override { close(); }

  bool devicePresent() override { return waveInGetNumDevs() > 0; }
  Status open(const SoundFormat& format, SoundCallback& callback) override;
  Status start() override;
  void stop() override;
  void close() override;

 private:
  // BlockStream, on the reading thread.
  void begin() override {}
  std::int64_t step(std::chrono::milliseconds wait) override;
  // waveInStop hands back the buffer being filled with what it holds.
  std::chrono::milliseconds stopTail() const override { return {}; }
  void finish() override { handOver(false); }
  Error silenceError() override { return waveError(MMSYSERR_ERROR); }

  // Hands every buffer the service has handed back to the callback, in
  // order; queues each again unless the stream is stopping. Whether any
  // held sound.
  bool handOver(bool requeue);
  Status queueBuffers(const SoundFormat& format);

  const std::string device_;  // as asked for; empty: the preferred device
  HWAVEIN wave_ = nullptr;
  HANDLE ready_ = nullptr;  // set by the service for every buffer it hands back
  std::array<std::vector<std::uint8_t>, kBlocks> blocks_;
  std::array<WAVEHDR, kBlocks> headers_{};
  SoundCallback* callback_ = nullptr;
  int next_ = 0;  // the buffer the service hands back next
  const ThreadPriorities priorities_;
  std::optional<BlockReader> reader_;  // from open to close
};

Status WaveInSoundInput::open(const SoundFormat& format, SoundCallback& callback) {
  if (wave_) return waveError(MMSYSERR_ALLOCATED);
  // The device first: a name that chooses none must leave nothing open.
  const Result<UINT> device = chooseDevice(device_);
  if (!device.ok()) return device.error();
  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = static_cast<WORD>(format.channels);
  wave.nSamplesPerSec = static_cast<DWORD>(format.samplesPerSecond);
  wave.nAvgBytesPerSec = static_cast<DWORD>(format.bytesPerSecond());
  wave.nBlockAlign = static_cast<WORD>(format.bytesPerFrame());
  wave.wBitsPerSample = 16;
  ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!ready_) return waveError(MMSYSERR_NOMEM);
  const MMRESULT opened = waveInOpen(&wave_, device.value(), &wave,
                                     reinterpret_cast<DWORD_PTR>(ready_), 0, CALLBACK_EVENT);
  if (opened != MMSYSERR_NOERROR) {
    wave_ = nullptr;
    CloseHandle(ready_);
    ready_ = nullptr;
    return waveError(opened);
  }
  callback_ = &callback;
  if (Status queued = queueBuffers(format); !queued.ok()) {
    close();
    return queued;
  }
  next_ = 0;
  reader_.emplace(static_cast<BlockStream&>(*this), callback, std::nullopt, systemClock(),
                  priorities_);
  return {};
}

Status WaveInSoundInput::queueBuffers(const SoundFormat& format) {
  for (int i = 0; i < kBlocks; ++i) {
    blocks_[i].assign(format.blockBytes(), 0);
    headers_[i] = WAVEHDR{};
    headers_[i].lpData = reinterpret_cast<LPSTR>(blocks_[i].data());
    headers_[i].dwBufferLength = static_cast<DWORD>(blocks_[i].size());
    MMRESULT queued = waveInPrepareHeader(wave_, &headers_[i], sizeof(WAVEHDR));
    if (queued == MMSYSERR_NOERROR) queued = waveInAddBuffer(wave_, &headers_[i], sizeof(WAVEHDR));
    if (queued != MMSYSERR_NOERROR) return waveError(queued);
  }
  return {};
}

Status WaveInSoundInput::start() {
  if (!wave_ || !reader_) return waveError(MMSYSERR_INVALHANDLE);
  const MMRESULT started = waveInStart(wave_);
  if (started != MMSYSERR_NOERROR) return waveError(started);
  reader_->run();
  return {};
}

void WaveInSoundInput::stop() {
  if (!reader_ || !reader_->running()) return;
  // The service hands the buffer in progress back with what it holds; the
  // event wakes a reader that waits for it.
  waveInStop(wave_);
  SetEvent(ready_);
  reader_->stop();
}

void WaveInSoundInput::close() {
  if (!wave_) return;
  stop();
  reader_.reset();  // joins the reading thread
  waveInReset(wave_);  // every queued buffer comes back, unused
  for (WAVEHDR& header : headers_)
    if (header.dwFlags & WHDR_PREPARED) waveInUnprepareHeader(wave_, &header, sizeof(WAVEHDR));
  waveInClose(wave_);
  wave_ = nullptr;
  CloseHandle(ready_);
  ready_ = nullptr;
  callback_ = nullptr;
}

std::int64_t WaveInSoundInput::step(std::chrono::milliseconds wait) {
  WaitForSingleObject(ready_, static_cast<DWORD>(wait.count()));
  return !reader_->lost() && handOver(true) ? 1 : 0;
}

bool WaveInSoundInput::handOver(bool requeue) {
  bool any = false;
  while (headers_[next_].dwFlags & WHDR_DONE) {
    WAVEHDR& header = headers_[next_];
    next_ = (next_ + 1) % kBlocks;
    header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
    if (header.dwBytesRecorded > 0) {
      any = true;
      callback_->onBlock(reinterpret_cast<const std::uint8_t*>(header.lpData),
                         header.dwBytesRecorded);
    }
    if (!requeue) continue;
    const MMRESULT queued = waveInAddBuffer(wave_, &header, sizeof(WAVEHDR));
    if (queued != MMSYSERR_NOERROR) {
      reader_->lose(waveError(queued));
      return any;
    }
  }
  return any;
}

}  // namespace

std::unique_ptr<SoundInput> makeSystemSoundInput(const char* device, ThreadPriorities priorities) {
  return std::make_unique<WaveInSoundInput>(device, priorities);
}

// Each wave input by the number --device takes, its name as the description.
// Windows has no cards apart from its devices.
Result<SoundDevices> listSoundDevices() {
  SoundDevices found;
  const UINT count = waveInGetNumDevs();
  for (UINT i = 0; i < count; ++i) {
    WAVEINCAPSW caps{};
    if (waveInGetDevCapsW(i, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
    found.captureDevices.push_back({std::to_string(i), fromWide(caps.szPname)});
  }
  return found;
}

}  // namespace vorta
