// Sound input over the wave-input service (waveIn) of Windows: the device
// chosen by number or by the start of its name (given, or in AUDIODEV), else
// the system's preferred one (WAVE_MAPPER).
//
// The reading thread ("vorta-input") waits on the event that the service
// sets whenever it hands a buffer back, passes every filled buffer to the
// callback in the order they were queued and queues it again. Three buffers
// of one block each circulate; they are owned here from open to close. It
// ends when close() orders it to.
//
// Threads and what they touch:
// - The caller's thread calls every method; it calls waveIn (open, start,
//   stop, reset, close) while the reading thread waits for an order or for
//   the event, which waveIn allows from any thread.
// - Guarded by mutex_: order_.
// - Reading thread only: next_, fresh_, lost_, the silence watch. It calls the
//   callback without the mutex.
// - Set by open() before the reading thread starts, cleared by close() after
//   it has ended: wave_, ready_, blocks_ and headers_, callback_.
#include <windows.h>
#include <mmsystem.h>

#include <array>
#include <condition_variable>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/SoundInput.h"
#include "platform/SoundInputTiming.h"
#include "platform/Threads.h"
#include "platform/Wide_win32.h"

namespace vorta {
namespace {

constexpr int kBlocks = 3;
constexpr DWORD kWaitMs = 100;

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

// The caller's choice, else the environment's AUDIODEV (the convention sox
// follows on Windows too), else none.
std::string askedDevice(const char* device) {
  if (device && *device) return device;
  const char* fromEnvironment = std::getenv("AUDIODEV");
  return fromEnvironment ? fromEnvironment : "";
}

class WaveInSoundInput final : public SoundInput {
 public:
  explicit WaveInSoundInput(const char* device) : device_(askedDevice(device)) {}
  ~WaveInSoundInput() override { close(); }

  bool devicePresent() override { return waveInGetNumDevs() > 0; }
  Status open(const SoundFormat& format, SoundCallback& callback) override;
  Status start() override;
  void stop() override;
  void close() override;

 private:
  enum class Order { Park, Run, Stop, Quit };

  void readerMain();
  // Hands every buffer the service has handed back to the callback, in
  // order; queues each again unless the stream is stopping.
  bool handOver(bool requeue);
  void lose(const Error& why);

  const std::string device_;  // as asked for; empty: the preferred device
  HWAVEIN wave_ = nullptr;
  HANDLE ready_ = nullptr;  // set by the service for every buffer it hands back
  std::array<std::vector<std::uint8_t>, kBlocks> blocks_;
  std::array<WAVEHDR, kBlocks> headers_{};
  SoundCallback* callback_ = nullptr;
  std::thread reader_;

  std::mutex mutex_;
  std::condition_variable changed_;
  Order order_ = Order::Park;

  int next_ = 0;       // the buffer the service hands back next
  bool fresh_ = true;  // no wait since the start: the silence count begins
  bool lost_ = false;
  SilentInputWatch silent_{kSilentInputLimitMs};
};

Status WaveInSoundInput::open(const SoundFormat& format, SoundCallback& callback) {
  if (wave_) return waveError(MMSYSERR_ALLOCATED);
  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = static_cast<WORD>(format.channels);
  wave.nSamplesPerSec = static_cast<DWORD>(format.samplesPerSecond);
  wave.nAvgBytesPerSec = static_cast<DWORD>(format.bytesPerSecond());
  wave.nBlockAlign = static_cast<WORD>(format.bytesPerFrame());
  wave.wBitsPerSample = 16;
  ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  const Result<UINT> device = chooseDevice(device_);
  if (!device.ok()) return device.error();
  const MMRESULT opened = waveInOpen(&wave_, device.value(), &wave,
                                     reinterpret_cast<DWORD_PTR>(ready_), 0, CALLBACK_EVENT);
  if (opened != MMSYSERR_NOERROR) {
    wave_ = nullptr;
    CloseHandle(ready_);
    ready_ = nullptr;
    return waveError(opened);
  }
  callback_ = &callback;
  for (int i = 0; i < kBlocks; ++i) {
    blocks_[i].assign(format.blockBytes(), 0);
    headers_[i] = WAVEHDR{};
    headers_[i].lpData = reinterpret_cast<LPSTR>(blocks_[i].data());
    headers_[i].dwBufferLength = static_cast<DWORD>(blocks_[i].size());
    MMRESULT queued = waveInPrepareHeader(wave_, &headers_[i], sizeof(WAVEHDR));
    if (queued == MMSYSERR_NOERROR) queued = waveInAddBuffer(wave_, &headers_[i], sizeof(WAVEHDR));
    if (queued != MMSYSERR_NOERROR) {
      close();
      return waveError(queued);
    }
  }
  next_ = 0;
  reader_ = std::thread(&WaveInSoundInput::readerMain, this);
  return {};
}

Status WaveInSoundInput::start() {
  if (!wave_) return waveError(MMSYSERR_INVALHANDLE);
  const MMRESULT started = waveInStart(wave_);
  if (started != MMSYSERR_NOERROR) return waveError(started);
  std::lock_guard<std::mutex> lock(mutex_);
  order_ = Order::Run;
  changed_.notify_all();
  return {};
}

void WaveInSoundInput::stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (order_ != Order::Run) return;
  // The service hands the buffer in progress back with what it holds.
  waveInStop(wave_);
  order_ = Order::Stop;
  SetEvent(ready_);
  changed_.notify_all();
  changed_.wait(lock, [this] { return order_ == Order::Park; });
}

void WaveInSoundInput::close() {
  if (!wave_) return;
  stop();
  if (reader_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      order_ = Order::Quit;
      changed_.notify_all();
    }
    SetEvent(ready_);
    reader_.join();
  }
  waveInReset(wave_);  // every queued buffer comes back, unused
  for (WAVEHDR& header : headers_)
    if (header.dwFlags & WHDR_PREPARED) waveInUnprepareHeader(wave_, &header, sizeof(WAVEHDR));
  waveInClose(wave_);
  wave_ = nullptr;
  CloseHandle(ready_);
  ready_ = nullptr;
  callback_ = nullptr;
}

void WaveInSoundInput::readerMain() {
  nameCurrentThread("vorta-input");
  setCurrentThreadPriority(PriorityLevel::Normal);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return order_ != Order::Park; });
    if (order_ == Order::Quit) return;
    if (order_ == Order::Stop) {
      lock.unlock();
      handOver(false);
      lock.lock();
      order_ = Order::Park;
      fresh_ = true;
      changed_.notify_all();
      continue;
    }
    lock.unlock();
    if (std::exchange(fresh_, false)) silent_.restart(static_cast<std::int64_t>(GetTickCount64()));
    WaitForSingleObject(ready_, kWaitMs);
    const bool gotSound = !lost_ && handOver(true);
    if (!lost_ && silent_.silentTooLong(static_cast<std::int64_t>(GetTickCount64()), gotSound ? 1 : 0))
      lose(waveError(MMSYSERR_ERROR));
    lock.lock();
  }
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
      lose(waveError(queued));
      return any;
    }
  }
  return any;
}

void WaveInSoundInput::lose(const Error& why) {
  if (lost_) return;
  lost_ = true;
  callback_->onInputLost(why);
}

}  // namespace

std::unique_ptr<SoundInput> makeSystemSoundInput(const char* device) {
  return std::make_unique<WaveInSoundInput>(device);
}

// No name: the system's preferred device.
std::string soundDeviceName(const char* device) {
  const std::string asked = askedDevice(device);
  return asked.empty() ? "default" : asked;
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
