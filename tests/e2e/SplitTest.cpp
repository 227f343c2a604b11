// Hourly files across an hour boundary. libfaketime starts vorta's wall clock
// three seconds before 11:00 on a Monday, the 7th; the monotonic clock stays
// real, so the sound server and the program's waits run as usual.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "E2eSupport.h"

namespace vorta::test {
namespace {

namespace fs = std::filesystem;

const char* const kFakeTimeLibrary = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

struct SplitCase {
  const char* option;
  const char* first;
  const char* second;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.option; }

class SplitTest : public E2eTest, public ::testing::WithParamInterface<SplitCase> {};

std::vector<std::string> mp3Files(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".mp3") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_P(SplitTest, NewFileAtTheHourAndTheFilesJoinIntoTheWholeRecording) {
  ASSERT_TRUE(fs::exists(kFakeTimeLibrary)) << "libfaketime is missing (Debian faketime)";
  auto player = playTone(1000);
  ASSERT_TRUE(player);

  auto options = vorta({GetParam().option, "-x", "stop.now", "rec"});
  for (const std::string& entry :
       {std::string("LD_PRELOAD=") + kFakeTimeLibrary, std::string("FAKETIME=@2026-12-07 10:59:57"),
        std::string("FAKETIME_DONT_FAKE_MONOTONIC=1"), std::string("TZ=UTC")}) {
    setEnv(options, entry);
  }
  Subprocess vorta;
  const auto started = startRecording(vorta, options);
  ASSERT_FALSE(HasFailure());
  sleepSeconds(5.5);
  const auto stopped = Clock::now();
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(20000), 0) << "stderr:\n" << vorta.errors();

  // The name on the command line is not used; the summary says why.
  EXPECT_NE(vorta.output().find("* Split mode (files duration of 1 hour)\n"), std::string::npos)
      << vorta.output();
  EXPECT_EQ(vorta.output().find("* Resulting file:"), std::string::npos) << vorta.output();
  ASSERT_EQ(mp3Files(dir()), (std::vector<std::string>{GetParam().first, GetParam().second}));

  // The files are consecutive pieces of one MP3 stream, cut at a frame
  // boundary: each holds whole frames from its first byte to its last, so
  // each plays on its own, and joined they are the one stream.
  const DecodedMp3 first = decodeMp3File(path(GetParam().first));
  const DecodedMp3 second = decodeMp3File(path(GetParam().second));
  EXPECT_TRUE(second.ok) << second.error;
  ASSERT_TRUE(first.ok) << first.error;
  EXPECT_GT(second.seconds(), 1.0);
  const auto secondBytes = readFileBytes(path(GetParam().second));
  EXPECT_TRUE(walkFrames(readFileBytes(path(GetParam().first))).whole) << GetParam().first;
  EXPECT_TRUE(walkFrames(secondBytes).whole) << GetParam().second;
  // The first file runs from the start to the first buffer after 11:00; the
  // fake clock runs from the program's start, the sound from the server's,
  // which may take a second more on a busy machine.
  EXPECT_GE(first.seconds(), 1.0);
  EXPECT_LE(first.seconds(), 3.0 + kBuffer + 0.3);

  // The second file continues the same stream: the two joined are one whole
  // MP3 of the whole recording.
  auto joined = readFileBytes(path(GetParam().first));
  joined.insert(joined.end(), secondBytes.begin(), secondBytes.end());
  const std::string joinedPath = path("joined.bin");
  std::ofstream(joinedPath, std::ios::binary)
      .write(reinterpret_cast<const char*>(joined.data()), std::streamsize(joined.size()));
  const DecodedMp3 whole = decodeWhole(joinedPath);
  ASSERT_TRUE(whole.ok);
  const double recorded = secondsBetween(started, stopped);
  EXPECT_GE(whole.seconds(), recorded - kBuffer - 1.5) << "recorded " << recorded << " s";
  EXPECT_LE(whole.seconds(), recorded + kBuffer + 0.3) << "recorded " << recorded << " s";
  // The tone runs on across the boundary.
  const double boundary = first.seconds();
  const auto around = slice(whole.channel(0), whole.rate, boundary - 0.2, boundary + 0.2);
  EXPECT_NEAR(dominantFrequency(around, whole.rate), 1000, 10);
  const auto stretches = loudStretches(whole.channel(0), whole.rate, 8000, 0.05);
  for (const auto& s : stretches) {
    EXPECT_FALSE(s.begin < boundary - 0.1 && s.end > boundary - 0.1 && s.end < boundary + 0.1)
        << "the sound breaks off at the file boundary (" << boundary << " s)";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SplitTest,
    ::testing::Values(SplitCase{"-split1", "10.mp3", "11.mp3"},
                      SplitCase{"-split2", "mo - 10.mp3", "mo - 11.mp3"},
                      SplitCase{"-split3", "07 - 10.mp3", "07 - 11.mp3"}),
    [](const ::testing::TestParamInfo<SplitCase>& info) {
      return std::string("Split") + std::string(info.param.option).substr(6);
    });

}  // namespace
}  // namespace vorta::test
