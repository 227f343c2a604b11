// The file is written on a WriterThread named vorta-status: once a second,
// and once more with the final state at finish(); the state it writes is
// copied under the writer's mutex. The thread ends once the final state is
// written.
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

// What an event changes in the document.
void apply(StatusState& s, const RunEvent& event) {
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

StatusFile::StatusFile(const Settings& settings, const TextOutput& out, Clock& clock)
    : target_(std::make_shared<Target>(
          Target{settings, out, clock, currentProcessId(), clock.wallNow()})),
      writer_("vorta-status",
              {[] { return false; }, [this](bool finishing) { return take(finishing); }, kInterval}) {}

StatusFile::~StatusFile() { finish(std::chrono::seconds(5)); }

void StatusFile::on(const RunEvent& event) {
  writer_.update([&] { apply(state_, event); });
}

void StatusFile::finish(std::chrono::milliseconds wait) { writer_.finish(wait); }

// Writer thread, under the mutex: the state as it is now; the last write
// once finishing.
std::optional<WriterThread::Write> StatusFile::take(bool finishing) {
  if (finalTaken_) return std::nullopt;
  finalTaken_ = finishing;
  return [target = target_, state = state_] { target->write(state); };
}

void StatusFile::Target::write(const StatusState& state) {
  const std::string doc = statusDocument(settings, state, processId, started, clock.wallNow());
  const Status written = replaceFileWhole(settings.statusFile, doc);
  if (written.ok()) {
    failing = false;
    return;
  }
  if (failing) return;
  failing = true;
  out.say(Msg::StatusFileFailed, settings.statusFile, written.error().text);
}

}  // namespace vorta
