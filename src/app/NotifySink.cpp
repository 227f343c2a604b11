#include "app/NotifySink.h"

#include <string>

#include "base/LogLines.h"
#include "monitor/StatusLine.h"
#include "platform/Notify.h"

namespace vorta {

void NotifySink::on(const RunEvent& event) {
  const auto* tick = std::get_if<event::StatusTick>(&event);
  if (!tick || !notifier_.enabled()) return;
  std::string status = "STATUS=" + toLogLines(statusLineText(tick->figures, language_));
  if (status.back() == '\n') status.pop_back();
  static_cast<void>(notifier_.send(status));  // a lost status is no reason to stop
}

}  // namespace vorta
