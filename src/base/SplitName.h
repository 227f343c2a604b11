// Names of the hourly files in split mode.
#pragma once

#include <string>

#include "platform/Clock.h"

namespace vorta {

// Two-letter day names, Sunday first, the same in every language.
extern const char* const dayNames[7];

// The file name for a local time: "HH.mp3" (1, daily), "dd - HH.mp3" (2,
// weekly, dd a day name) or "DD - HH.mp3" (3, monthly). Empty for mode 0.
std::string makeSplitName(int splitMode, const LocalTime& time);

}  // namespace vorta
