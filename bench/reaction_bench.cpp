// reaction_bench VORTA DIR [RUNS]: how quickly a recording ends, watched
// from outside. Each run starts VORTA on a pseudo-terminal in DIR (recording
// from the default ALSA device, so point it at a sound server first), lets it
// record for 3 s plus a varying fraction of a second, then stops it with ESC
// typed into the terminal or with SIGTERM, RUNS times each (10 by default).
//
// The points are read from /proc/PID/task, polled every millisecond, so the
// program is not touched:
//   stop sent    ESC written to the terminal, or SIGTERM sent
//   device off   the first thread of the sound device (the ALSA service
//                thread, the sound server's client thread) is gone: the
//                program has left its recording loop and is closing the device
//   drained      the encoder thread is gone (the last byte is in the file)
//                and the device is off, whichever comes later
//   exit         the process has ended (waitpid)
// The encoder thread is the first thread the program starts, so it has the
// lowest thread id after the main thread's.
#include <dirent.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

std::set<int> threadsOf(pid_t pid) {
  std::set<int> tids;
  const std::string path = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(path.c_str());
  if (!d) return tids;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') tids.insert(std::atoi(e->d_name));
  }
  closedir(d);
  return tids;
}

void drain(int fd) {
  char buf[4096];
  while (true) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return;
    if (read(fd, buf, sizeof buf) <= 0) return;
  }
}

struct Result {
  bool ok = false;
  double reaction = 0, drain = 0, exitLag = 0;
};

Result runOnce(const char* vorta, bool useEsc, int delayMs) {
  Result r;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return r;
  if (pid == 0) {
    execl(vorta, vorta, "-b", "128", "-d", "44", "-mj", "-qh", "reaction.mp3",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto started = Clock::now();
  int status = 0;
  bool exited = false;
  auto poll1ms = [&] {
    drain(master);
    if (!exited && waitpid(pid, &status, WNOHANG) == pid) exited = true;
    usleep(1000);
  };
  while (msSince(started) < 3000 + delayMs && !exited) poll1ms();
  const std::set<int> running = threadsOf(pid);
  if (exited || running.size() < 3) {
    std::fprintf(stderr, "vorta did not record (%zu threads, %s)\n", running.size(),
                 exited ? "ended" : "running");
    if (!exited) kill(pid, SIGKILL), waitpid(pid, &status, 0);
    close(master);
    return r;
  }
  const int encoder = *std::next(running.begin(), running.begin() != running.end() &&
                                                          *running.begin() == pid
                                                      ? 1
                                                      : 0);
  const auto sent = Clock::now();
  if (useEsc) {
    const char esc = 0x1b;
    if (write(master, &esc, 1) != 1) std::perror("write");
  } else {
    kill(pid, SIGTERM);
  }
  double deviceOff = -1, drained = -1;
  while (!exited && msSince(sent) < 10000) {
    const std::set<int> now = threadsOf(pid);
    const double t = msSince(sent);
    if (deviceOff < 0) {
      for (int tid : running) {
        if (tid != pid && tid != encoder && !now.count(tid)) deviceOff = t;
      }
    }
    if (drained < 0 && !now.count(encoder) && !now.empty()) drained = t;
    poll1ms();
  }
  const double ended = msSince(sent);
  if (!exited) kill(pid, SIGKILL), waitpid(pid, &status, 0);
  close(master);
  if (!exited || deviceOff < 0) return r;
  if (drained < 0) drained = ended;  // gone between two looks together with the process
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  // The encoder may finish before the device is closed (nothing was left to
  // drain): draining ends when both are done.
  const double done = std::max(drained, deviceOff);
  r.reaction = deviceOff;
  r.drain = done - deviceOff;
  r.exitLag = ended - done;
  return r;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: reaction_bench VORTA DIR [RUNS]\n");
    return 2;
  }
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
  if (chdir(argv[2]) != 0) {
    std::perror(argv[2]);
    return 2;
  }
  for (bool useEsc : {true, false}) {
    std::vector<double> reaction, drainMs, exitLag;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
      // Spread the stop over the program's one-second pass.
      const Result r = runOnce(argv[1], useEsc, (i * 1000) / runs + 37);
      if (!r.ok) {
        ++failed;
        continue;
      }
      reaction.push_back(r.reaction);
      drainMs.push_back(r.drain);
      exitLag.push_back(r.exitLag);
    }
    const char* how = useEsc ? "esc" : "sigterm";
    auto mx = [](const std::vector<double>& v) {
      return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
    };
    // One line per stop: name, runs ok, failed, then median and max of each.
    std::printf("%s %zu %d reaction %.0f %.0f drain %.0f %.0f exit %.0f %.0f\n", how,
                reaction.size(), failed, median(reaction), mx(reaction), median(drainMs),
                mx(drainMs), median(exitLag), mx(exitLag));
    std::fflush(stdout);
  }
  return 0;
}
