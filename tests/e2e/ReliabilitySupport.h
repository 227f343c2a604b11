// What the fault-injection tests share: small file systems mounted for one
// test, busy processes that load the CPU, the CPU time of a child, the sound
// server brought back after a test killed it, and a "time code" signal whose
// pitch tells at every moment how far into the playback it is.
//
// Every guard undoes its work in its destructor, so a failing assertion never
// leaves a mount, a process or a dead server behind.
#pragma once

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "E2eSupport.h"

namespace vorta::test {

// A tmpfs mounted at a new folder for the life of the guard. Needs the right
// to mount (root in the CI container); ok() says whether it worked.
class ScratchMount {
 public:
  ScratchMount(const std::string& at, const std::string& options, unsigned long flags = 0)
      : at_(at) {
    ::mkdir(at.c_str(), 0777);
    mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", flags, options.c_str()) == 0;
  }
  ~ScratchMount() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    ::rmdir(at_.c_str());
  }
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;

  bool ok() const { return mounted_; }
  // Makes the mount read-only from now on.
  bool makeReadOnly() {
    return ::mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  std::string at_;
  bool mounted_ = false;
};

// Processes that spin at normal priority until the guard goes.
class BusyLoops {
 public:
  explicit BusyLoops(int count) {
    for (int i = 0; i < count; ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        volatile unsigned long n = 0;
        for (;;) n = n + 1;
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~BusyLoops() {
    for (pid_t pid : pids_) ::kill(pid, SIGKILL);
    for (pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
  }
  BusyLoops(const BusyLoops&) = delete;
  BusyLoops& operator=(const BusyLoops&) = delete;

  std::size_t running() const { return pids_.size(); }

 private:
  std::vector<pid_t> pids_;
};

// User plus system CPU time of a process in seconds, from /proc; -1 when it
// cannot be read.
inline double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  double utime = -1, stime = -1;
  for (int index = 3; fields >> field && index <= 15; ++index) {
    if (index == 14) utime = std::stod(field);
    if (index == 15) stime = std::stod(field);
  }
  if (utime < 0 || stime < 0) return -1;
  return (utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

// Brings the test server back when a test has killed it.
class ServerBack {
 public:
  explicit ServerBack(PulseServer& server) : server_(server) {}
  ~ServerBack() {
    if (!server_.alive(2000)) server_.restart();
  }
  ServerBack(const ServerBack&) = delete;
  ServerBack& operator=(const ServerBack&) = delete;

 private:
  PulseServer& server_;
};

// A time code: one tone per half second, its pitch rising by 25 Hz each
// step, so the pitch heard at a point of a recording says which moment of
// the playback it is. Starts at 300 Hz.
struct TimeCode {
  static constexpr double kStep = 0.5;
  static constexpr double kBaseHz = 300;
  static constexpr double kStepHz = 25;

  static TestSignal signal(double seconds) {
    TestSignal s(48000, 2);
    const int steps = int(std::ceil(seconds / kStep));
    for (int k = 0; k < steps; ++k) s.tone(kBaseHz + kStepHz * k, kStep);
    return s;
  }
  static double topHz(double seconds) { return kBaseHz + kStepHz * (seconds / kStep + 1); }

  // The playback moment (start of its half-second step) heard in each
  // tenth of a second of a decoded channel; -1 where no step is clear.
  // maxHz: the highest pitch the signal reached, plus a step.
  static std::vector<double> read(const std::vector<std::int16_t>& mono, long rate, double maxHz) {
    std::vector<double> moments;
    const std::size_t window = std::size_t(rate / 10);
    for (std::size_t at = 0; at + window <= mono.size(); at += window) {
      const std::vector<std::int16_t> part(mono.begin() + std::ptrdiff_t(at),
                                           mono.begin() + std::ptrdiff_t(at + window));
      const double hz = dominantFrequency(part, rate, kBaseHz - kStepHz, maxHz);
      const double step = (hz - kBaseHz) / kStepHz;
      moments.push_back(std::fabs(step - std::round(step)) < 0.3 && step > -0.5
                            ? std::round(step) * kStep
                            : -1);
    }
    return moments;
  }
};

// Seconds of playback that did not reach the recording between its early
// part and its end: the playback moment heard minus the position in the file,
// at the end against early on (medians, so that a misread tenth does not
// count). About 0 for a continuous recording.
inline double playbackLost(const std::vector<double>& moments) {
  const auto medianOffset = [&](std::size_t from, std::size_t to) {
    std::vector<double> offsets;
    for (std::size_t i = from; i < to && i < moments.size(); ++i)
      if (moments[i] >= 0) offsets.push_back(moments[i] - double(i) / 10.0);
    if (offsets.empty()) return double(NAN);
    std::nth_element(offsets.begin(), offsets.begin() + std::ptrdiff_t(offsets.size() / 2),
                     offsets.end());
    return offsets[offsets.size() / 2];
  };
  if (moments.size() < 60) return double(NAN);
  // Early: 1 to 3 s into the file; late: the last 2.5 s but its final half.
  const double early = medianOffset(10, 30);
  const double late = medianOffset(moments.size() - 25, moments.size() - 5);
  return late - early;
}

// The settings a fresh pseudo-terminal of the harness has, read while a
// program that leaves them alone runs on it.
inline termios freshTerminal() {
  ProcessOptions options;
  options.program = "/bin/sleep";
  options.args = {"2"};
  options.pty = true;
  Subprocess sleeper;
  termios settings{};
  EXPECT_TRUE(sleeper.start(options)) << sleeper.startError();
  EXPECT_TRUE(sleeper.terminalSettings(settings));
  sleeper.wait(10000);
  return settings;
}

inline std::string describeTerminal(const termios& t) {
  char text[200];
  std::snprintf(text, sizeof text, "iflag %o oflag %o cflag %o lflag %o", unsigned(t.c_iflag),
                unsigned(t.c_oflag), unsigned(t.c_cflag), unsigned(t.c_lflag));
  return text;
}

// Every setting a program could leave changed: modes, control characters and
// speeds.
inline bool sameTerminal(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

}  // namespace vorta::test
