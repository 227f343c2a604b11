// Names of the hourly files in split mode.
//
// Pure: any thread. Each cycle (a day, a week, a month) reuses its names, so
// a file of the last cycle is replaced by the file of the same hour now.
#pragma once

#include <string>

#include "base/Settings.h"
#include "platform/Clock.h"

namespace vorta {

// Two-letter day names, Sunday first, the same in every language.
extern const char* const dayNames[7];

// The file name for a local time: "HH.mp3" (daily), "dd - HH.mp3" (weekly,
// dd a day name) or "DD - HH.mp3" (monthly). Empty for SplitMode::None.
std::string makeSplitName(SplitMode mode, const LocalTime& time);

// The path of a split file: the --name pattern's name when there is one, the
// split mode's otherwise, in the --dir folder when there is one.
std::string splitFileName(const Settings& settings, const LocalTime& time);

// `name` in `folder`; an empty folder is the current one.
std::string inFolder(const std::string& folder, const std::string& name);

}  // namespace vorta
