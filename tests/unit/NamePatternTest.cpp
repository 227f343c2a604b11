// Names from a --name pattern and back; which files --keep-days deletes.
#include <gtest/gtest.h>
#include <map>

#include "Fakes.h"
#include "base/NamePattern.h"
#include "encode/OldFiles.h"

namespace vorta {
namespace {

TEST(NamePattern, NamesReadBackOnlyInTheirOwnShape) {
  const LocalTime sunday{9, 0, 7, 2026, 12, 5, 3};
  EXPECT_EQ(formatNamePattern("%F/%H-%M-%S.mp3", sunday), "2026-12-07/09-05-03.mp3");
  EXPECT_EQ(formatNamePattern("%y %u %w %%F", sunday), "26 7 0 %F");
  const struct { const char* pattern; const char* name; bool match; } rows[] = {
      {"%F/%H.mp3", "2026-12-07/10.mp3", true}, {"%Y%%%m", "2026%12", true}, {"%u-%w", "7-0", true},
      {"%F/%H.mp3", "2026-12-07/7.mp3", false}, {"%F/%H.mp3", "2026-13-07/10.mp3", false}, {"%d", "00", false},
      {"%H.mp3", "24.mp3", false}, {"%H.mp3", "23.mp3x", false}, {"%H.mp3", "2x.mp3", false}, {"%u-%w", "0-0", false}};
  for (const auto& r : rows) EXPECT_EQ(matchesNamePattern(r.pattern, r.name), r.match) << r.name;
  for (const char* bad : {"", "/r/%H", "a//%H", "../%H", "%Q.mp3", "x%", "./%H"})
    EXPECT_NE(isValidNamePattern(bad), isValidNamePattern("%F/%H.mp3")) << bad;
}

struct FolderTree : FileSystem {
  std::map<std::string, std::vector<Entry>> folders;
  std::vector<std::string> deleted;
  Result<std::unique_ptr<OutputFile>> open(const std::string&) override { return Error{}; }
  bool exists(const std::string&) override { return false; }
  void remove(const std::string&) override {}
  Result<std::vector<Entry>> listFolder(const std::string& f) override { return folders[f]; }
  Status deleteFile(const std::string& path) override { return deleted.push_back(path), Status{}; }
};

TEST(OldFiles, OnlyRegularFilesOfThePatternOlderThanTheDaysGo) {
  using K = FileSystem::EntryKind;
  using std::chrono::days;
  const WallSeconds now{days(100)}, old = now - days(3) - std::chrono::seconds(1), fresh = now - days(3);
  FolderTree tree;
  tree.folders["rec"] = {{"2026-01-01", K::Folder, old}, {"2026-01-02", K::Other, old},
                         {"notes", K::Folder, old}, {"01.mp3", K::RegularFile, old}};
  tree.folders["rec/2026-01-01"] = {{"01.mp3", K::RegularFile, old}, {"02.mp3", K::RegularFile, fresh},
                                    {"03.mp3", K::Other, old}, {"1.mp3", K::RegularFile, old},
                                    {"04.mp3", K::Folder, old}, {"05.mp3", K::RegularFile, old}};
  tree.folders["rec/2026-01-02"] = tree.folders["rec/notes"] = tree.folders["rec/2026-01-01"];
  Settings s;
  s.outputDir = "rec", s.namePattern = "%F/%H.mp3", s.keepDays = 3;
  KeptReport report;
  deleteOldFiles(tree, s, now, "rec/2026-01-01/05.mp3", report.reporter);  // the file being written stays
  EXPECT_EQ(tree.deleted, std::vector<std::string>{"rec/2026-01-01/01.mp3"});
  EXPECT_EQ(report.text.err, "\r\n* Deleted rec/2026-01-01/01.mp3 (older than 3 days).\r\n");
}

}  // namespace
}  // namespace vorta
