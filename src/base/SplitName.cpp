#include "base/SplitName.h"

#include <fmt/format.h>

#include "base/NamePattern.h"
#include "platform/Paths.h"

namespace vorta {

const char* const dayNames[7] = {"su", "mo", "tu", "we", "th", "fr", "sa"};

std::string makeSplitName(SplitMode mode, const LocalTime& time) {
  switch (mode) {
    case SplitMode::Daily:
      return fmt::format("{:02}.mp3", time.hour);
    case SplitMode::Weekly: {
      // The day name always has two letters, so no field width is needed.
      const int day = ((time.dayOfWeek % 7) + 7) % 7;
      return fmt::format("{} - {:02}.mp3", dayNames[day], time.hour);
    }
    case SplitMode::Monthly:
      return fmt::format("{:02} - {:02}.mp3", time.dayOfMonth, time.hour);
    case SplitMode::None:
      break;
  }
  return std::string();
}

std::string splitFileName(const Settings& settings, const LocalTime& time) {
  const std::string name = settings.namePattern.empty()
                               ? makeSplitName(settings.splitMode, time)
                               : formatNamePattern(settings.namePattern, time);
  return inFolder(settings.outputDir, name);
}

std::string inFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return isDirectorySeparator(folder.back()) ? folder + name : folder + "/" + name;
}

}  // namespace vorta
