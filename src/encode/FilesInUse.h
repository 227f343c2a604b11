// The file the encoder writes, which retention must never delete, nor the
// folders it lies in; and the news of each new file, which retention waits
// for.
//
// Threads: the encoder thread names each file it goes on to (use) before it
// opens it, which makes its folders; the retention thread deletes only
// through unlessInUse, which holds the lock across the check and the
// deletion, so a file or folder is never taken away between the two. The
// lock is held for one file-system call at a time: the encoder waits at most
// for one deletion, and only when it starts a file.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace vorta {

class FilesInUse {
 public:
  // Encoder thread: the file written from now on.
  void use(const std::string& name);
  // Retention thread: runs `change` under the lock unless `path` is the file
  // in use or a folder it lies in; false when it did not run or failed.
  bool unlessInUse(const std::string& path, const std::function<bool()>& change);
  // Retention thread: waits for a new file, stop() or `ms`; returns whether a
  // new file came (and takes the news).
  bool waitForNewFile(int ms);
  // Ends every wait at once, for good.
  void stop();
  bool stopping();

 private:
  std::mutex mutex_;  // guards every field below
  std::condition_variable changed_;
  std::string current_;
  bool newFile_ = false;
  bool stop_ = false;
};

}  // namespace vorta
