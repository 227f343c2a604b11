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

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

}  // namespace

Subprocess::~Subprocess() {
  kill();
  closeFd(outFd_);
  closeFd(errFd_);
}

bool Subprocess::start(const ProcessOptions& o) {
  // Everything the child needs is built before fork: only async-signal-safe
  // calls are allowed between fork and exec in a threaded test program.
  std::vector<std::string> argvText{o.program}, envText;
  argvText.insert(argvText.end(), o.args.begin(), o.args.end());
  // The test's environment, then the options' entries; a later entry of a
  // name replaces an earlier one.
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  for (const std::string& entry : o.env) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(envText, [&](const std::string& x) { return x.rfind(name, 0) == 0; });
    envText.push_back(entry);
  }
  std::vector<char*> argv = pointers(argvText), envp = pointers(envText);
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull < 0 || (!o.pty && !o.quiet && ::pipe2(out, O_CLOEXEC) != 0) ||
      ((!o.pty || o.stderrToPipe) && !o.quiet && ::pipe2(err, O_CLOEXEC) != 0)) {
    startError_ = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  pty_ = o.pty;
  winsize size{};
  size.ws_row = static_cast<unsigned short>(o.rows);
  size.ws_col = static_cast<unsigned short>(o.cols);
  pid_ = o.pty ? ::forkpty(&outFd_, nullptr, nullptr, &size) : ::fork();
  if (pid_ == 0) {
    if (!o.pty && o.noControllingTerminal) ::setsid();
    if (!o.pty) ::dup2(devNull, 0);
    if (o.quiet) ::dup2(devNull, 1), ::dup2(devNull, 2);
    if (out[1] >= 0) ::dup2(out[1], 1);
    if (err[1] >= 0) ::dup2(err[1], 2);
    if (!o.cwd.empty() && ::chdir(o.cwd.c_str()) != 0) ::_exit(127);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(devNull);
  closeFd(out[1]);
  closeFd(err[1]);
  if (!o.pty) outFd_ = out[0];
  errFd_ = err[0];
  if (pid_ < 0) startError_ = std::string("fork: ") + std::strerror(errno);
  if (outFd_ >= 0) ::fcntl(outFd_, F_SETFD, FD_CLOEXEC);
  return pid_ > 0;
}

bool Subprocess::sendInput(const std::string& bytes) {
  return pty_ && outFd_ >= 0 && ::write(outFd_, bytes.data(), bytes.size()) == ssize_t(bytes.size());
}

bool Subprocess::signal(int signalNumber) { return running() && ::kill(pid_, signalNumber) == 0; }

void Subprocess::kill() {
  if (!running()) return;
  ::kill(pid_, SIGKILL);
  reap(true);
}

bool Subprocess::running() {
  reap(false);
  return pid_ > 0 && !reaped_;
}

void Subprocess::reap(bool block) {
  if (pid_ <= 0 || reaped_) return;
  int status = 0;
  pid_t got;
  while ((got = ::waitpid(pid_, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (got != pid_) return;
  reaped_ = true;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads what the child wrote, waiting at most timeoutMs for something. A
// stream that ends (a pty master gives EIO) is marked so; the master stays
// open for terminalSettings().
void Subprocess::pump(int timeoutMs) {
  pollfd fds[2] = {{ended_[0] ? -1 : outFd_, POLLIN, 0}, {ended_[1] ? -1 : errFd_, POLLIN, 0}};
  if (::poll(fds, 2, timeoutMs) <= 0) return;
  std::string* texts[2] = {&out_, &err_};
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    char chunk[4096];
    const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
    if (n > 0) texts[i]->append(chunk, std::size_t(n));
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) ended_[i] = true;
  }
}

bool Subprocess::streamsOpen() const {
  return (outFd_ >= 0 && !ended_[0]) || (errFd_ >= 0 && !ended_[1]);
}

const std::string& Subprocess::output() {
  pump(0);
  return out_;
}

const std::string& Subprocess::errors() {
  pump(0);
  return err_;
}

bool Subprocess::waitFor(const std::string& (Subprocess::*text)(), const std::string& needle,
                         int timeoutMs, std::size_t from) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    const std::string& have = (this->*text)();
    if (have.size() >= from && have.find(needle, from) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline || !streamsOpen()) return false;
    pump(20);
  }
}

bool Subprocess::waitForOutput(const std::string& needle, int timeoutMs, std::size_t from) {
  return waitFor(&Subprocess::output, needle, timeoutMs, from);
}

bool Subprocess::waitForErrors(const std::string& needle, int timeoutMs, std::size_t from) {
  return waitFor(&Subprocess::errors, needle, timeoutMs, from);
}

int Subprocess::wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (running() && std::chrono::steady_clock::now() < deadline) pump(20);
  if (running()) {
    kill();
    return kTimedOut;
  }
  // What it wrote last: until the streams end, or briefly when something it
  // started still holds them open.
  for (int i = 0; i < 50 && streamsOpen(); ++i) pump(20);
  return exitCode_;
}

bool Subprocess::terminalSettings(termios& out) const {
  return pty_ && outFd_ >= 0 && ::tcgetattr(outFd_, &out) == 0;
}

RunResult runVorta(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   int timeoutMs) {
  ProcessOptions options;
  options.args = args;
  options.env = env;
  options.noControllingTerminal = true;
  Subprocess vorta;
  RunResult r;
  if (!vorta.start(options)) return r;
  r.exitCode = vorta.wait(timeoutMs);
  r.out = vorta.output();
  r.err = vorta.errors();
  return r;
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
