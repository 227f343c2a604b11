// Fakes for the capture and monitor tests: a sound input driven by the test,
// a clock, files, and a sink that keeps what the program prints.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Fakes.h"
#include "base/Messages.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/SoundInput.h"

namespace vorta {
namespace {

class FakeClock final : public Clock {
 public:
  LocalTime localTime() override { return time; }
  std::int64_t processCpuTime() override { return cpu; }
  std::int64_t systemTime() override { return wall; }
  LocalTime time{7, 1, 15};
  std::int64_t cpu = 0;
  std::int64_t wall = 0;
};

class FakeFiles final : public FileSystem {
 public:
  Result<std::unique_ptr<OutputFile>> open(const std::string&) override {
    return Error{13, "error"};
  }
  bool exists(const std::string& path) override {
    ++existsCalls;
    return existing.count(path) != 0;
  }
  void remove(const std::string& path) override {
    removed.push_back(path);
    if (!undeletable.count(path)) existing.erase(path);
  }

  std::set<std::string> existing;
  std::set<std::string> undeletable;  // directories
  std::vector<std::string> removed;
  int existsCalls = 0;
};

// A sound input that does what the test says, synchronously, and logs every
// call with the index of the buffer it concerns (in the order first seen).
class FakeSoundInput final : public SoundInput {
 public:
  int deviceCount() override {
    log.push_back("deviceCount");
    return devices;
  }
  int open(const SoundFormat& f, SoundCallback& cb, SoundTroubleListener* tl) override {
    log.push_back("open");
    if (openResult != 0) return openResult;
    format = f;
    callback = &cb;
    trouble = tl;
    cb.onSound(SoundMessage::Open, nullptr);
    return 0;
  }
  std::string errorText(int) override { return openText; }
  int prepare(CaptureBuffer& b) override {
    log.push_back("prepare" + index(b));
    b.prepared = true;
    return 0;
  }
  int add(CaptureBuffer& b) override {
    log.push_back("add" + index(b));
    if (++adds > 3 && addError != 0) return addError;
    b.done.store(false);
    queue.push_back(&b);
    return 0;
  }
  int start() override { return note("start"); }
  int stop() override { return note("stop"); }
  int reset() override {
    note("reset");
    while (!queue.empty()) deliver(0, 0);
    return 0;
  }
  int close() override {
    note("close");
    callback->onSound(SoundMessage::Close, nullptr);
    return 0;
  }
  int unprepare(CaptureBuffer& b) override {
    log.push_back("unprepare" + index(b));
    b.prepared = false;
    return 0;
  }

  // Hands the oldest queued buffer back with `bytes` bytes of `fill`.
  void deliver(std::uint32_t bytes, std::uint8_t fill) {
    CaptureBuffer* b = queue.front();
    queue.erase(queue.begin());
    std::memset(b->data, fill, bytes);
    b->bytesRecorded = bytes;
    b->done.store(true);
    callback->onSound(SoundMessage::Data, b);
  }

  int devices = 1;
  int openResult = 0;
  std::string openText;
  int addError = 0;  // returned by every add after the first three
  int adds = 0;
  SoundFormat format;
  SoundCallback* callback = nullptr;
  SoundTroubleListener* trouble = nullptr;
  std::vector<CaptureBuffer*> queue;
  std::vector<std::string> log;

 private:
  int note(const char* what) {
    log.push_back(what);
    return 0;
  }
  std::string index(const CaptureBuffer& b) {
    auto found = indexes.find(&b);
    if (found == indexes.end()) found = indexes.emplace(&b, static_cast<int>(indexes.size())).first;
    return std::to_string(found->second);
  }
  std::map<const CaptureBuffer*, int> indexes;
};

}  // namespace
}  // namespace vorta
