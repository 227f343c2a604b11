#include "app/ConsoleSink.h"

#include <type_traits>
#include <utility>

#include "base/HoursMinutesSeconds.h"
#include "base/LogLines.h"
#include "base/Messages.h"
#include "monitor/StatusLine.h"

namespace vorta {
namespace {

// Hours, minutes and seconds as the texts take them.
struct Hms {
  int hours, minutes, seconds;
};

Hms splitMs(std::int64_t ms) {
  const HoursMinutesSeconds t = splitHours(std::chrono::milliseconds(ms));
  return {static_cast<int>(t.hours), t.minutes, t.seconds};
}

}  // namespace

ConsoleSink::ConsoleSink(const TextOutput& out, bool watchesDeadAir,
                         std::function<void(std::string_view)> statusOut, Clock& clock)
    : out_(out), watchesDeadAir_(watchesDeadAir), statusOut_(std::move(statusOut)), clock_(clock) {}

void ConsoleSink::on(const RunEvent& event) {
  const auto say = [this](const auto& message, const auto&... args) { out_.say(message, args...); };
  std::visit(
      [&](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, event::RecordingStarted>) {
          say(Msg::EncoderVersion, e.engineMajor, e.engineMinor);
          say(Msg::ExitHint);
        } else if constexpr (std::is_same_v<E, event::StatusTick>) {
          statusLine(statusLineText(e.figures, out_.language()));
        } else if constexpr (std::is_same_v<E, event::Overrun>) {
          say(Msg::Overrun, e.lostMs);
        } else if constexpr (std::is_same_v<E, event::BufferOverflow>) {
          say(Msg::RingOverflow);
        } else if constexpr (std::is_same_v<E, event::DeadAirBegan>) {
          say(Msg::DeadAirBegan, double(e.afterMs) / 60000);
        } else if constexpr (std::is_same_v<E, event::DeadAirEnded>) {
          const Hms gap = splitMs(e.lastedMs);
          say(Msg::DeadAirEnded, gap.hours, gap.minutes, gap.seconds);
        } else if constexpr (std::is_same_v<E, event::RecordingStopped>) {
          // The last line of a log, unless it was just logged.
          if (out_.logLines() && !pending_.empty()) out_.write(Stream::Err, pending_);
          pending_.clear();
        } else if constexpr (std::is_same_v<E, event::DeadAirSummary>) {
          const Hms total = splitMs(e.totalMs);
          say(Msg::DeadAirSummary, total.hours, total.minutes, total.seconds, e.times);
        } else if constexpr (std::is_same_v<E, event::InputLost>) {
          say(Msg::DeviceLost, e.reason);
        } else if constexpr (std::is_same_v<E, event::TimeMapFailed>) {
          say(Msg::TimeMapFailed, e.name, e.reason);
        } else if constexpr (std::is_same_v<E, event::OldFileDeleted>) {
          say(Msg::OldFileDeleted, e.path, e.keepDays);
        } else if constexpr (std::is_same_v<E, event::FreeSpaceFileDeleted>) {
          say(Msg::FreeSpaceFileDeleted, e.path, e.mark);
        } else if constexpr (std::is_same_v<E, event::NothingLeftToDelete>) {
          say(Msg::NothingLeftToDelete, e.mark);
        } else if constexpr (std::is_same_v<E, event::ClockUnsynchronised>) {
          say(Msg::ClockUnsynchronised);
        } else if constexpr (std::is_same_v<E, event::ClockStepped>) {
          if (e.seconds > 0) say(Msg::ClockSteppedForward, e.seconds);
          else say(Msg::ClockSteppedBack, -e.seconds);
        } else if constexpr (std::is_same_v<E, event::Error>) {
          error(e);
        } else if constexpr (std::is_same_v<E, event::RunEnded>) {
          runEnded(e);
        }
        // FileOpened, FileFinished: the console has nothing to say.
      },
      event);
}

void ConsoleSink::statusLine(const std::string& line) {
  if (!out_.logLines()) {
    if (statusOut_) statusOut_(line);
    return;
  }
  const SteadyTime now = clock_.steadyNow();
  pending_ = toLogLines(line);
  // The first line at once, then one a minute.
  if (nextLogTime_ && now < *nextLogTime_) return;
  out_.write(Stream::Err, pending_);
  pending_.clear();
  nextLogTime_ = now + kLogInterval;
}

void ConsoleSink::error(const event::Error& e) {
  const auto say = [this](const auto& message, const auto&... args) { out_.say(message, args...); };
  const auto code = static_cast<unsigned long>(e.code);
  switch (e.what) {
    case event::Failure::NoDevice: return say(Msg::NoDevice);
    case event::Failure::DeviceOpen: return say(Msg::DeviceOpenError, e.text);
    case event::Failure::FileCreation:
    case event::Failure::FileWrite: {
      const bool creating = e.what == event::Failure::FileCreation;
      say(Msg::FileErrorLead,
          out_.format(creating ? Msg::FileCreationError : Msg::FileWriteError));
      return say(Msg::FileErrorSystem, e.text);
    }
    case event::Failure::EncoderInit: return say(Msg::EncoderInitError, code);
    case event::Failure::EncodeChunk: return say(Msg::EncodeChunkFailed, code);
    case event::Failure::EncoderFlush: return say(Msg::DeinitStreamFailed, code);
  }
}

// The line feed that closes the status line, then, in a log, the losses.
void ConsoleSink::runEnded(const event::RunEnded& e) {
  if (!e.recorded) return;
  out_.say(Msg::EndOfRecording);
  if (!out_.logLines()) return;
  const RunTotals& t = e.totals;
  const auto overrunMs = static_cast<unsigned long long>(t.overrunMs);
  if (!watchesDeadAir_) {
    out_.say(Msg::LogLosses, t.overruns, overrunMs, t.bufferOverflows);
    return;
  }
  const Hms dead = splitMs(t.deadAirMs);
  out_.say(Msg::LogLossesDeadAir, t.overruns, overrunMs, t.bufferOverflows, dead.hours,
           dead.minutes, dead.seconds, t.deadAirTimes);
}

}  // namespace vorta
