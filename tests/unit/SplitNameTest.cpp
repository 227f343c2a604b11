// Hourly file names: the three cycles, and the day names that never change
// with the language.
#include <gtest/gtest.h>


#include "base/Messages.h"
#include "base/SplitName.h"

namespace vorta {
namespace {

TEST(SplitName, ThreePatternsWithTwoDigitNumbers) {
  const LocalTime mondayFifteenth{7, 1, 15};
  EXPECT_EQ(makeSplitName(SplitMode::Daily, mondayFifteenth), "07.mp3");
  EXPECT_EQ(makeSplitName(SplitMode::Weekly, mondayFifteenth), "mo - 07.mp3");
  EXPECT_EQ(makeSplitName(SplitMode::Monthly, mondayFifteenth), "15 - 07.mp3");
  EXPECT_EQ(makeSplitName(SplitMode::None, mondayFifteenth), "");

  const LocalTime sundayFirstMidnight{0, 0, 1};
  EXPECT_EQ(makeSplitName(SplitMode::Daily, sundayFirstMidnight), "00.mp3");
  EXPECT_EQ(makeSplitName(SplitMode::Weekly, sundayFirstMidnight), "su - 00.mp3");
  EXPECT_EQ(makeSplitName(SplitMode::Monthly, sundayFirstMidnight), "01 - 00.mp3");

  // The longest names have 11 characters.
  const LocalTime saturdayLast{23, 6, 31};
  EXPECT_EQ(makeSplitName(SplitMode::Weekly, saturdayLast), "sa - 23.mp3");
  EXPECT_EQ(makeSplitName(SplitMode::Monthly, saturdayLast), "31 - 23.mp3");
  EXPECT_EQ(makeSplitName(SplitMode::Monthly, saturdayLast).size(), 11u);
}

TEST(SplitName, DayNamesAreTheSameInRussian) {
  selectLanguage(Language::Russian);
  const char* expected[7] = {"su", "mo", "tu", "we", "th", "fr", "sa"};
  for (int day = 0; day < 7; ++day) {
    EXPECT_STREQ(dayNames[day], expected[day]);
    EXPECT_EQ(makeSplitName(SplitMode::Weekly, LocalTime{9, day, 1}), std::string(expected[day]) + " - 09.mp3");
  }
  selectLanguage(Language::English);
}

}  // namespace
}  // namespace vorta
