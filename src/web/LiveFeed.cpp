// The live thread ("vorta-web-live"): every half second it reads each
// archive's status file, free space and newest file, and publishes the
// result when it changed. It owns nothing but its reading; it waits on
// `changed_` with a time-out, and ends when stop() sets `stopping_`.
#include "web/LiveFeed.h"

#include <chrono>
#include <memory>

#include "base/NamePattern.h"
#include "platform/Threads.h"
#include "web/LiveStatus.h"
#include "web/SafeFiles.h"

namespace vorta::web {
namespace {

using nlohmann::json;
constexpr auto kRound = std::chrono::milliseconds(500);
constexpr auto kKeepAlive = std::chrono::seconds(15);

json toJson(const LiveArchive& a) {
  return {{"name", a.name}, {"status", a.status}, {"statusAge", a.statusAge}, {"newestFileAge", a.newestFileAge},
          {"freeBytes", a.freeBytes}, {"alarms", a.alarms}};
}

}  // namespace

LiveFeed::LiveFeed(const std::vector<Archive>& archives, Clock& clock) : archives_(archives), clock_(clock) {}

LiveFeed::~LiveFeed() { stop(); }

void LiveFeed::start() { thread_ = std::thread([this] { run(); }); }

void LiveFeed::stop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

LiveArchive LiveFeed::read(const Archive& archive) const {
  LiveArchive live;
  live.name = archive.name();
  const double now = double(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch()).count()) / 1000.0;
  if (const auto free = freeBytes(archive.config().folder)) live.freeBytes = std::int64_t(*free);
  const WallSeconds nowSeconds = clock_.wallNow();
  for (std::int64_t back : {0, 3600, 60}) {  // the current file and the one before
    const auto file = archive.open(formatNamePattern(archive.config().pattern, clock_.localTime(nowSeconds - std::chrono::seconds(back))));
    if (!file) continue;
    const double age = now - double(file->version().modifiedNs) / 1e9;
    if (live.newestFileAge < 0 || age < live.newestFileAge) live.newestFileAge = age;
  }
  if (!archive.config().statusFile.empty()) {
    const StatusRead s = readStatusFile(archive.config().statusFile, now);
    live.status = s.document;
    live.statusAge = s.age;
    live.alarms = alarmsOf(s.document, s.age);
  }
  return live;
}

void LiveFeed::run() {
  nameCurrentThread("vorta-web-live");
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopping_) {
    hold.unlock();
    std::vector<LiveArchive> now;
    json all = json::array();
    for (const Archive& a : archives_) {
      now.push_back(read(a));
      all.push_back(toJson(now.back()));
    }
    std::string text = json{{"archives", all}}.dump();
    hold.lock();
    latest_ = std::move(now);
    if (text != snapshot_) {
      snapshot_ = std::move(text);
      ++version_;
      changed_.notify_all();
    }
    changed_.wait_for(hold, kRound, [this] { return stopping_; });
  }
}

std::vector<LiveArchive> LiveFeed::latest() const {
  std::lock_guard<std::mutex> hold(lock_);
  return latest_;
}

std::string LiveFeed::snapshot() const {
  std::lock_guard<std::mutex> hold(lock_);
  return snapshot_;
}

Response LiveFeed::eventStream() {
  struct Cursor {
    std::uint64_t seen = 0;
    std::string pending;
    std::size_t sent = 0;
  };
  auto cursor = std::make_shared<Cursor>();
  Response r;
  r.lengthUnknown = true;
  r.with("Content-Type", "text/event-stream").with("Cache-Control", "no-cache").with("X-Accel-Buffering", "no");
  r.reader = [this, cursor](std::uint64_t, char* buffer, std::size_t room) -> long {
    if (cursor->sent == cursor->pending.size()) {
      std::unique_lock<std::mutex> hold(lock_);
      const bool changed = changed_.wait_for(hold, kKeepAlive, [&] { return stopping_ || version_ != cursor->seen; });
      if (stopping_) return -1;
      cursor->pending = changed ? "data: " + snapshot_ + "\n\n" : std::string(": still here\n\n");
      cursor->seen = version_;
      cursor->sent = 0;
    }
    const std::size_t n = std::min(room, cursor->pending.size() - cursor->sent);
    cursor->pending.copy(buffer, n, cursor->sent);
    cursor->sent += n;
    return long(n);
  };
  return r;
}

}  // namespace vorta::web
