// The encoder body with the fake engine (Fakes.h) and real files: how every
// way of ending leaves the files. Every file must hold whole frames, and the
// files together every frame from the first, each once.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>
#include <set>

#include "Fakes.h"
#include "Mp3Decode.h"
#include "encode/EncoderThread.h"

namespace vorta {
namespace {

namespace fs = std::filesystem;
constexpr std::uint32_t kChunkSamples = FakeEngine::kChunkSamples;
constexpr std::uint32_t kFrame = FakeEngine::kFrame;

struct FakeClock : Clock {
  std::vector<int> hours;  // one per split, in order
  std::size_t next = 0;
  LocalTime localTime() override { return LocalTime{hours.at(next++), 1, 15}; }
  std::int64_t wallSeconds() override { return 0; }
  LocalTime localTime(std::int64_t) override { return localTime(); }
  std::int64_t processCpuTime() override { return 0; }
  std::int64_t systemTime() override { return 0; }
};

// Limits the size of the files this process writes (a disk that fills up);
// SIGXFSZ ignored, so that write() fails with EFBIG.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &before);
    rlimit limit = before;
    limit.rlim_cur = bytes ? bytes : before.rlim_cur;
    ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &before); }
  rlimit before{};
};

struct Folder {
  Folder() {
    char name[] = "/tmp/vorta-encoder-XXXXXX";
    path = ::mkdtemp(name);
    previous = fs::current_path();
    fs::current_path(path);  // split names have no folder part
  }
  ~Folder() {
    fs::current_path(previous);
    fs::remove_all(path);
  }
  fs::path path, previous;
};

const std::string kCreateError = "\r\n* File creation error.\r\n* open refused\r\n\r\n";
const std::string kOld = "old recording, longer than the new one";

struct Row {
  const char* what;
  int chunks;
  std::uint32_t output;
  std::set<int> marks;      // chunks whose output starts a new file
  std::vector<int> hours;   // the clock's hour at each mark
  std::size_t oldBytes;     // a file "02.mp3" there before the run (x kOld)
  rlim_t sizeLimit;
  int failEncodeAt, failOpenAt, failFinishAt;
  int stopAt;  // encode call during which a second stop signal comes
  bool failFlush, ok;
  std::string err;
  std::map<std::string, std::uint64_t> sizes;  // 0: the old file, untouched
};

const Row kRows[] = {
    {"normal end", 4, 5000, {}, {}, 0, 0, -1, -1, -1, -1, false, true, "", {{"02.mp3", 20352}}},
    {"replaces a longer old file", 4, 5000, {}, {}, 1000, 0, -1, -1, -1, -1, false, true, "",
     {{"02.mp3", 20352}}},
    {"nothing recorded keeps the old file", 0, 5000, {}, {}, 1, 0, -1, -1, -1, -1, false, true, "",
     {{"02.mp3", 0}}},
    {"nothing recorded creates nothing", 0, 5000, {}, {}, 0, 0, -1, -1, -1, -1, false, true, "", {}},
    {"disk full", 4, 5000, {}, {}, 0, 20000, -1, -1, -1, -1, false, false,
     "\r\n* Error writing to file.\r\n* File too large\r\n\r\n", {{"02.mp3", 16128}}},
    {"engine fails", 4, 5000, {}, {}, 0, 0, 2, -1, -1, -1, false, false,
     "\r\nbeEncodeChunk() failed (4)\r\n\r\n", {{"02.mp3", 9984}}},
    {"flush fails", 4, 5000, {}, {}, 0, 0, -1, -1, -1, -1, true, false,
     "\r\nbeDeinitStream failed (3)\r\n\r\n", {{"02.mp3", 19968}}},
    {"sync fails", 4, 5000, {}, {}, 0, 0, -1, -1, 0, -1, false, false,
     "\r\n* Error writing to file.\r\n* sync failed\r\n\r\n", {{"02.mp3", 20352}}},
    {"first file refused", 4, 5000, {}, {}, 1, 0, -1, 0, -1, -1, false, false, kCreateError,
     {{"02.mp3", 0}}},
    {"split", 4, 5000, {2}, {3}, 0, 0, -1, -1, -1, -1, false, true, "",
     {{"02.mp3", 9984}, {"03.mp3", 10368}}},
    {"split after a block ending inside a frame", 6, 4096, {4}, {3}, 0, 0, -1, -1, -1, -1, false,
     true, "", {{"02.mp3", 16128}, {"03.mp3", 8448}}},
    {"next file refused", 4, 5000, {2}, {3}, 0, 0, -1, 1, -1, -1, false, false, kCreateError,
     {{"02.mp3", 9984}}},
    {"second stop signal", 4, 5000, {}, {}, 0, 0, -1, -1, -1, 2, false, true, "",
     {{"02.mp3", 14976}}},
    {"clock back into a recorded hour appends", 6, 5000, {2, 4}, {3, 2}, 0, 0, -1, -1, -1,
     -1, false, true, "", {{"02.mp3", 20352}, {"03.mp3", 9984}}},
};

