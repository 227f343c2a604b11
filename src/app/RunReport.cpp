#include "app/RunReport.h"

#include "platform/Terminal.h"

namespace vorta {

RunReport::RunReport(const Settings& settings, Clock& clock)
    : notifier_(ServiceNotifier::fromEnvironment()),
      console_({writeToStream,
                [](std::string_view line) { writeRawStderr(line.data(), line.size()); }}),
      consoleSink_({settings.language, settings.logLines, settings.deadAirMs != 0},
                   [this](std::string_view line) { console_.status(line); }, clock),
      notifySink_(notifier_, settings.language) {
  setTextSink(&console_);  // before any other thread can write a text
  reporter_.add(consoleSink_);
  reporter_.add(notifySink_);
}

void RunReport::finish(const std::function<bool()>& giveUp) { console_.finish(giveUp); }

}  // namespace vorta
