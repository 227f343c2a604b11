#include "app/RunReport.h"

#include "platform/Terminal.h"

namespace vorta {

RunReport::RunReport(const Settings& settings, const TextOutput& text, Clock& clock)
    : notifier_(ServiceNotifier::fromEnvironment()),
      console_({[logLines = text.logLines()](Stream stream, std::string_view bytes) {
                  writeToStream(stream, bytes, logLines);
                },
                [](std::string_view line) { writeRawStderr(line.data(), line.size()); }}),
      text_(text.to(&console_)),
      consoleSink_(text_, settings.deadAirMs != 0,
                   [this](std::string_view line) { console_.status(line); }, clock),
      notifySink_(notifier_, settings.language) {
  reporter_.add(consoleSink_);
  reporter_.add(notifySink_);
  if (!settings.statusFile.empty()) reporter_.add(statusFile_.emplace(settings, text_, clock));
  if (!settings.onEvent.empty()) reporter_.add(hooks_.emplace(settings, text_, clock));
}

void RunReport::finish(const std::function<bool()>& giveUp) {
  if (hooks_) hooks_->finish(Hooks::kExitWait, giveUp);
  if (statusFile_) statusFile_->finish(giveUp() ? std::chrono::milliseconds(0) : std::chrono::seconds(5));
  console_.finish(giveUp);
}

}  // namespace vorta
