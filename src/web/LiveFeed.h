// The recorders seen live: each archive's recorder status (its --status
// file), free disk space and the age of its newest file, read twice a
// second, with the alarms they raise, pushed to every open page as
// Server-Sent Events.
//
// Thread: "vorta-web-live" reads the files and publishes a snapshot; it
// waits on its condition variable between rounds and ends on stop(). The
// snapshot and its version are guarded by `lock_`; event streams (one per
// connection thread) wait on `changed_` for a newer version.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "web/Archive.h"
#include "web/Http.h"

namespace vorta::web {

struct LiveArchive {
  std::string name;
  nlohmann::json status;            // the recorder's document, null without one
  double statusAge = -1;            // seconds since it was written, -1: none
  double newestFileAge = -1;        // seconds since the newest file changed, -1: none
  std::int64_t freeBytes = -1;      // on the archive's disk, -1: unknown
  std::vector<std::string> alarms;  // "stopped", "dead-air", "input-lost"
};

// The alarms of one recorder's status; pure.
std::vector<std::string> alarmsOf(const nlohmann::json& status, double statusAge);

class LiveFeed {
 public:
  LiveFeed(const std::vector<Archive>& archives, Clock& clock);
  ~LiveFeed();
  void start();
  void stop();

  std::vector<LiveArchive> latest() const;
  std::string snapshot() const;  // the latest as JSON
  // An event stream that sends every new snapshot, and a comment line when
  // nothing changed for 15 s (so proxies keep it open).
  Response eventStream();

 private:
  void run();
  LiveArchive read(const Archive& archive) const;

  const std::vector<Archive>& archives_;
  Clock& clock_;
  std::thread thread_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<LiveArchive> latest_;  // lock_
  std::string snapshot_;             // lock_
  std::uint64_t version_ = 0;        // lock_
  bool stopping_ = false;            // lock_
};

}  // namespace vorta::web