class EncoderFiles : public testing::TestWithParam<Row> {};

TEST_P(EncoderFiles, EveryEndLeavesWholeFramesAndNothingLost) {
  const Row& row = GetParam();
  Folder folder;
  if (row.oldBytes) {
    std::ofstream old("02.mp3");
    for (std::size_t i = 0; i < row.oldBytes; ++i) old << kOld;
  }
  Settings settings;
  settings.sampleRate = 8000;
  settings.channelMode = ChannelMode::Mono;
  settings.outputName = "02.mp3";
  settings.splitMode = SplitMode::Daily;
  RunState run;
  RingBuffer pcm(1 << 16);
  // Half a chunk, then whole chunks, so each mark lies inside the chunk it is
  // listed for. The ring holds one mark: each piece is written while the
  // chunk two before it is encoded.
  const std::int16_t chunk[kChunkSamples] = {};
  auto feed = [&](int piece) {
    if (row.chunks == 0 || piece > row.chunks) return;
    const std::uint32_t bytes = piece == 0 || piece == row.chunks ? sizeof chunk / 2 : sizeof chunk;
    ASSERT_EQ(pcm.write(chunk, bytes, piece > 0 && row.marks.count(piece - 1)), 0);
  };
  feed(0);
  feed(1);
  run.captureStopped = 1;
  FakeEngine engine;
  engine.onEncode = [&](int call) {
    feed(call + 2);
    if (call == row.stopAt) run.endAtOnce = true;
  };
  engine.output = row.output;
  engine.failEncodeAt = row.failEncodeAt;
  engine.failFlush = row.failFlush;
  FlakyFiles files;
  files.failOpenAt = row.failOpenAt;
  files.failFinishAt = row.failFinishAt;
  FakeClock clock;
  clock.hours = row.hours;
  KeptText text;
  bool ok = false;
  {
    FileSizeLimit limit(row.sizeLimit);
    ok = runEncoder({settings, run, pcm, engine, files, clock, systemPriority()});
  }
  EXPECT_EQ(ok, row.ok);
  EXPECT_EQ(text.err, row.err);

  std::map<std::string, std::uint64_t> sizes;
  std::vector<std::uint32_t> frames;  // the frame numbers the files hold, file by file
  std::uint64_t whole = 0;
  for (const auto& entry : fs::directory_iterator(".")) {
    const std::string name = entry.path().filename();
    const auto bytes = test::readFileBytes(name);
    const bool old = row.oldBytes && bytes.size() == row.oldBytes * kOld.size() &&
                     std::string(bytes.begin(), bytes.begin() + kOld.size()) == kOld;
    sizes[name] = old ? 0 : bytes.size();
    if (old) continue;
    ASSERT_EQ(bytes.size() % kFrame, 0u) << name;
    for (std::size_t at = 0; at < bytes.size(); at += kFrame) {
      std::uint32_t k = 0;
      for (int b = 0; b < 4; ++b) k |= std::uint32_t{bytes[at + 4 + b]} << (8 * b);
      frames.push_back(k);
    }
  }
  EXPECT_EQ(sizes, row.sizes);
  std::sort(frames.begin(), frames.end());
  for (std::uint32_t k : frames) EXPECT_EQ(k, whole++) << "frames lost or doubled";
  EXPECT_EQ(run.bytesWritten.load(), whole * kFrame);
}

