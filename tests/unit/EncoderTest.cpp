// How every way of ending leaves real files: whole frames, and this run's frames each once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "Fakes.h"
#include "Mp3Decode.h"
#include "encode/EncoderThread.h"
#include "encode/PriorityStep.h"

namespace vorta {
namespace {

namespace fs = std::filesystem;
constexpr std::uint32_t kFrame = FakeEngine::kFrame;
constexpr std::uint32_t kOldFrame = 0xFFFF0000;   // numbers of an earlier run's frames
constexpr std::uint64_t kOldWhole = 60 * kFrame;  // its whole frames, then 100 torn bytes

struct HourClock : FakeClock {  // local time as a plain count: hour = seconds / 3600 mod 24, day = seconds / 86400
  static constexpr std::int64_t kDay = 86400 * 100, kNow = kDay + 2 * 3600 + 1200;  // 02:20
  LocalTime localTime(WallSeconds w) override {
    const std::int64_t t = w.time_since_epoch().count();
    return {int(t / 3600 % 24), 0, int(t / 86400)};
  }
  WallSeconds wallNow() override { return WallSeconds(std::chrono::seconds(kNow)); }
} gClock;

struct Row {
  const char* what;
  int chunks = 4;
  std::uint32_t output = 5000;
  std::set<int> marks = {};     // chunks whose output starts a new file, asked at these hours
  std::vector<int> hours = {};
  int oldAge = -1;              // "02.mp3" of an earlier run, last written this long ago (s)
  bool split = true;
  rlim_t sizeLimit = 0;         // the disk fills up there
  int failEncodeAt = -1, failOpenAt = -1, failFinishAt = -1, stopAt = -1;  // second stop signal
  bool failFlush = false;
  std::string err = "";
  std::map<std::string, std::uint64_t> sizes = {};  // 0: the old file, untouched
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.what; }
const std::string kRefused = "\r\n* File creation error.\r\n* open refused\r\n\r\n", kWrite = "\r\n* Error writing to file.\r\n* ";
const Row kRows[] = {
    {.what = "replaces a longer file of an earlier hour", .oldAge = 7200, .sizes = {{"02.mp3", 20352}}},
    {.what = "appends to a file of this hour", .oldAge = 600, .sizes = {{"02.mp3", kOldWhole + 20352}}},
    {.what = "appends, then splits", .marks = {2}, .hours = {3}, .oldAge = 600,
     .sizes = {{"02.mp3", kOldWhole + 9984}, {"03.mp3", 10368}}},
    {.what = "disk full at the first write of an append keeps the old frames", .oldAge = 600, .sizeLimit = kOldWhole + 1000,
     .err = kWrite + "File too large\r\n\r\n", .sizes = {{"02.mp3", kOldWhole}}},
    {.what = "one file replaces one of this hour", .oldAge = 600, .split = false, .sizes = {{"02.mp3", 20352}}},
    {.what = "nothing recorded keeps the old file", .chunks = 0, .oldAge = 600, .sizes = {{"02.mp3", 0}}},
    {.what = "nothing recorded creates nothing", .chunks = 0},
    {.what = "disk full", .sizeLimit = 20000, .err = kWrite + "File too large\r\n\r\n", .sizes = {{"02.mp3", 16128}}},
    {.what = "engine fails", .failEncodeAt = 2, .err = "\r\nbeEncodeChunk() failed (4)\r\n\r\n", .sizes = {{"02.mp3", 9984}}},
    {.what = "flush fails", .failFlush = true, .err = "\r\nbeDeinitStream failed (3)\r\n\r\n", .sizes = {{"02.mp3", 19968}}},
    {.what = "sync fails", .failFinishAt = 0, .err = kWrite + "sync failed\r\n\r\n", .sizes = {{"02.mp3", 20352}}},
    {.what = "first file refused", .oldAge = 600, .failOpenAt = 0, .err = kRefused, .sizes = {{"02.mp3", 0}}},
    {.what = "split", .marks = {2}, .hours = {3}, .sizes = {{"02.mp3", 9984}, {"03.mp3", 10368}}},
    {.what = "split after a block ending inside a frame", .chunks = 6, .output = 4096, .marks = {4}, .hours = {3},
     .sizes = {{"02.mp3", 16128}, {"03.mp3", 8448}}},
    {.what = "next file refused", .marks = {2}, .hours = {3}, .failOpenAt = 1, .err = kRefused, .sizes = {{"02.mp3", 9984}}},
    {.what = "second stop signal", .stopAt = 2, .sizes = {{"02.mp3", 14976}}},
    {.what = "second stop signal on a frame's end", .output = 3840, .stopAt = 2, .sizes = {{"02.mp3", 11520}}},
    {.what = "second stop signal, sync fails", .failFinishAt = 0, .stopAt = 2, .err = kWrite + "sync failed\r\n\r\n",
     .sizes = {{"02.mp3", 14976}}},
    {.what = "clock back into a recorded hour appends", .chunks = 6, .marks = {2, 4}, .hours = {3, 2},
     .sizes = {{"02.mp3", 20352}, {"03.mp3", 9984}}},
};

struct EncoderFiles : testing::TestWithParam<Row> {  // in a fresh folder: split names have none
  void SetUp() override { fs::current_path(::mkdtemp(name)); }
  void TearDown() override { fs::current_path(before), fs::remove_all(fs::path("/tmp") / name); }
  char name[32] = "vorta-encoder-XXXXXX";
  fs::path before = (fs::current_path("/tmp"), fs::current_path());
};
TEST_P(EncoderFiles, EveryEndLeavesWholeFramesAndNothingLost) {
  const Row& row = GetParam();
  std::vector<std::uint8_t> old(kOldWhole + 100);
  FakeEngine engine, earlier;
  earlier.produced = std::uint64_t{kOldFrame} * kFrame;
  earlier.emit(old.data(), std::uint32_t(old.size()));
  if (row.oldAge >= 0) {
    std::ofstream("02.mp3").write(reinterpret_cast<const char*>(old.data()), old.size());
    const auto age = std::chrono::seconds(HourClock::kNow - row.oldAge - ::time(nullptr));
    fs::last_write_time("02.mp3", fs::file_time_type::clock::now() + age);
  }
  Settings settings;
  settings.outputName = "02.mp3", settings.splitMode = row.split ? SplitMode::Daily : SplitMode::None;
  RunState run;
  RingBuffer pcm(1 << 16);
  // Half a chunk, then whole ones (each mark inside its chunk), two chunks ahead of the encoder.
  std::size_t marks = 0;
  auto feed = [&](int piece) {
    if (row.chunks == 0 || piece > row.chunks) return;
    const std::int16_t chunk[FakeEngine::kChunkSamples] = {};
    const bool mark = piece > 0 && row.marks.count(piece - 1);
    const std::uint64_t tag = mark ? HourClock::kDay + row.hours.at(marks++) * 3600 : 0;
    ASSERT_TRUE(pcm.write(chunk, piece == 0 || piece == row.chunks ? 6 : 12, tag));
  };
  feed(0), feed(1);
  run.captureStopped = 1;
  engine.output = row.output, engine.failEncodeAt = row.failEncodeAt, engine.failFlush = row.failFlush;
  engine.onEncode = [&](int call) { feed(call + 2), run.endAtOnce = call == row.stopAt; };
  FlakyFiles files;
  files.failOpenAt = row.failOpenAt, files.failFinishAt = row.failFinishAt;
  KeptReport report;
  SystemPriority priority{ThreadPriorities()};
  rlimit unlimited{};
  ::getrlimit(RLIMIT_FSIZE, &unlimited);
  const rlimit limit{row.sizeLimit ? row.sizeLimit : unlimited.rlim_cur, unlimited.rlim_max};
  ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG
  ::setrlimit(RLIMIT_FSIZE, &limit);
  const EncoderStatus ended = runEncoder({settings, run, pcm, engine, files, gClock, priority, report.reporter});
  ::setrlimit(RLIMIT_FSIZE, &unlimited);
  EXPECT_EQ(report.text.err, "") << "the failure comes back, to be said once by the thread's owner";
  if (!ended.ok()) report.reporter.post(failureEvent(ended.error()));
  EXPECT_EQ(std::pair(ended.ok(), report.text.err), std::pair(row.err.empty(), row.err));
  std::map<std::string, std::uint64_t> finished;  // this run's bytes in each file finished
  for (const auto& f : report.all<event::FileFinished>()) finished[f.name] += f.bytes;
  std::map<std::string, std::uint64_t> sizes;
  std::vector<std::uint32_t> frames;  // the numbers of this run's frames in the files
  for (const auto& entry : fs::directory_iterator(".")) {
    const auto bytes = test::readFileBytes(entry.path());
    sizes[entry.path().filename()] = bytes == old ? 0 : bytes.size();
    ASSERT_TRUE(bytes == old || bytes.size() % kFrame == 0) << entry.path();
    for (std::size_t at = 0; bytes != old && at < bytes.size(); at += kFrame) {
      const std::uint32_t k = bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | bytes[at + 7] << 24;
      if (k < kOldFrame) frames.push_back(k);
    }
  }
  EXPECT_EQ(sizes, row.sizes);
  const std::uint64_t kept = row.oldAge == 600 && row.split ? kOldWhole : 0;  // appended to "02.mp3"
  for (const auto& [name, size] : sizes)
    EXPECT_TRUE(!row.err.empty() || finished[name] + (size && name == "02.mp3" ? kept : 0) == size) << name;
  std::sort(frames.begin(), frames.end());
  for (std::uint32_t k = 0; k < frames.size(); ++k) ASSERT_EQ(frames[k], k) << "lost or doubled";
  EXPECT_EQ(run.bytesWritten.load(), frames.size() * kFrame);
  EXPECT_EQ(files.finishes, files.opens - (row.failOpenAt >= 0)) << "every file opened is synced, after a failure too";
}
INSTANTIATE_TEST_SUITE_P(Ends, EncoderFiles, testing::ValuesIn(kRows));

TEST(PriorityStep, RisesBelowHalfFreeReturnsAtSeventyPercentAndNeverLeavesARaisedBase) {
  using L = PriorityLevel;
  struct Row { L base; std::vector<int> shares; std::vector<std::optional<L>> levels; } const rows[] = {
      {L::Normal, {80, 45, 60, 75, 75}, {L::Normal, L::AboveNormal, {}, L::Normal, {}}},
      {L::Normal, {30, 40, 55, 45}, {{}, {}, {}, L::AboveNormal}},  // nothing raised at first
      {L::AboveNormal, {80, 10, 90, 0}, {{}, {}, {}, {}}}};
  for (const Row& row : rows) {
    PriorityStep step(row.base);
    for (std::size_t i = 0; i < row.shares.size(); ++i) EXPECT_EQ(step.after(row.shares[i]), row.levels[i]);
  }
  EXPECT_EQ(freePercent(std::uint64_t{3} << 31, std::uint64_t{1} << 31), 66);  // 100 x size > 32 bits
}

}  // namespace
}  // namespace vorta
