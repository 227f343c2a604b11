// The operators' options end to end (a device that cannot be opened is a row
// of the trouble table). --list-devices names the test server's PCM. Named
// split files under a faked clock: the pattern's folders are made, and of the
// files there only the pattern's older than --keep-days go, logged. The level
// as a service logs it: the played time code (half of full scale) shows as
// its peak, the silence between as dead air that began and ended, and the
// closing line adds them up.
#include <filesystem>
#include <fstream>
#include <regex>
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
