#include "encode/OldFiles.h"

#include <vector>

#include "base/NamePattern.h"
#include "base/SplitName.h"

namespace vorta {
namespace {

class OldFileSweep {
 public:
  OldFileSweep(FileSystem& files, const Settings& settings, WallSeconds now,
               const std::string& currentFile, const Reporter& reporter)
      : files_(files), s_(settings), now_(now), current_(currentFile), reporter_(reporter),
        parts_(namePatternParts(settings.namePattern)) {}

  // Walks one folder level: `folder` is empty for the top when no --dir.
  void walk(const std::string& folder, std::size_t level) {
    Result<std::vector<FileSystem::Entry>> listed = files_.listFolder(folder.empty() ? "." : folder);
    if (!listed.ok()) return;
    const bool last = level + 1 == parts_.size();
    for (const FileSystem::Entry& entry : listed.value()) {
      if (!matchesNamePattern(parts_[level], entry.name)) continue;
      const std::string path = inFolder(folder, entry.name);
      if (!last) {
        if (entry.kind == FileSystem::EntryKind::Folder) walk(path, level + 1);
      } else if (entry.kind == FileSystem::EntryKind::RegularFile && path != current_ &&
                 isOlderThanDays(entry.modified, now_, s_.keepDays) &&
                 files_.deleteFile(path).ok()) {
        reporter_.post(event::OldFileDeleted{path, s_.keepDays});
      }
    }
  }

 private:
  FileSystem& files_;
  const Settings& s_;
  WallSeconds now_;
  const std::string& current_;
  const Reporter& reporter_;
  std::vector<std::string> parts_;
};

}  // namespace

bool isOlderThanDays(WallSeconds modified, WallSeconds now, int days) {
  return now - modified > std::chrono::days(days);
}

void deleteOldFiles(FileSystem& files, const Settings& settings, WallSeconds now,
                    const std::string& currentFile, const Reporter& reporter) {
  if (settings.keepDays <= 0 || settings.namePattern.empty()) return;
  OldFileSweep(files, settings, now, currentFile, reporter).walk(settings.outputDir, 0);
}

}  // namespace vorta
