// The operators' options end to end (a device that cannot be opened is a row
// of the trouble table). --list-devices names the test server's PCM. Named
// split files under a faked clock: the pattern's folders are made, and of the
// files there only the pattern's go, logged: older than --keep-days at the
// start, off the recording's path however many; the oldest while the free
// space is below --keep-free. The level
// as a service logs it: the played time code (half of full scale) shows as
// its peak, the silence between as dead air that began and ended, and the
// closing line adds them up.
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <thread>

#include "E2eTest.h"
#include "ExpectedTexts.h"

namespace vorta::test {
namespace {

using DeviceTest = E2eTest;

TEST_F(DeviceTest, ListShowsTheServersPcmAndEndsWithoutRecording) {
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(E2eTest::vorta({"--list-devices", "rec"})));
  EXPECT_EQ(vorta.wait(20000), 0) << vorta.errors();
  EXPECT_EQ(vorta.output().find(kBanner + "Capture devices (--device NAME):\n"), 0u)
      << vorta.output();
  EXPECT_NE(vorta.output().find("\n  pulse\n      PulseAudio Sound Server\n"), std::string::npos);
  EXPECT_NE(vorta.output().find("\nSound cards:\n"), std::string::npos);
  EXPECT_EQ(vorta.errors(), "");
  EXPECT_FALSE(std::filesystem::exists(path("rec.mp3")));
}

TEST_F(E2eTest, NamePatternMakesFoldersAndKeepDaysDeletesOnlyItsOldFilesAtTheStart) {
  const std::string files = "rec/2026-11-01/07.mp3 rec/2026-11-01/07.mp3.times rec/2026-11-01/7.mp3 rec/2026-11-02/09.mp3 "
                            "rec/07.mp3 old.mp3";
  ASSERT_EQ(std::system(("cd " + path("") + " && mkdir -p rec/2026-11-01 rec/2026-11-02 && touch -d '2026-11-01 "
                         "12:00 UTC' " + files + " && ln -s ../../old.mp3 rec/2026-11-01/08.mp3").c_str()), 0);
  // No new file comes within this run: what goes, goes at the start.
  auto options = vorta({"--dir", "rec", "--name=%F/%H.mp3", "--keep-days", "2", "-x", "stop.now", "r"});
  for (const auto& entry : wallClockAt("2026-12-07 10:20:00")) options.env.push_back(entry);
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, options));
  // Deleting runs at the creator's level, never at the main thread's raised one.
  const int own = ::getpriority(PRIO_PROCESS, 0);
  EXPECT_EQ(threadNice(vorta.pid(), "vorta-retention"), own >= 19 ? 0 : own);
  ASSERT_EQ(play(TimeCode::signal(2))->wait(20000), 0);
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  const std::string errors = std::regex_replace(vorta.errors(), std::regex("Record: [^\r]*\r"), "");
  for (const char* deleted : {"rec/2026-11-01/07.mp3", "rec/2026-11-02/09.mp3"})
    EXPECT_NE(errors.find("\r\n* Deleted " + std::string(deleted) + " (older than 2 days).\r\n"), std::string::npos) << errors;
  EXPECT_EQ(errors.size(), 2 * std::string("\r\n* Deleted rec/2026-11-01/07.mp3 (older than 2 days).\r\n").size());
  for (const char* f : {"rec/2026-11-01/7.mp3", "rec/07.mp3", "old.mp3", "rec/2026-11-01/08.mp3"})
    EXPECT_TRUE(std::filesystem::exists(path(f))) << f;
  for (const char* f : {"rec/2026-11-01/07.mp3", "rec/2026-11-01/07.mp3.times", "rec/2026-11-02"})
    EXPECT_FALSE(std::filesystem::exists(path(f))) << f;
  decodeWhole(path("rec/2026-12-07/10.mp3"));
}

// A folder of 100,000 files of the pattern, all past --keep-days, goes while the recording goes
// on: a buffer of 1.5 s (-f 256) overflows if the encoder waits for the walk or the deletions
// (a few seconds; on a loaded machine minutes, so the wait is long).
TEST_F(E2eTest, HugeFolderOfOldFilesCostsNoSound) {
  std::filesystem::create_directory(path("old"));
  for (int i = 0; i < 100000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "old/%02d%02d%02d%02d.mp3", i / 40320 + 1, i / 1440 % 28 + 1, i / 60 % 24, i % 60);
    std::ofstream(path(name)).put('x');
  }
  auto options = vorta({"--log", "-f", "256", "--name", "old/%m%d%H%M.mp3", "--keep-days", "30", "-x", "stop.now", "r"});
  for (const auto& entry : wallClockAt("2030-12-31 23:20:00")) options.env.push_back(entry);
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(options) && vorta.waitForErrors("Record: ", 30000)) << vorta.errors();
  auto player = play(TimeCode::signal(3));
  const auto left = [&] { return std::distance(std::filesystem::directory_iterator(path("old")), {}); };
  for (int i = 0; i < 1800 && left() > 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(player->wait(20000), 0);
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(60000), 0);
  EXPECT_EQ(left(), 2) << "the file being written and its time map";
  const std::string losses = "\nLosses: 0 sound input overruns (about 0 ms of sound), 0 buffer overflows\n";
  EXPECT_TRUE(vorta.errors().ends_with(losses)) << vorta.errors().substr(vorta.errors().size() - 300);
  expectWholeCode(decodeWhole(path("old/12312320.mp3")), 3);
}

