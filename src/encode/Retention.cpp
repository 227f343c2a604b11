#include "encode/Retention.h"

#include <algorithm>
#include <set>

#include "base/NamePattern.h"
#include "base/SplitName.h"
#include "platform/Paths.h"

namespace vorta {
namespace {

// Files kept beside a recording and named after it.
constexpr const char* kSidecarSuffixes[] = {".times"};

}  // namespace

bool isOlderThanDays(WallSeconds modified, WallSeconds now, int days) {
  return now - modified > std::chrono::days(days);
}

std::uint64_t keepFreeMark(const Settings& settings, std::uint64_t total) {
  if (settings.keepFreePercent != 0) return total / 100 * settings.keepFreePercent;
  return settings.keepFreeBytes;
}

Retention::Retention(FileSystem& files, const Settings& settings, FilesInUse& inUse,
                     const Reporter& reporter)
    : files_(files), s_(settings), inUse_(inUse), reporter_(reporter),
      parts_(namePatternParts(settings.namePattern)) {}

void Retention::deleteOld(WallSeconds now) {
  if (s_.keepDays <= 0 || s_.namePattern.empty()) return;
  for (const PatternFile& file : patternFiles()) {
    if (inUse_.stopping()) return;
    if (isOlderThanDays(file.modified, now, s_.keepDays) && remove(file))
      reporter_.post(event::OldFileDeleted{file.path, s_.keepDays});
  }
}

void Retention::keepFree() {
  if ((s_.keepFreeBytes == 0 && s_.keepFreePercent == 0) || s_.namePattern.empty()) return;
  if (!belowMark()) {
    warned_ = false;
    return;
  }
  std::vector<PatternFile> files = patternFiles();
  std::sort(files.begin(), files.end(), [](const PatternFile& a, const PatternFile& b) {
    return a.modified != b.modified ? a.modified < b.modified : a.path < b.path;
  });
  for (const PatternFile& file : files) {
    if (inUse_.stopping()) return;
    if (!remove(file)) continue;
    reporter_.post(event::FreeSpaceFileDeleted{file.path, s_.keepFreeText});
    if (!belowMark()) return;
  }
  if (warned_ || inUse_.stopping()) return;
  warned_ = true;
  reporter_.post(event::NothingLeftToDelete{s_.keepFreeText});
}

// A file system that cannot be asked is taken as having room: nothing is
// deleted on a guess.
bool Retention::belowMark() {
  const Result<FileSystem::Space> space = files_.space(s_.outputDir.empty() ? "." : s_.outputDir);
  return space.ok() && space.value().available < keepFreeMark(s_, space.value().total);
}

std::vector<Retention::PatternFile> Retention::patternFiles() {
  std::vector<PatternFile> found;
  walk(s_.outputDir, 0, found);
  return found;
}

// Walks one folder level: `folder` is empty for the top when no --dir.
void Retention::walk(const std::string& folder, std::size_t level,
                     std::vector<PatternFile>& found) {
  Result<std::vector<FileSystem::Entry>> listed = files_.listFolder(folder.empty() ? "." : folder);
  if (!listed.ok()) return;
  const bool last = level + 1 == parts_.size();
  std::set<std::string> regular;  // the level's regular files, for the sidecars
  for (const FileSystem::Entry& entry : listed.value())
    if (last && entry.kind == FileSystem::EntryKind::RegularFile) regular.insert(entry.name);
  for (const FileSystem::Entry& entry : listed.value()) {
    if (inUse_.stopping()) return;
    if (!matchesNamePattern(parts_[level], entry.name)) continue;
    const std::string path = inFolder(folder, entry.name);
    if (!last) {
      if (entry.kind == FileSystem::EntryKind::Folder) walk(path, level + 1, found);
      continue;
    }
    if (entry.kind != FileSystem::EntryKind::RegularFile) continue;
    PatternFile file{path, entry.modified, {}};
    for (const char* suffix : kSidecarSuffixes)
      if (regular.count(entry.name + suffix) != 0) file.sidecars.push_back(path + suffix);
    found.push_back(std::move(file));
  }
}

// Deletes the file (never the one in use), its sidecars, then each of its
// folders below the top that it leaves empty, deepest first.
bool Retention::remove(const PatternFile& file) {
  if (!inUse_.unlessInUse(file.path, [&] { return files_.deleteFile(file.path).ok(); }))
    return false;
  for (const std::string& sidecar : file.sidecars)
    static_cast<void>(files_.deleteFile(sidecar));
  std::string folder = file.path;
  for (std::size_t level = parts_.size() - 1; level > 0; --level) {
    std::size_t end = folder.size();
    while (end > 0 && !isDirectorySeparator(folder[end - 1])) --end;
    folder.erase(end > 0 ? end - 1 : 0);
    if (!inUse_.unlessInUse(folder, [&] { return files_.removeEmptyFolder(folder).ok(); }))
      break;
  }
  return true;
}

}  // namespace vorta
