#include "encode/FilesInUse.h"

#include <chrono>

#include "platform/Paths.h"

namespace vorta {
namespace {

// Whether `path` is `file` or one of the folders in its name.
bool holds(const std::string& path, const std::string& file) {
  if (path.empty() || file.compare(0, path.size(), path) != 0) return false;
  return file.size() == path.size() || isDirectorySeparator(file[path.size()]);
}

}  // namespace

void FilesInUse::use(const std::string& name) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    current_ = name;
    newFile_ = true;
  }
  changed_.notify_all();
}

bool FilesInUse::unlessInUse(const std::string& path, const std::function<bool()>& change) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return !holds(path, current_) && change();
}

bool FilesInUse::waitForNewFile(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return newFile_ || stop_; });
  const bool came = newFile_ && !stop_;
  newFile_ = false;
  return came;
}

void FilesInUse::stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
}

bool FilesInUse::stopping() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

}  // namespace vorta
