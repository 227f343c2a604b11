#include "monitor/StatusRelay.h"

#include <utility>

#include "base/LogLines.h"
#include "base/Messages.h"
#include "platform/Clock.h"
#include "platform/Notify.h"

namespace vorta {

StatusRelay::StatusRelay(RawWriter terminal, bool logLines, const ServiceNotifier& notifier,
                         Clock& clock)
    : terminal_(std::move(terminal)), logLines_(logLines), notifier_(notifier), clock_(clock) {}

void StatusRelay::write(const char* bytes, std::size_t length) {
  if (!logLines_) {
    if (terminal_) terminal_(bytes, length);
    if (!notifier_.enabled()) return;
  }
  std::string line = toLogLines(std::string_view(bytes, length));
  if (notifier_.enabled()) {
    std::string status = "STATUS=" + line;
    if (!status.empty() && status.back() == '\n') status.pop_back();
    static_cast<void>(notifier_.send(status));  // a lost status is no reason to stop
  }
  if (!logLines_) return;
  const SteadyTime now = clock_.steadyNow();
  pending_ = std::move(line);
  // The first line at once, then one a minute.
  if (nextLogTime_ && now < *nextLogTime_) return;
  writeText(Stream::Err, pending_);
  pending_.clear();
  nextLogTime_ = now + kLogInterval;
}

void StatusRelay::finish() {
  if (!logLines_ || pending_.empty()) return;
  writeText(Stream::Err, pending_);
  pending_.clear();
}

}  // namespace vorta
