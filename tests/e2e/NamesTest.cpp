// Named split files under a faked clock: the pattern's folders are made, and
// of the files there only the pattern's older than --keep-days go, logged.
#include <filesystem>
#include <fstream>

#include "E2eTest.h"

namespace vorta::test {
namespace {

TEST_F(E2eTest, NamePatternMakesFoldersAndKeepDaysDeletesOnlyItsOldFiles) {
  const std::string files = "rec/2026-11-01/07.mp3 rec/2026-11-01/7.mp3 rec/07.mp3 old.mp3";
  ASSERT_EQ(std::system(("cd " + path("") + " && mkdir -p rec/2026-11-01 && touch -d '2026-11-01 "
                         "12:00 UTC' " + files + " && ln -s ../../old.mp3 rec/2026-11-01/08.mp3").c_str()), 0);
  auto options = vorta({"--dir", "rec", "--name=%F/%H.mp3", "--keep-days", "2", "-x", "stop.now", "r"});
  for (const auto& entry : wallClockAt("2026-12-07 10:59:58")) options.env.push_back(entry);
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, options));
  ASSERT_EQ(play(TimeCode::signal(3))->wait(20000), 0);
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  const std::string line = "\r\n* Deleted rec/2026-11-01/07.mp3 (older than 2 days).\r\n";
  EXPECT_EQ(vorta.errors().find("Deleted"), vorta.errors().find(line) + 4) << vorta.errors();
  EXPECT_EQ(vorta.errors().rfind("Deleted"), vorta.errors().find("Deleted"));
  for (const char* f : {"rec/2026-11-01/7.mp3", "rec/07.mp3", "old.mp3", "rec/2026-11-01/08.mp3"})
    EXPECT_TRUE(std::filesystem::exists(path(f)) && !std::filesystem::exists(path("rec/2026-11-01/07.mp3"))) << f;
  decodeWhole(path("rec/2026-12-07/11.mp3"));  // a slow start may leave 10.mp3 without sound
}

}  // namespace
}  // namespace vorta::test