INSTANTIATE_TEST_SUITE_P(Ends, EncoderFiles, testing::ValuesIn(kRows),
                         [](const auto& info) {
                           std::string name = info.param.what;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

struct FakePriority : PrioritySeam {
  PriorityLevel level = PriorityLevel::Normal;
  PriorityLevel current() override { return level; }
  void set(PriorityLevel l) override { level = l; }
};

// pcmRing's free share is set inside each encode call, so the step after it
// sees exactly that share; the level is read at the next call.
std::vector<PriorityLevel> levelsForFreeShares(PriorityLevel base, std::vector<int> shares) {
  Settings settings;
  RunState run;
  RingBuffer pcm(400);
  FakeEngine engine;
  FakePriority priority;
  priority.level = base;
  std::vector<PriorityLevel> levels;
  std::vector<std::uint8_t> scratch(400);
  engine.onEncode = [&](int call) {
    if (call > 0) levels.push_back(priority.level);
    static_cast<void>(pcm.read(scratch.data(), pcm.available()));
    if (call == int(shares.size())) return static_cast<void>(run.captureStopped = 1);
    static_cast<void>(pcm.write(scratch.data(), 400 * (100 - shares[call]) / 100));
  };
  static_cast<void>(pcm.write(scratch.data(), 12));
  Folder folder;
  FakeClock clock;
  KeptText text;
  EXPECT_TRUE(runEncoder({settings, run, pcm, engine, systemFileSystem(), clock, priority}));
  return levels;
}

TEST(EncoderPriority, RisesBelowHalfFreeReturnsAtSeventyPercentAndNeverLeavesARaisedBase) {
  using L = PriorityLevel;
  EXPECT_EQ(levelsForFreeShares(L::Normal, {80, 45, 60, 75}),
            (std::vector<L>{L::Normal, L::AboveNormal, L::AboveNormal, L::Normal}));
  EXPECT_EQ(levelsForFreeShares(L::Normal, {30, 40, 55, 45}),
            (std::vector<L>{L::Normal, L::Normal, L::Normal, L::AboveNormal}));
  EXPECT_EQ(levelsForFreeShares(L::AboveNormal, {80, 10, 90, 0}), std::vector<L>(4, L::AboveNormal));
}

// Threads inherit their creator's nice value: the encoder thread, created by
// a thread at the highest level, sets its own first. Read back from the
// system, so it needs the right to raise (root).
TEST(EncoderPriority, TheThreadStartsAtItsOwnLevelWhateverItsCreatorsAndIsNamed) {
  if (::geteuid() != 0) GTEST_SKIP() << "raising a priority needs root";
  const int base = ::getpriority(PRIO_PROCESS, 0);
  for (auto [start, raised] : {std::pair{PriorityLevel::Normal, 0}, {PriorityLevel::AboveNormal, 5}}) {
    struct Probe : FakeEngine {
      Result<Mp3Stream> open(const Mp3Params&) override {
        nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
        ::pthread_getname_np(::pthread_self(), name, sizeof name);
        return Error{2, "enough"};
      }
      int nice = 99;
      char name[16] = {};
    } probe;
    std::thread creator([&] {
      setCurrentThreadPriority(PriorityLevel::Highest);
      Settings settings;
      RunState run;
      RingBuffer pcm(64);
      FakeClock clock;
      KeptText text;
      EncoderThread thread({settings, run, pcm, probe, systemFileSystem(), clock, systemPriority()},
                           start);
    });
    creator.join();
    EXPECT_EQ(probe.nice, base - raised);
    EXPECT_STREQ(probe.name, "vorta-encoder");
  }
}

}  // namespace
}  // namespace vorta
