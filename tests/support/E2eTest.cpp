#include "E2eTest.h"
#include <signal.h>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>

namespace vorta::test {
std::vector<std::string> PulseServer::env() const {
  std::vector<std::string> result;
  std::ifstream in(dir + "/env");
  for (std::string line; std::getline(in, line);) result.push_back(line.substr(7));  // "export "
  return result;
}
pid_t PulseServer::pid() const {
  pid_t pid = 0;
  std::ifstream(dir + "/pid") >> pid;
  return pid;
}
bool PulseServer::run(const std::string& command) {
  Subprocess script;
  return script.start({.program = VORTA_SOURCE_DIR "/scripts/pulse-private.sh",
                       .args = {command, dir, owner ? std::to_string(::getpid()) : ""}, .quiet = true}) &&
         script.wait(60000) == 0 && (command == "stop" || alive());
}
bool PulseServer::alive() const {
  Subprocess pactl;
  return pactl.start({.program = "pactl", .args = {"info"}, .env = env(), .quiet = true}) &&
         pactl.wait(5000) == 0;
}
std::vector<std::string> wallClockAt(const std::string& when, const std::string& zone) {
  std::tm utc{};
  strptime(when.c_str(), "%Y-%m-%d %H:%M:%S", &utc);
  return {"LD_PRELOAD=" VORTA_FAULT_SHIM ":/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
          "FAKETIME=@" + std::to_string(timegm(&utc)), "FAKETIME_FMT=%s", "FAKETIME_DONT_FAKE_MONOTONIC=1", "TZ=" + zone};
}
void expectWholeCode(const DecodedMp3& decoded, double played, double from) {
  for (int c = 0; c < decoded.channels; ++c) {
    const CodeHeard heard = codeHeard(TimeCode::read(decoded.channel(c), decoded.rate));
    // Read in tenths: the last whole one ends up to a tenth before the file,
    // and the encoder's delay and padding add up to two frames.
    const bool toTheEnd = played > 0 ? heard.last >= played - 0.25 : decoded.seconds() - heard.lastAt <= 0.3;
    EXPECT_TRUE(std::abs(heard.first - from) <= 0.15 && toTheEnd && heard.lost <= 0.15)
        << "channel " << c << ": " << heard.first << " to " << heard.last << " s (at " << heard.lastAt
        << " s of " << decoded.seconds() << "), " << heard.lost << " s lost";
  }
}
PulseServer& E2eTest::server() {
  static PulseServer own = [] {
    if (const char* dir = std::getenv("VORTA_PULSE_DIR")) return PulseServer{dir, false};
    char pattern[] = "/tmp/vorta-pulse-XXXXXX";
    std::atexit([] { E2eTest::server().run("stop"); });
    return PulseServer{mkdtemp(pattern) ? pattern : "", true};
  }();
  return own;
}
void E2eTest::SetUp() {
  if (server().pid() > 0) ::kill(server().pid(), SIGCONT);
  ASSERT_TRUE(server().alive() || server().run("start")) << "no test server in " << server().dir;
  char pattern[] = "/tmp/vorta-e2e-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
}
void E2eTest::TearDown() {
  if (HasFailure())
    std::cerr << "the failed test's files are kept in " << dir_ << "\n";
  else if (!dir_.empty())
    std::filesystem::remove_all(dir_);
}
ProcessOptions E2eTest::vorta(const std::vector<std::string>& args, bool pty) const {
  std::vector<std::string> env = server().env();
  const char* asan = std::getenv("ASAN_OPTIONS");  // the shim comes before the sanitizer
  env.insert(env.end(), {"LD_PRELOAD=" VORTA_FAULT_SHIM, "VORTA_FAULT=none",
                         std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"});
  return {.args = args,
          .env = env,
          .cwd = dir_,
          .pty = pty,
          .stderrToPipe = pty,
          .noControllingTerminal = !pty};
}
ProcessOptions E2eTest::withShim(ProcessOptions options, const std::string& faults) const {
  const char* asan = std::getenv("ASAN_OPTIONS");  // the shim comes before the sanitizer
  options.env.insert(options.env.end(), {"LD_PRELOAD=" VORTA_FAULT_SHIM, "VORTA_FAULT=" + faults,
      "VORTA_READS=" + path("reads"), std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"});
  return options;
}
void E2eTest::expectEveryFrameRead(const DecodedMp3& decoded) const {
  long long read = -1;
  std::ifstream(path("reads")) >> read;
  // LAME puts 576 frames of delay before the sound (the decoder 529 more)
  // and pads its end to a whole frame with at least 576: 47 to 1198 more.
  const auto extra = static_cast<long long>(decoded.sampleFrames()) - read - 1105;
  EXPECT_TRUE(extra >= 47 && extra < 1199) << read << " frames read, "
      << decoded.sampleFrames() << " decoded";
}
int E2eTest::threadNice(pid_t pid, const std::string& thread) {
  Subprocess ps;
  std::smatch nice;
  const bool ok = ps.start({.program = "ps", .args = {"-L", "-o", "comm=,nice=", "-p", std::to_string(pid)}}) &&
                  ps.wait(5000) == 0 && std::regex_search(ps.output(), nice, std::regex(thread + " +(-?\\d+)"));
  return ok ? std::stoi(nice[1]) : 99;
}
bool E2eTest::startRecording(Subprocess& process, const ProcessOptions& options) {
  if (process.start(options) && process.waitForErrors("(0:00:01)", 30000)) return true;
  ADD_FAILURE() << "no second recorded\nstdout:\n" << process.output() << "\nstderr:\n"
                << process.errors();
  return false;
}
std::unique_ptr<Subprocess> E2eTest::play(const TestSignal& signal) {
  const std::string file = path("play" + std::to_string(std::rand()) + ".raw");
  auto player = std::make_unique<Subprocess>();
  EXPECT_TRUE(signal.writeRaw(file) &&
              player->start({.program = "paplay",
                             .args = {"--raw", "--rate=" + std::to_string(signal.rate()),
                                      "--channels=" + std::to_string(signal.channels()),
                                      "--format=s16le", "--device=vsink", file},
                             .env = server().env(),
                             .quiet = true}));
  return player;
}
DecodedMp3 E2eTest::decodeWhole(const std::string& file) {
  const std::vector<std::uint8_t> bytes = readFileBytes(file);
  std::size_t sampleFrames = 0;
  EXPECT_EQ(framesNotWhole(bytes, sampleFrames), "") << file;
  DecodedMp3 decoded = decodeMp3Bytes(bytes);
  EXPECT_TRUE(decoded.ok) << file << ": " << decoded.error;
  EXPECT_EQ(decoded.sampleFrames(), sampleFrames) << file << ": frames skipped";
  return decoded;
}
}  // namespace vorta::test
