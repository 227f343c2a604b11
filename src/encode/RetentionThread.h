// The thread vorta-retention, which applies --keep-days and --keep-free off
// the recording's path.
#pragma once

#include <thread>

#include "base/Reporter.h"
#include "base/Settings.h"
#include "encode/FilesInUse.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Threads.h"

namespace vorta {

// Whether the settings ask for any retention rule.
bool wantsRetention(const Settings& settings);

// Starts the thread; the destructor stops it (a walk ends at its next entry)
// and joins. Created and destroyed by the main thread. The thread runs at
// the normal level of `priorities`.
class RetentionThread {
 public:
  RetentionThread(FileSystem& files, const Settings& settings, Clock& clock, FilesInUse& inUse,
                  const Reporter& reporter, ThreadPriorities priorities);
  ~RetentionThread();
  RetentionThread(const RetentionThread&) = delete;
  RetentionThread& operator=(const RetentionThread&) = delete;

 private:
  FilesInUse& inUse_;
  std::thread thread_;
};

}  // namespace vorta
