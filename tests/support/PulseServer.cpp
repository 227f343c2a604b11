#include "PulseServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

extern char** environ;

namespace vorta::test {

namespace {

// The environment of the test process with the entries of overrides added,
// replacing variables of the same name.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
  std::vector<std::string> result;
  auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const auto& o : overrides) {
      if (nameOf(o) == nameOf(entry)) {
        replaced = true;
        break;
      }
    }
    if (!replaced) result.push_back(entry);
  }
  result.insert(result.end(), overrides.begin(), overrides.end());
  return result;
}

std::string scriptPath() { return std::string(VORTA_SOURCE_DIR) + "/scripts/pulse-private.sh"; }

}  // namespace

// --- Background -------------------------------------------------------------

Background::~Background() { kill(); }

bool Background::start(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  if (argv.empty() || pid_ > 0) return false;
  std::vector<std::string> environment = mergedEnvironment(env);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  // The helper scripts report why a server did not start on standard error;
  // that goes to the test's log. Players are quiet.
  if (argv[0] != scriptPath()) {
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  // Its own process group, so that a kill reaches what it may have started.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  pid_ = pid;
  reaped_ = false;
  exitCode_ = kTimedOut;
  return true;
}

bool Background::collect(bool block) {
  if (pid_ <= 0) return true;
  if (reaped_) return true;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return false;
  reaped_ = true;
  if (r < 0) {
    exitCode_ = kTimedOut;
  } else if (WIFEXITED(status)) {
    exitCode_ = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    exitCode_ = 128 + WTERMSIG(status);
  }
  return true;
}

int Background::wait(int timeoutMs) {
  if (pid_ <= 0) return kTimedOut;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!collect(false)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill();
      return kTimedOut;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return exitCode_;
}

void Background::kill() {
  if (pid_ <= 0 || reaped_) return;
  if (!collect(false)) {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    collect(true);
    exitCode_ = kTimedOut;
  }
}

bool Background::running() { return pid_ > 0 && !collect(false); }

// --- PulseServer ------------------------------------------------------------

PulseServer::PulseServer(std::string dir) : dir_(std::move(dir)) {}

namespace {

PulseServer* ownServer = nullptr;

// True when the process no longer exists or is only a zombie waiting for a
// parent that may never collect it.
bool processGone(pid_t pid) {
  if (::kill(pid, 0) != 0) return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  auto close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() || text[close + 2] == 'Z';
}

void stopOwnServer() {
  if (ownServer == nullptr) return;
  ownServer->stop();
  std::error_code ignored;
  std::filesystem::remove_all(ownServer->dir(), ignored);
}

}  // namespace

PulseServer* PulseServer::forTests() {
  static PulseServer* server = [] () -> PulseServer* {
    if (const char* dir = std::getenv("VORTA_PULSE_DIR"); dir != nullptr && *dir != '\0') {
      return new PulseServer(dir);
    }
    // Run by hand, outside ctest: a server for this run only.
    char pattern[] = "/tmp/vorta-pulse-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return nullptr;
    ownServer = new PulseServer(pattern);
    if (!ownServer->restart()) {
      std::cerr << "could not start a private PulseAudio server in " << pattern << "\n";
      stopOwnServer();
      return nullptr;
    }
    std::atexit(stopOwnServer);
    return ownServer;
  }();
  return server;
}

std::string PulseServer::socketPath() const { return dir_ + "/run/native"; }

std::vector<std::string> PulseServer::env() const {
  std::vector<std::string> result;
  std::ifstream in(dir_ + "/env");
  std::string line;
  while (std::getline(in, line)) {
    const std::string prefix = "export ";
    if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
    if (line.find('=') == std::string::npos) continue;
    result.push_back(line);
  }
  return result;
}

bool PulseServer::alive(int timeoutMs) const {
  Background pactl;
  if (!pactl.start({"pactl", "info"}, env())) return false;
  return pactl.wait(timeoutMs) == 0;
}

std::unique_ptr<Background> PulseServer::play(const std::string& wavPath) const {
  auto player = std::make_unique<Background>();
  if (!player->start({"paplay", "--device=vsink", wavPath}, env())) return nullptr;
  return player;
}

bool PulseServer::runScript(const std::string& command) const {
  Background script;
  if (!script.start({scriptPath(), command, dir_}, {})) return false;
  return script.wait(30000) == 0;
}

bool PulseServer::kill() {
  std::ifstream in(dir_ + "/pid");
  pid_t pid = 0;
  if (!(in >> pid) || pid <= 0) return false;
  if (::kill(pid, SIGKILL) != 0) return false;
  // The server is not our child; wait until it is gone.
  for (int i = 0; i < 100 && !processGone(pid); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return processGone(pid);
}

bool PulseServer::restart() { return runScript("start") && alive(); }

bool PulseServer::stop() { return runScript("stop"); }

}  // namespace vorta::test
