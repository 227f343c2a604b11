// Names from a --name pattern and back, the UTC calendar, and which files retention deletes.
#include <gtest/gtest.h>
#include <algorithm>
#include <map>

#include "Fakes.h"
#include "base/NamePattern.h"
#include "base/UtcClock.h"
#include "encode/Retention.h"

namespace vorta {
namespace {

TEST(NamePattern, NamesReadBackOnlyInTheirOwnShape) {
  const LocalTime sunday{9, 0, 7, 2026, 12, 5, 3};
  EXPECT_EQ(formatNamePattern("%F/%H-%M-%S.mp3", sunday), "2026-12-07/09-05-03.mp3");
  EXPECT_EQ(formatNamePattern("%y %u %w %%F", sunday), "26 7 0 %F");
  for (auto [offset, name] : {std::pair{60, "+0100"}, {-570, "-0930"}, {0, "+0000"}, {345, "+0545"}})
    EXPECT_EQ(formatNamePattern("%z", LocalTime{.utcOffsetMinutes = offset}), name);
  const struct { const char* pattern; const char* name; bool match; } rows[] = {
      {"%F/%H.mp3", "2026-12-07/10.mp3", true}, {"%Y%%%m", "2026%12", true}, {"%u-%w", "7-0", true},
      {"%F/%H.mp3", "2026-12-07/7.mp3", false}, {"%F/%H.mp3", "2026-13-07/10.mp3", false}, {"%d", "00", false},
      {"%H.mp3", "24.mp3", false}, {"%H.mp3", "23.mp3x", false}, {"%H.mp3", "2x.mp3", false}, {"%u-%w", "0-0", false},
      {"%H%z", "02+0100", true}, {"%H%z", "02-1200", true}, {"%H%z", "02 0100", false}, {"%H%z", "02+0160", false},
      {"%H%z", "02+2400", false}, {"%H%z", "02+100", false}};
  for (const auto& r : rows) EXPECT_EQ(matchesNamePattern(r.pattern, r.name), r.match) << r.name;
  for (const char* bad : {"", "/r/%H", "a//%H", "../%H", "%Q.mp3", "x%", "./%H"})
    EXPECT_NE(isValidNamePattern(bad), isValidNamePattern("%F/%H.mp3")) << bad;
}

TEST(NamePattern, UtcCalendarOfAMoment) {
  const struct { std::int64_t epoch; LocalTime t; } rows[] = {
      {0, {0, 4, 1, 1970, 1}}, {-1, {23, 3, 31, 1969, 12, 59, 59}}, {951782400, {0, 2, 29, 2000, 2}},
      {1792889998, {0, 0, 25, 2026, 10, 59, 58}}, {4107542400, {0, 1, 1, 2100, 3}}};
  for (const auto& r : rows) {
    const LocalTime t = utcTime(WallSeconds(std::chrono::seconds(r.epoch)));
    EXPECT_EQ(std::vector({t.year, t.month, t.dayOfMonth, t.dayOfWeek, t.hour, t.minute, t.second, t.utcOffsetMinutes}),
              std::vector({r.t.year, r.t.month, r.t.dayOfMonth, r.t.dayOfWeek, r.t.hour, r.t.minute, r.t.second, 0}))
        << r.epoch;
  }
}

// Folders as listed; a deletion takes the entry away; free space grows by 100 with each .mp3 deleted.
struct FolderTree : FileSystem {
  std::map<std::string, std::vector<Entry>> folders;
  std::vector<std::string> deleted, removedFolders;
  Result<std::unique_ptr<OutputFile>> open(const std::string&) override { return Error{}; }
  bool exists(const std::string&) override { return false; }
  void remove(const std::string&) override {}
  Result<std::vector<Entry>> listFolder(const std::string& f) override { return folders[f]; }
  Status deleteFile(const std::string& path) override {
    auto& in = folders[path.substr(0, path.rfind('/'))];
    std::erase_if(in, [&](const Entry& e) { return path.ends_with("/" + e.name); });
    return deleted.push_back(path), Status{};
  }
  Status removeEmptyFolder(const std::string& path) override { return removedFolders.push_back(path), Status{}; }
  Result<Space> space(const std::string& f) override {
    return f == "rec" ? Result<Space>(Space{100 + 100 * std::uint64_t(std::count_if(deleted.begin(), deleted.end(),
        [](const std::string& d) { return d.ends_with(".mp3"); })), 1000}) : Error{};
  }
};

// Only regular files of the pattern, never the one being written; their sidecars and the folders
// they leave empty go with them. --keep-days by age, --keep-free oldest first until the mark is met
// (warning once when nothing is left).
TEST(Retention, DeletesOnlyThePatternsFilesByAgeOrOldestFirst) {
  using K = FileSystem::EntryKind;
  using std::chrono::days, std::chrono::seconds;
  const WallSeconds now{days(100)}, old = now - days(3) - seconds(1), fresh = now - days(3);
  const std::string d1 = "rec/2026-01-01/", d3 = "rec/2026-01-03/06.mp3";
  const std::string nothingLeft = "\r\n* Warning: free space is below 2K and no old file is left to delete; recording on.\r\n";
  const auto gone = [](const std::string& f, const std::string& why) { return "\r\n* Deleted " + f + " (" + why + ").\r\n"; };
  const struct { int days; std::uint64_t freeBytes; std::vector<std::string> deleted; std::string err; } rows[] = {
      {3, 0, {d1 + "01.mp3", d1 + "01.mp3.times", d3}, gone(d1 + "01.mp3", "older than 3 days") + gone(d3, "older than 3 days")},
      {0, 250, {d3, d1 + "01.mp3", d1 + "01.mp3.times"}, gone(d3, "free space below 2K") + gone(d1 + "01.mp3", "free space below 2K")},
      {0, 2048, {d3, d1 + "01.mp3", d1 + "01.mp3.times", d1 + "02.mp3"},
       gone(d3, "free space below 2K") + gone(d1 + "01.mp3", "free space below 2K") + gone(d1 + "02.mp3", "free space below 2K") + nothingLeft}};
  for (const auto& r : rows) {
    FolderTree tree;
    tree.folders["rec"] = {{"2026-01-01", K::Folder, old}, {"2026-01-02", K::Other, old}, {"notes", K::Folder, old},
                           {"01.mp3", K::RegularFile, old}, {"2026-01-03", K::Folder, old}};
    tree.folders["rec/2026-01-01"] = {{"01.mp3", K::RegularFile, old}, {"02.mp3", K::RegularFile, fresh},
                                      {"03.mp3", K::Other, old}, {"1.mp3", K::RegularFile, old}, {"04.mp3", K::Folder, old},
                                      {"05.mp3", K::RegularFile, old}, {"01.mp3.times", K::RegularFile, fresh},
                                      {"02.mp3.times", K::Other, fresh}};
    tree.folders["rec/2026-01-02"] = tree.folders["rec/notes"] = tree.folders["rec/2026-01-01"];
    tree.folders["rec/2026-01-03"] = {{"06.mp3", K::RegularFile, old - seconds(9)}};
    Settings s;
    s.outputDir = "rec", s.namePattern = "%F/%H.mp3", s.keepDays = r.days, s.keepFreeBytes = r.freeBytes, s.keepFreeText = "2K";
    FilesInUse inUse;
    inUse.use(d1 + "05.mp3");
    KeptReport report;
    Retention retention(tree, s, inUse, report.reporter);
    retention.deleteOld(now);
    retention.keepFree();
    retention.keepFree();  // warns no more
    EXPECT_EQ(tree.deleted, r.deleted) << r.days;
    EXPECT_EQ(tree.removedFolders, std::vector<std::string>{"rec/2026-01-03"}) << "never the folder in use";
    EXPECT_EQ(report.text.err, r.err);
  }
}

}  // namespace
}  // namespace vorta
