#include "E2eSupport.h"

#include <cstdlib>
#include <filesystem>
#include <thread>

namespace vorta::test {

double secondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void sleepSeconds(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

FrameWalk walkFrames(const std::vector<std::uint8_t>& bytes) {
  static const int kBitrates[2][15] = {
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},  // MPEG-1
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};     // MPEG-2, 2.5
  static const int kRates[3][3] = {
      {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  FrameWalk walk;
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 4) {
      walk.why = "truncated header at byte " + std::to_string(at);
      return walk;
    }
    const std::uint32_t h = (std::uint32_t(bytes[at]) << 24) | (std::uint32_t(bytes[at + 1]) << 16) |
                            (std::uint32_t(bytes[at + 2]) << 8) | std::uint32_t(bytes[at + 3]);
    const int versionBits = (h >> 19) & 3;  // 0: 2.5, 2: 2, 3: 1
    const int layerBits = (h >> 17) & 3;    // 1: Layer III
    const int bitrateIndex = (h >> 12) & 15;
    const int rateIndex = (h >> 10) & 3;
    const int padding = (h >> 9) & 1;
    if ((h >> 21) != 0x7ff || versionBits == 1 || layerBits != 1 || bitrateIndex == 0 ||
        bitrateIndex == 15 || rateIndex == 3) {
      walk.why = "no Layer III frame header at byte " + std::to_string(at) + " of " +
                 std::to_string(bytes.size());
      return walk;
    }
    const bool mpeg1 = versionBits == 3;
    const int version = mpeg1 ? 0 : versionBits == 2 ? 1 : 2;
    const int bitrate = kBitrates[mpeg1 ? 0 : 1][bitrateIndex];
    const int rate = kRates[version][rateIndex];
    const std::size_t length = std::size_t((mpeg1 ? 144000 : 72000) * bitrate / rate + padding);
    if (walk.frames == 0) walk.samplesPerFrame = mpeg1 ? 1152 : 576;
    if (at + length > bytes.size()) {
      walk.why = "last frame cut short at byte " + std::to_string(at) + ": needs " +
                 std::to_string(length) + ", has " + std::to_string(bytes.size() - at);
      return walk;
    }
    at += length;
    ++walk.frames;
  }
  walk.whole = walk.frames > 0;
  if (!walk.whole) walk.why = "no frames";
  return walk;
}

std::vector<Stretch> loudStretches(const std::vector<std::int16_t>& mono, long rate, int level,
                                   double minGapSeconds) {
  std::vector<Stretch> result;
  const std::size_t minGap = std::size_t(minGapSeconds * double(rate));
  std::size_t lastLoud = 0;
  bool open = false;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < mono.size(); ++i) {
    if (std::abs(int(mono[i])) < level) continue;
    if (open && i - lastLoud > minGap) {
      result.push_back({double(begin) / double(rate), double(lastLoud + 1) / double(rate)});
      open = false;
    }
    if (!open) {
      begin = i;
      open = true;
    }
    lastLoud = i;
  }
  if (open) result.push_back({double(begin) / double(rate), double(lastLoud + 1) / double(rate)});
  return result;
}

void setEnv(ProcessOptions& options, const std::string& entry) {
  const std::string name = entry.substr(0, entry.find('=') + 1);
  std::erase_if(options.env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
  options.env.push_back(entry);
}

std::vector<std::int16_t> slice(const std::vector<std::int16_t>& mono, long rate, double from,
                                double to) {
  const auto clamp = [&](double t) {
    const double i = t * double(rate);
    return i <= 0 ? std::size_t(0) : std::min(mono.size(), std::size_t(i));
  };
  const std::size_t a = clamp(from), b = clamp(to);
  if (a >= b) return {};
  return {mono.begin() + std::ptrdiff_t(a), mono.begin() + std::ptrdiff_t(b)};
}

void E2eTest::SetUp() {
  server_ = PulseServer::forTests();
  ASSERT_NE(server_, nullptr) << "no private PulseAudio server (scripts/pulse-private.sh)";
  // An earlier test may have killed it on purpose; every test starts with a
  // server that answers.
  if (!server_->alive()) {
    ASSERT_TRUE(server_->restart()) << "the test server does not answer";
  }
  char pattern[] = "/tmp/vorta-e2e-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
}

void E2eTest::TearDown() {
  if (dir_.empty()) return;
  if (HasFailure()) {
    std::cerr << "the failed test's files are kept in " << dir_ << "\n";
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

ProcessOptions E2eTest::vorta(const std::vector<std::string>& args, bool pty) const {
  ProcessOptions options;
  options.args = args;
  options.env = server_->env();
  options.cwd = dir_;
  options.pty = pty;
  options.stderrToPipe = pty;
  options.noControllingTerminal = !pty;
  return options;
}

Clock::time_point E2eTest::startRecording(Subprocess& process, const ProcessOptions& options,
                                          int timeoutMs) {
  if (!process.start(options)) {
    ADD_FAILURE() << "vorta did not start: " << process.startError();
    return {};
  }
  if (!process.waitForErrors(kStatus, timeoutMs)) {
    ADD_FAILURE() << "no status line within " << timeoutMs << " ms\nstdout:\n"
                  << process.output() << "\nstderr:\n"
                  << process.errors();
    return {};
  }
  return Clock::now();
}

std::unique_ptr<Background> E2eTest::play(const TestSignal& signal, const std::string& name) {
  const std::string file = path(name);
  if (!signal.writeWav(file)) {
    ADD_FAILURE() << "cannot write " << file;
    return nullptr;
  }
  auto player = server_->play(file);
  if (!player) ADD_FAILURE() << "paplay did not start";
  return player;
}

std::unique_ptr<Background> E2eTest::playTone(double hz, double seconds) {
  return play(TestSignal(48000, 2).tone(hz, seconds), "tone.wav");
}

DecodedMp3 E2eTest::decodeWhole(const std::string& file) {
  const auto bytes = readFileBytes(file);
  const FrameWalk walk = walkFrames(bytes);
  EXPECT_TRUE(walk.whole) << file << ": " << walk.why;
  DecodedMp3 decoded = decodeMp3File(file);
  EXPECT_TRUE(decoded.ok) << file << ": " << decoded.error;
  if (walk.whole && decoded.ok) {
    // Every frame decoded: mpg123 skipped nothing.
    EXPECT_EQ(decoded.frames.size(), walk.frames) << file;
    EXPECT_EQ(decoded.sampleFrames(), walk.frames * walk.samplesPerFrame) << file;
  }
  return decoded;
}

}  // namespace vorta::test
