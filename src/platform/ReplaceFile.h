// Replacing a small file whole (the status file), so that a reader never sees
// it half written or empty: the bytes go to NAME.tmp beside it, are synced
// to the disk, and the temporary file is renamed over NAME in one step
// (rename on Linux, MoveFileEx on Windows). A failure leaves NAME as it was
// and removes the temporary file.
//
// Contract: any thread; one writer per path at a time. Nothing stays open.
#pragma once

#include <string>
#include <string_view>

#include "platform/Result.h"

namespace vorta {

Status replaceFileWhole(const std::string& path, std::string_view bytes);

}  // namespace vorta
