// Named split files on the real binary under a faked clock: the pattern's
// folders are made across an hour, and of the files already there only the
// pattern's older than --keep-days go, each with its line.
#include <filesystem>
#include <fstream>
#include <thread>

#include "E2eTest.h"

namespace vorta::test {
namespace {

namespace fs = std::filesystem;

void touch(const std::string& file, const char* when) {
  fs::create_directories(fs::path(file).parent_path());
  std::ofstream(file) << "kept bytes";
  ASSERT_EQ(std::system(("touch -d '" + std::string(when) + "' '" + file + "'").c_str()), 0);
}

TEST_F(E2eTest, NamePatternMakesFoldersAndKeepDaysDeletesOnlyItsOldFiles) {
  const char* longAgo = "2026-11-01 12:00 UTC";
  const std::vector<std::string> kept = {"rec/2026-11-01/7.mp3", "rec/2026-11-01/notes.txt",
                                         "rec/07.mp3", "outside.mp3"};
  for (const std::string& f : kept) touch(path(f), longAgo);
  for (const char* f : {"rec/2026-11-01/07.mp3", "rec/2026-12-05/00.mp3"}) touch(path(f), longAgo);
  touch(path("rec/2026-12-05/01.mp3"), "2026-12-05 12:00 UTC");  // not yet 2 days old
  fs::create_symlink("../../outside.mp3", path("rec/2026-12-05/02.mp3"));  // a link stays
  auto options = vorta({"--dir", "rec", "--name=%F/%H.mp3", "--keep-days", "2", "-x", "stop.now", "r"});
  for (const auto& entry : wallClockAt("2026-12-07 10:59:58")) options.env.push_back(entry);
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, options));
  ASSERT_EQ(play(TimeCode::signal(3))->wait(20000), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();

  for (const char* f : {"rec/2026-11-01/07.mp3", "rec/2026-12-05/00.mp3"}) {
    const std::string line = "\r\n* Deleted " + std::string(f) + " (older than 2 days).\r\n";
    EXPECT_NE(vorta.errors().find(line), std::string::npos) << vorta.errors();
    EXPECT_FALSE(fs::exists(path(f))) << f;
  }
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = vorta.errors().find("Deleted", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 2u);
  for (const std::string& f : kept) EXPECT_TRUE(fs::exists(path(f))) << f;
  EXPECT_TRUE(fs::exists(path("rec/2026-12-05/01.mp3")) && fs::is_symlink(path("rec/2026-12-05/02.mp3")));
  // The hour's folder is made; a slow start may leave no sound for 10.mp3.
  decodeWhole(path("rec/2026-12-07/11.mp3"));
  if (fs::exists(path("rec/2026-12-07/10.mp3"))) decodeWhole(path("rec/2026-12-07/10.mp3"));
}

}  // namespace
}  // namespace vorta::test
