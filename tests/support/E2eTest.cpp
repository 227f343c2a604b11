#include "E2eTest.h"

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace vorta::test {
namespace {

bool runScript(const std::string& command, const std::string& dir) {
  Subprocess script;
  ProcessOptions o;
  o.program = VORTA_SOURCE_DIR "/scripts/pulse-private.sh";
  o.args = {command, dir};
  o.quiet = true;
  return script.start(o) && script.wait(60000) == 0;
}

}  // namespace

PulseServer* PulseServer::forTests() {
  static PulseServer* server = []() -> PulseServer* {
    if (const char* dir = std::getenv("VORTA_PULSE_DIR"); dir && *dir) return new PulseServer(dir);
    char pattern[] = "/tmp/vorta-pulse-XXXXXX";
    if (!mkdtemp(pattern)) return nullptr;
    static PulseServer own(pattern);
    std::atexit([] {
      own.stop();
      std::filesystem::remove_all(own.dir());
    });
    return own.restart() ? &own : nullptr;
  }();
  return server;
}

std::vector<std::string> PulseServer::env() const {
  std::vector<std::string> result;
  std::ifstream in(dir_ + "/env");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("export ", 0) == 0) result.push_back(line.substr(7));
  return result;
}

pid_t PulseServer::pid() const {
  pid_t pid = 0;
  std::ifstream(dir_ + "/pid") >> pid;
  return pid;
}

bool PulseServer::alive(int timeoutMs) const {
  Subprocess pactl;
  ProcessOptions o;
  o.program = "pactl";
  o.args = {"info"};
  o.env = env();
  o.quiet = true;
  return pactl.start(o) && pactl.wait(timeoutMs) == 0;
}

bool PulseServer::restart() { return runScript("start", dir_) && alive(); }

bool PulseServer::stop() { return runScript("stop", dir_); }

void E2eTest::SetUp() {
  server_ = PulseServer::forTests();
  ASSERT_NE(server_, nullptr) << "no private PulseAudio server (scripts/pulse-private.sh)";
  if (const pid_t frozen = server_->pid(); frozen > 0) ::kill(frozen, SIGCONT);
  if (!server_->alive()) {
    ASSERT_TRUE(server_->restart()) << "the test server does not answer";
  }
  char pattern[] = "/tmp/vorta-e2e-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
}

void E2eTest::TearDown() {
  if (HasFailure()) std::cerr << "the failed test's files are kept in " << dir_ << "\n";
  else if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

ProcessOptions E2eTest::vorta(const std::vector<std::string>& args, bool pty) const {
  ProcessOptions o;
  o.args = args;
  o.env = server_->env();
  o.cwd = dir_;
  o.pty = o.stderrToPipe = pty;
  o.noControllingTerminal = !pty;
  return o;
}

bool E2eTest::startRecording(Subprocess& process, const ProcessOptions& options) {
  if (!process.start(options)) {
    ADD_FAILURE() << "vorta did not start: " << process.startError();
    return false;
  }
  if (process.waitForErrors("(0:00:01)", 30000)) return true;
  ADD_FAILURE() << "no second of sound recorded\nstdout:\n" << process.output()
                << "\nstderr:\n" << process.errors();
  return false;
}

std::unique_ptr<Subprocess> E2eTest::play(const TestSignal& signal) {
  static int count = 0;
  const std::string file = path("play" + std::to_string(++count) + ".raw");
  auto player = std::make_unique<Subprocess>();
  ProcessOptions o;
  o.program = "paplay";
  o.args = {"--raw", "--format=s16le", "--rate=" + std::to_string(signal.rate()),
            "--channels=" + std::to_string(signal.channels()), "--device=vsink", file};
  o.env = server_->env();
  o.quiet = true;
  EXPECT_TRUE(signal.writeRaw(file) && player->start(o)) << "cannot play " << file;
  return player;
}

DecodedMp3 E2eTest::decodeWhole(const std::string& file) {
  const FrameWalk walk = walkFrames(readFileBytes(file));
  EXPECT_TRUE(walk.whole) << file << ": " << walk.why;
  DecodedMp3 decoded = decodeMp3File(file);
  EXPECT_TRUE(decoded.ok) << file << ": " << decoded.error;
  EXPECT_EQ(decoded.sampleFrames(), walk.frames * walk.samplesPerFrame) << file << ": mpg123 skipped frames";
  return decoded;
}

std::vector<std::string> wallClockAt(const std::string& when) {
  return {"LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1", "FAKETIME=@" + when,
          "FAKETIME_DONT_FAKE_MONOTONIC=1", "TZ=UTC"};
}

}  // namespace vorta::test
