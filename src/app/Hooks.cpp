// The vorta-hooks thread. Waits on its condition variable for a hook to
// queue, or 100 ms while hooks run (to see them end); owns the running
// commands; ends when finish() has been called and nothing waits or runs,
// or when the wait at the end is over (what still runs is left running).
#include "app/Hooks.h"

#include <fmt/format.h>

#include <optional>
#include <type_traits>

#include "base/Messages.h"
#include "base/UtcText.h"
#include "platform/Process.h"
#include "platform/SoundInput.h"
#include "platform/Threads.h"

namespace vorta {
namespace {

constexpr std::chrono::milliseconds kPoll{100};

std::string seconds(double s) { return fmt::format("{:.1f}", s); }

}  // namespace

Hooks::Hooks(const Settings& settings, const TextOutput& out, Clock& clock)
    : settings_(settings), out_(out), clock_(clock), thread_([this] { run(); }) {}

Hooks::~Hooks() { finish(kExitWait); }

void Hooks::on(const RunEvent& event) {
  std::visit(
      [&](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, event::FileOpened>) {
          std::lock_guard<std::mutex> lock(mutex_);
          currentFile_ = e.name;
        } else if constexpr (std::is_same_v<E, event::StatusTick>) {
          std::lock_guard<std::mutex> lock(mutex_);
          secondsRecorded_ = e.figures.encodedSeconds;
        } else if constexpr (std::is_same_v<E, event::DeadAirBegan>) {
          queue("dead-air-began", {"VORTA_SECONDS=" + seconds(double(e.afterMs) / 1000)});
        } else if constexpr (std::is_same_v<E, event::DeadAirEnded>) {
          queue("dead-air-ended", {"VORTA_SECONDS=" + seconds(double(e.lastedMs) / 1000)});
        } else if constexpr (std::is_same_v<E, event::InputLost>) {
          queue("input-lost", {"VORTA_REASON=" + e.reason});
        } else if constexpr (std::is_same_v<E, event::FileFinished>) {
          queue("file-finished", {"VORTA_FILE=" + e.name, "VORTA_BYTES=" + std::to_string(e.bytes),
                                  "VORTA_SECONDS=" + seconds(e.seconds)});
        } else if constexpr (std::is_same_v<E, event::Overrun>) {
          queue("overrun", {"VORTA_LOST_MS=" + std::to_string(e.lostMs)});
        } else if constexpr (std::is_same_v<E, event::RunEnded>) {
          queue("end", {"VORTA_EXIT_CODE=" + std::to_string(static_cast<int>(e.code))});
        }
      },
      event);
}

// The event's details replace the general ones of the same name (a
// finished file's VORTA_FILE and VORTA_SECONDS are its own).
void Hooks::queue(std::string event, std::vector<std::string> details) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finishing_ && event != "end") return;
    if (waiting_.size() + running_ >= kAtOnce) {
      ++dropped_;
      return;
    }
    std::vector<std::string> env = {
        "VORTA_EVENT=" + event, "VORTA_TIME=" + utcText(clock_.wallNow()),
        "VORTA_DEVICE=" + soundDeviceName(settings_.device.c_str()),
        "VORTA_FILE=" + currentFile_, "VORTA_SECONDS=" + seconds(secondsRecorded_)};
    for (std::string& detail : details) {
      const std::string name = detail.substr(0, detail.find('=') + 1);
      std::erase_if(env, [&](const std::string& e) { return e.starts_with(name); });
      env.push_back(std::move(detail));
    }
    waiting_.push_back({std::move(event), std::move(env)});
  }
  changed_.notify_all();
}

void Hooks::finish(std::chrono::milliseconds wait, const std::function<bool()>& giveUp) {
  if (!thread_.joinable()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  finishing_ = true;
  changed_.notify_all();
  const auto until = std::chrono::steady_clock::now() + wait;
  while (!idle_ && std::chrono::steady_clock::now() < until && !(giveUp && giveUp()))
    changed_.wait_for(lock, kPoll, [this] { return idle_; });
  leave_ = true;  // what still runs is left running
  changed_.notify_all();
  changed_.wait(lock, [this] { return idle_; });  // at most one poll: the thread never blocks
  const std::uint32_t dropped = dropped_ + static_cast<std::uint32_t>(waiting_.size());
  const std::size_t left = running_;
  lock.unlock();
  thread_.join();
  if (dropped != 0) out_.say(Msg::HooksDropped, dropped);
  if (left != 0) out_.say(Msg::HooksLeftRunning, static_cast<unsigned>(left));
}

void Hooks::run() {
  nameCurrentThread("vorta-hooks");
  std::vector<std::pair<std::string, ShellCommand>> running;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    const auto due = [this] { return !waiting_.empty() || finishing_; };
    if (running.empty()) changed_.wait(lock, due);
    else changed_.wait_for(lock, kPoll, due);
    if (leave_ || (finishing_ && waiting_.empty() && running.empty())) break;
    std::vector<Job> start;
    while (!waiting_.empty()) start.push_back(std::move(waiting_.front())), waiting_.pop_front();
    running_ += start.size();
    lock.unlock();
    for (Job& job : start) {
      Result<ShellCommand> started = ShellCommand::start(settings_.onEvent, job.environment);
      if (started.ok()) running.emplace_back(job.event, std::move(started).value());
      else out_.say(Msg::HookNotStarted, job.event, started.error().text);
    }
    for (auto it = running.begin(); it != running.end();) {
      const std::optional<int> code = it->second.poll();
      if (!code) {
        ++it;
        continue;
      }
      if (*code != 0 || settings_.logLines) out_.say(Msg::HookEnded, it->first, *code);
      it = running.erase(it);
    }
    lock.lock();
    running_ = running.size();
  }
  idle_ = true;
  changed_.notify_all();
}

}  // namespace vorta