// --keep-free on a 4 MiB file system of its own (a tmpfs in a mount namespace of the run's, so
// nothing stays mounted): ten old files of the pattern, 200 kB each, the oldest with a sidecar;
// a foreign file and a link with the pattern's name. Recording 40 kB/s in a new file each second
// (each one a check), free space stays at the mark, give or take a second's writing, and only
// the oldest of the pattern's files go, oldest first.
TEST_F(E2eTest, KeepFreeDeletesTheOldestOfItsOwnFilesOnAFullDisk) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a file system needs root";
  const std::string fs = path("fs"), mark = "400K";
  std::filesystem::create_directory(fs);
  const std::string made = "mount -t tmpfs -o size=4m vorta " + fs + " && cd " + fs + " && mkdir rec && "
      "head -c 1900000 /dev/zero > rec/keep.txt && ln -s keep.txt rec/5010.mp3 && touch rec/5009.mp3.times && "
      "for i in 0 1 2 3 4 5 6 7 8 9; do head -c 200000 /dev/zero > rec/500$i.mp3; touch -d @$((1767225600 - i * 60)) rec/500$i.mp3; done";
  auto options = vorta({"-b", "320", "--dir", fs + "/rec", "--name", "%M%S.mp3", "--keep-free", mark, "-x", path("stop"), "r"});
  options.args.insert(options.args.begin(), {"-m", "sh", "-c", made + " && \"$0\" \"$@\"; s=$?; ls rec > ../left; exit $s", VORTA_BINARY});
  options.program = "unshare";
  for (const auto& entry : wallClockAt("2026-12-07 10:20:00")) options.env.push_back(entry);
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, options));
  std::uint64_t least = ~0ull;
  for (int i = 0; i < 60; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
    struct statvfs space {};
    if (::statvfs(("/proc/" + std::to_string(vorta.pid()) + "/root" + fs + "/rec").c_str(), &space) == 0)
      least = std::min<std::uint64_t>(least, space.f_bavail * space.f_frsize);
  }
  std::ofstream(path("stop")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  EXPECT_GE(least + 64 * 1024, 400 * 1024u) << "at most a second and a block below the mark";
  std::ifstream listing(path("left"));
  std::set<std::string> left{std::istream_iterator<std::string>(listing), {}};
  int gone = 0;
  while (gone < 10 && !left.count("500" + std::to_string(9 - gone) + ".mp3")) ++gone;
  EXPECT_GE(gone, 2) << "one at the start, at least one while recording";
  for (int i = 0; i < 10 - gone; ++i) EXPECT_TRUE(left.count("500" + std::to_string(i) + ".mp3")) << i;
  for (const char* f : {"keep.txt", "5010.mp3"}) EXPECT_TRUE(left.count(f)) << f;
  EXPECT_FALSE(left.count("5009.mp3.times"));
  const std::string errors = std::regex_replace(vorta.errors(), std::regex("Record: [^\r]*\r"), "");
  std::string expected;
  for (int i = 0; i < gone; ++i) expected += "\r\n* Deleted " + fs + "/rec/500" + std::to_string(9 - i) + ".mp3 (free space below 400K).\r\n";
  EXPECT_EQ(errors, expected);
}

// Three bursts at full scale between four stretches of dead air, the last
// cut short by the stop: every burst's samples are counted, every stretch is
// in the total. Blocks are judged whole, so a stretch counts its quiet blocks.
TEST_F(E2eTest, MeterAndDeadAirAddUpInTheLog) {
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(withShim(E2eTest::vorta({"--log", "--meter", "-d", "48", "--dead-air", "0.02", "-x", "stop.now", "rec"}))));
  ASSERT_TRUE(vorta.waitForErrors("Dead air", 30000)) << vorta.errors();
  TestSignal bursts(48000, 2);
  for (int i = 0; i < 3; ++i) bursts.silence(i ? 2 : 0.5).fullScale(0.25);
  ASSERT_EQ(play(bursts)->wait(30000), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(4500));
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  const std::string status = R"(Record: \d+\.\d kbytes \(0:00:\d\d\), buffer free: \d+\.\d%, CPU usage: \d+\.\d%, peak: -\d+\.\d/-\d+\.\d dBFS, clipped: )";
  const std::string began = R"(\* Dead air: no sound for 0\.02 min\.\n)";
  const std::string errors = vorta.errors();
  std::smatch m;
  ASSERT_TRUE(std::regex_match(errors, m, std::regex(
      status + "0\n(?:" + began + R"(\* Sound is back after 0:00:0\d of dead air\.\n){3})" + began + status +
      R"(72000\n\* Dead air in all: 0:00:(\d\d), times: 4\.\n)"
      R"(Losses: 0 sound input overruns \(about 0 ms of sound\), 0 buffer overflows, dead air 0:00:\1 \(4 times\)\n)")))
      << errors;
  int ended = 0;  // whole seconds, as shown (each hides less than one); the last stretch is 3 s or more
  const std::regex back("after 0:00:0(\\d)");
  for (auto i = std::sregex_iterator(errors.begin(), errors.end(), back); i != std::sregex_iterator(); ++i)
    ended += std::stoi((*i)[1]);
  EXPECT_GE(std::stoi(m[1]), ended + 3);
  EXPECT_LE(std::stoi(m[1]), ended + 8);
  expectEveryFrameRead(decodeWhole(path("rec.mp3")));  // without -s nothing is cut
}

}  // namespace
}  // namespace vorta::test
