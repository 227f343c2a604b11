#include "Subprocess.h"
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace vorta::test {
namespace {
std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings) p.push_back(s.data());
  return p.push_back(nullptr), p;
}
auto deadline(int ms) { return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); }
}  // namespace

Subprocess::~Subprocess() {
  kill();
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
}
bool Subprocess::start(const ProcessOptions& o) {
  // Built before fork: only async-signal-safe calls between fork and exec.
  std::vector<std::string> argvText{o.program}, envText;
  argvText.insert(argvText.end(), o.args.begin(), o.args.end());
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  for (const std::string& entry : o.env) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(envText, [&](const std::string& x) { return x.starts_with(name); });
    envText.push_back(entry);
  }
  std::vector<char*> argv = pointers(argvText), envp = pointers(envText);
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if ((!o.pty && !o.quiet && ::pipe2(out, O_CLOEXEC) != 0) ||
      ((!o.pty || o.stderrToPipe) && !o.quiet && ::pipe2(err, O_CLOEXEC) != 0))
    return false;
  winsize size{25, 80, 0, 0};
  pty_ = o.pty;
  pid_ = o.pty ? ::forkpty(&fds_[0], nullptr, nullptr, &size) : ::fork();
  if (pid_ == 0) {
    if (!o.pty && o.noControllingTerminal) ::setsid();
    if (!o.pty) ::dup2(devNull, 0);
    if (o.quiet) ::dup2(devNull, 1), ::dup2(devNull, 2);
    if (out[1] >= 0) ::dup2(out[1], 1);
    if (err[1] >= 0) ::dup2(err[1], 2);
    if (o.cwd.empty() || ::chdir(o.cwd.c_str()) == 0) ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  for (int fd : {devNull, out[1], err[1]})
    if (fd >= 0) ::close(fd);
  if (!o.pty) fds_[0] = out[0];
  fds_[1] = err[0];
  if (fds_[0] >= 0) ::fcntl(fds_[0], F_SETFD, FD_CLOEXEC);
  for (int i : {0, 1}) ended_[i] = fds_[i] < 0;
  return pid_ > 0;
}
bool Subprocess::sendInput(const std::string& bytes) {
  return pty_ && ::write(fds_[0], bytes.data(), bytes.size()) == ssize_t(bytes.size());
}
bool Subprocess::signal(int signalNumber) { return running() && ::kill(pid_, signalNumber) == 0; }

void Subprocess::kill() {
  if (running() && ::kill(pid_, SIGKILL) == 0) reap(true);
}
bool Subprocess::running() {
  reap(false);
  return pid_ > 0 && !reaped_;
}
void Subprocess::reap(bool block) {
  int status = 0;
  pid_t got;
  while ((got = ::waitpid(pid_, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (got != pid_) return;
  reaped_ = true;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads what has come within timeoutMs. A stream that ends is marked (a pty
// master gives EIO) and stays open, for terminalSettings().
void Subprocess::pump(int timeoutMs) {
  pollfd fds[2] = {{ended_[0] ? -1 : fds_[0], POLLIN, 0}, {ended_[1] ? -1 : fds_[1], POLLIN, 0}};
  if (::poll(fds, 2, timeoutMs) <= 0) return;
  for (int i : {0, 1}) {
    char chunk[4096];
    const ssize_t n = fds[i].revents ? ::read(fds[i].fd, chunk, sizeof chunk) : -2;
    if (n > 0) texts_[i].append(chunk, std::size_t(n));
    if (n == 0 || (n == -1 && errno != EINTR)) ended_[i] = true;
  }
}
const std::string& Subprocess::output() { return pump(0), texts_[0]; }
const std::string& Subprocess::errors() { return pump(0), texts_[1]; }

bool Subprocess::waitFor(int stream, const std::string& needle, int timeoutMs, std::size_t from) {
  for (const auto end = deadline(timeoutMs);; pump(20)) {
    if (texts_[stream].size() >= from && texts_[stream].find(needle, from) != std::string::npos)
      return true;
    if (std::chrono::steady_clock::now() >= end || (ended_[0] && ended_[1])) return false;
  }
}
int Subprocess::wait(int timeoutMs) {
  for (const auto end = deadline(timeoutMs); running() && std::chrono::steady_clock::now() < end;)
    pump(20);
  if (running()) return kill(), kTimedOut;
  // The last output, unless something it started holds the streams open.
  for (int i = 0; i < 50 && !(ended_[0] && ended_[1]); ++i) pump(20);
  return exitCode_;
}
bool Subprocess::terminalSettings(termios& out) const {
  return pty_ && ::tcgetattr(fds_[0], &out) == 0;
}
termios freshTerminal() {
  termios settings{};
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
    ::tcgetattr(master, &settings);
    ::close(slave);
    ::close(master);
  }
  return settings;
}
bool sameTerminal(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}
}  // namespace vorta::test
