// Deleting the files a --name pattern produced that are older than
// --keep-days.
//
// Encoder thread, at the start and after each new file; never the capture
// thread, which a long folder walk must not hold up. Only what the pattern
// can have produced is touched: each folder level and the file name must read
// back through the pattern's part for that level, and only regular files go
// (a link, a folder or a name of any other shape is left alone), never the
// file being written. Each deletion is logged, one line each.
#pragma once

#include <cstdint>
#include <string>

#include "base/Reporter.h"
#include "base/Settings.h"
#include "platform/Files.h"

namespace vorta {

// Whether a file last modified at `modified` is older than `days` days at `now`.
bool isOlderThanDays(WallSeconds modified, WallSeconds now, int days);

// Deletes the pattern's old files under settings.outputDir (or the current
// folder); does nothing unless both --name and --keep-days were given. A
// folder that cannot be read is passed over.
// Each file deleted is posted to `reporter` (OldFileDeleted).
void deleteOldFiles(FileSystem& files, const Settings& settings, WallSeconds now,
                    const std::string& currentFile, const Reporter& reporter);

}  // namespace vorta
