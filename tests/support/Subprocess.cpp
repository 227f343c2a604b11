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

using Clock = std::chrono::steady_clock;

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::string envName(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// The test's environment with the options' entries added or replacing.
std::vector<std::string> buildEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> result;
  for (char** e = environ; e && *e; ++e) {
    const std::string entry(*e);
    bool replaced = false;
    for (const std::string& x : extra)
      if (envName(x) == envName(entry)) replaced = true;
    if (!replaced) result.push_back(entry);
  }
  result.insert(result.end(), extra.begin(), extra.end());
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

int decodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return Subprocess::kTimedOut;
}

bool makePipe(int fds[2]) { return ::pipe2(fds, O_CLOEXEC) == 0; }

}  // namespace

Subprocess::~Subprocess() {
  if (running()) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
  }
  stopReader();
  closeFd(masterFd_);
  closeFd(errFd_);
  closeFd(wakeFd_[0]);
  closeFd(wakeFd_[1]);
}

bool Subprocess::start(const ProcessOptions& options) {
  if (pid_ > 0) {
    startError_ = "already started";
    return false;
  }
  // Everything the child needs is built before fork: between fork and exec
  // only async-signal-safe calls are allowed in a threaded test process.
  std::vector<std::string> argvStrings{options.program};
  argvStrings.insert(argvStrings.end(), options.args.begin(), options.args.end());
  std::vector<std::string> envStrings = buildEnvironment(options.env);
  std::vector<char*> argv = pointers(argvStrings);
  std::vector<char*> envp = pointers(envStrings);
  const char* cwd = options.cwd.empty() ? nullptr : options.cwd.c_str();

  if (!makePipe(wakeFd_)) {
    startError_ = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  const bool wantErrPipe = !options.pty || options.stderrToPipe;
  if ((!options.pty && !makePipe(outPipe)) || (wantErrPipe && !makePipe(errPipe))) {
    startError_ = std::string("pipe: ") + std::strerror(errno);
    closeFd(outPipe[0]);
    closeFd(outPipe[1]);
    return false;
  }

  isPty_ = options.pty;
  if (options.pty) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(options.rows);
    size.ws_col = static_cast<unsigned short>(options.cols);
    int master = -1;
    pid_ = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid_ == 0) {
      if (!options.translateNewlines) {
        termios t{};
        if (::tcgetattr(0, &t) == 0) {
          t.c_oflag &= static_cast<tcflag_t>(~OPOST);
          ::tcsetattr(0, TCSANOW, &t);
        }
      }
      if (options.stderrToPipe) ::dup2(errPipe[1], 2);
      if (cwd && ::chdir(cwd) != 0) ::_exit(127);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    masterFd_ = master;
    if (masterFd_ >= 0) ::fcntl(masterFd_, F_SETFD, FD_CLOEXEC);
  } else {
    const int devNull = options.noControllingTerminal ? -1 : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (options.noControllingTerminal) {
        ::setsid();
        ::close(0);
      } else {
        ::dup2(devNull, 0);
      }
      ::dup2(outPipe[1], 1);
      ::dup2(errPipe[1], 2);
      if (cwd && ::chdir(cwd) != 0) ::_exit(127);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    if (devNull >= 0) ::close(devNull);
    masterFd_ = outPipe[0];
    outPipe[0] = -1;
  }
  closeFd(outPipe[1]);
  closeFd(errPipe[1]);
  errFd_ = errPipe[0];

  if (pid_ < 0) {
    startError_ = std::string("fork: ") + std::strerror(errno);
    closeFd(masterFd_);
    closeFd(errFd_);
    return false;
  }
  reader_ = std::thread([this] { readerLoop(); });
  return true;
}

void Subprocess::readerLoop() {
  pollfd fds[3] = {{masterFd_, POLLIN, 0}, {errFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
  char buffer[4096];
  for (;;) {
    if (fds[0].fd < 0 && fds[1].fd < 0) break;
    const int n = ::poll(fds, 3, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[2].revents) break;  // asked to stop
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        // End of the pipe, or EIO on the master once the terminal's last
        // user has gone.
        fds[i].fd = -1;
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(got));
      changed_.notify_all();
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  outputEnded_ = true;
  changed_.notify_all();
}

void Subprocess::stopReader() {
  if (!reader_.joinable()) return;
  if (wakeFd_[1] >= 0) (void)!::write(wakeFd_[1], "x", 1);
  reader_.join();
}

bool Subprocess::sendInput(const std::string& bytes) {
  if (!isPty_ || masterFd_ < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(masterFd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool Subprocess::signal(int signalNumber) { return running() && ::kill(pid_, signalNumber) == 0; }

bool Subprocess::waitFor(const std::string& buffer, const std::string& needle, int timeoutMs,
                         std::size_t from) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto found = [&] { return from <= buffer.size() && buffer.find(needle, from) != std::string::npos; };
  changed_.wait_until(lock, Clock::now() + std::chrono::milliseconds(timeoutMs),
                      [&] { return found() || outputEnded_; });
  return found();
}

bool Subprocess::waitForOutput(const std::string& needle, int timeoutMs, std::size_t from) {
  return waitFor(out_, needle, timeoutMs, from);
}

bool Subprocess::waitForErrors(const std::string& needle, int timeoutMs, std::size_t from) {
  return waitFor(err_, needle, timeoutMs, from);
}

int Subprocess::wait(int timeoutMs) {
  if (pid_ <= 0) return kTimedOut;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!reaped_) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      exitCode_ = decodeStatus(status);
      break;
    }
    if (r < 0 && errno != EINTR) {
      reaped_ = true;
      break;
    }
    if (Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      reaped_ = true;
      timedOut_ = true;
      exitCode_ = kTimedOut;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The child has gone; give the reader a moment to take what is still in
  // the pipes, then stop it even if some other process holds them open.
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(2), [&] { return outputEnded_; });
  }
  stopReader();
  return exitCode_;
}

std::string Subprocess::output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_;
}

std::string Subprocess::errors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return err_;
}

bool Subprocess::terminalSettings(termios& out) const {
  return isPty_ && masterFd_ >= 0 && ::tcgetattr(masterFd_, &out) == 0;
}

RunResult runVorta(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   int timeoutMs) {
  ProcessOptions options;
  options.args = args;
  options.env = env;
  Subprocess process;
  RunResult result;
  if (!process.start(options)) {
    result.err = process.startError();
    return result;
  }
  result.exitCode = process.wait(timeoutMs);
  result.out = process.output();
  result.err = process.errors();
  return result;
}

}  // namespace vorta::test
