// The vorta-status thread. Waits on its condition variable for a second to
// pass or for finish(); owns the writing of the file (the state it writes is
// copied under the mutex); ends once the final state is written.
#include "app/StatusFile.h"

#include <fmt/format.h>

#include <type_traits>

#include "base/JsonText.h"
#include "base/Messages.h"
#include "base/UtcText.h"
#include "monitor/StatusLine.h"
#include "platform/Process.h"
#include "platform/ReplaceFile.h"
#include "platform/SoundInput.h"
#include "platform/Threads.h"

namespace vorta {
namespace {

constexpr std::chrono::seconds kInterval{1};

std::string formatObject(const Settings& s) {
  return JsonObject()
      .number("mpeg_version", mpegVersionNumber(s.mpegVersion), 1)
      .number("bitrate_kbps", std::int64_t{s.bitrate})
      .number("sample_rate_hz", std::int64_t{s.sampleRate})
      .text("channel_mode", channelModeName(s.channelMode))
      .text("quality", qualityName(s.quality))
      .json();
}

std::string lossesObject(const RunTotals& t) {
  return JsonObject()
      .number("overruns", std::uint64_t{t.overruns})
      .number("overrun_ms", t.overrunMs)
      .number("buffer_overflows", std::uint64_t{t.bufferOverflows})
      .json();
}

std::string deadAirObject(const RunTotals& t) {
  return JsonObject()
      .boolean("now", t.deadAirNow)
      .number("seconds", static_cast<double>(t.deadAirMs) / 1000, 1)
      .number("times", std::uint64_t{t.deadAirTimes})
      .json();
}

void addFigures(JsonObject& doc, const StatusFigures& f) {
  const double freePercent =
      f.ringSize == 0 ? 0 : 100.0 * (f.ringSize - std::min(f.ringHeld, f.ringSize)) / f.ringSize;
  doc.number("bytes", f.bytesWritten)
      .number("seconds", f.encodedSeconds, 1)
      .number("buffer_free_percent", freePercent, 1)
      .number("cpu_percent", f.cpuPercent, 1);
  if (f.meterChannels == 0) {
    doc.null("peak_dbfs").null("clipped_samples");
    return;
  }
  std::string peaks = fmt::format("[{:.1f}", peakDbfs(f.peakLeft));
  if (f.meterChannels > 1) peaks += fmt::format(",{:.1f}", peakDbfs(f.peakRight));
  doc.raw("peak_dbfs", peaks + "]").number("clipped_samples", f.clippedSamples);
}

}  // namespace

std::string statusDocument(const Settings& settings, const StatusState& state, long processId,
                           WallSeconds started, WallSeconds updated) {
  JsonObject doc;
  doc.text("state", state.state)
      .number("pid", std::int64_t{processId})
      .text("device", soundDeviceName(settings.device.c_str()))
      .raw("format", formatObject(settings))
      .boolean("utc", settings.utc);
  if (state.file.empty()) doc.null("file");
  else doc.text("file", state.file);
  addFigures(doc, state.figures.value_or(StatusFigures{}));
  doc.raw("losses", lossesObject(state.totals));
  if (settings.deadAirMs == 0) doc.null("dead_air");
  else doc.raw("dead_air", deadAirObject(state.totals));
  if (state.errorKind.empty())
    doc.null("last_error");
  else
    doc.object("last_error", JsonObject().text("kind", state.errorKind).text("text", state.errorText));
  doc.text("started", utcText(started)).text("updated", utcText(updated));
  if (state.exitCode) doc.number("exit_code", std::int64_t{*state.exitCode});
  else doc.null("exit_code");
  return doc.json() + "\n";
}

StatusFile::StatusFile(const Settings& settings, Clock& clock)
    : settings_(settings), clock_(clock), processId_(currentProcessId()),
      started_(clock.wallNow()), thread_([this] { run(); }) {}

StatusFile::~StatusFile() { finish(std::chrono::seconds(5)); }

void StatusFile::on(const RunEvent& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  StatusState& s = state_;
  std::visit(
      [&](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, event::StatusTick>) {
          if (s.state == "starting") s.state = "recording";
          s.figures = e.figures;
          s.totals = e.figures.totals;
        } else if constexpr (std::is_same_v<E, event::FileOpened>) {
          s.file = e.name;
        } else if constexpr (std::is_same_v<E, event::InputLost>) {
          s.errorKind = "input-lost", s.errorText = e.reason;
        } else if constexpr (std::is_same_v<E, event::Error>) {
          s.errorKind = event::failureName(e.what);
          s.errorText = e.text.empty() ? fmt::format("code {}", e.code) : e.text;
        } else if constexpr (std::is_same_v<E, event::RecordingStopped>) {
          s.state = "stopped";
        } else if constexpr (std::is_same_v<E, event::RunEnded>) {
          s.state = e.code == ExitCode::Ok ? "ended" : "failed";
          s.totals = e.totals;
          s.exitCode = static_cast<int>(e.code);
        }
      },
      event);
}

void StatusFile::finish(std::chrono::milliseconds wait) {
  if (!thread_.joinable()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  finishing_ = true;
  changed_.notify_all();
  if (!changed_.wait_for(lock, wait, [this] { return finalWritten_; })) {
    thread_.detach();  // a disk that hangs: the process ends around the thread
    return;
  }
  lock.unlock();
  thread_.join();
}

void StatusFile::run() {
  nameCurrentThread("vorta-status");
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait_for(lock, kInterval, [this] { return finishing_; });
    const bool final = finishing_;
    const StatusState state = state_;
    lock.unlock();
    write(state);
    lock.lock();
    if (final) {
      finalWritten_ = true;
      changed_.notify_all();
      return;
    }
  }
}

void StatusFile::write(const StatusState& state) {
  const std::string doc = statusDocument(settings_, state, processId_, started_, clock_.wallNow());
  const Status written = replaceFileWhole(settings_.statusFile, doc);
  if (written.ok()) {
    failing_ = false;
    return;
  }
  if (failing_) return;
  failing_ = true;
  writeText(Msg::StatusFileFailed.stream, formatText(settings_.language, Msg::StatusFileFailed,
                                                     settings_.statusFile, written.error().text));
}

}  // namespace vorta
