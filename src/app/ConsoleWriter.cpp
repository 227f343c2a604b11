// The console's writing runs on a WriterThread named vorta-console: it
// takes the texts in order, a status line when no text waits, and ends when
// finish() has been called and nothing is left to write.
#include "app/ConsoleWriter.h"

#include <utility>

namespace vorta {

ConsoleWriter::ConsoleWriter(Output output)
    : output_(std::make_shared<const Output>(std::move(output))),
      writer_("vorta-console", {[this] { return !texts_.empty() || status_.has_value(); },
                                [this](bool) { return take(); }, std::nullopt}) {}

ConsoleWriter::~ConsoleWriter() { finish(); }

void ConsoleWriter::write(Stream stream, std::string_view bytes) {
  writer_.update([&] {
    if (texts_.size() >= kMaxQueued) return;
    if (status_) texts_.emplace_back(std::nullopt, std::move(*status_));
    status_.reset();
    texts_.emplace_back(stream, std::string(bytes));
  });
}

void ConsoleWriter::status(std::string_view line) {
  writer_.update([&] { status_ = std::string(line); });
}

void ConsoleWriter::finish(const std::function<bool()>& giveUp) {
  writer_.finish(std::chrono::milliseconds::max(), giveUp);
}

// Writer thread, under the mutex.
std::optional<WriterThread::Write> ConsoleWriter::take() {
  if (!texts_.empty()) {
    auto [stream, bytes] = std::move(texts_.front());
    texts_.pop_front();
    if (!stream) return [out = output_, line = std::move(bytes)] { out->status(line); };
    return [out = output_, stream = *stream, text = std::move(bytes)] { out->text(stream, text); };
  }
  if (!status_) return std::nullopt;
  std::string line = std::move(*status_);
  status_.reset();
  return [out = output_, line = std::move(line)] { out->status(line); };
}

}  // namespace vorta
