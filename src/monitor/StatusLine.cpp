#include "monitor/StatusLine.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "control/Messages.h"
#include "control/RunState.h"
#include "encode/RingBuffer.h"

namespace vorta {
namespace {

// Truncates toward zero into a 32-bit int. Values outside the range are
// clamped: converting them directly would be undefined behaviour.
int truncateToInt(double x) {
  if (std::isnan(x)) return 0;
  if (x >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (x <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(x);
}

// Integer part and tenths digit, both truncated, never rounded: 1.49 shows
// as 1.4 so a figure never claims more than it has reached.
struct Tenths {
  int whole;
  int tenth;
};

Tenths splitTenths(double x) {
  const int whole = truncateToInt(x);
  int tenth = truncateToInt((x - whole) * 10.0);
  if (tenth < 0) tenth = 0;
  if (tenth > 9) tenth = 9;  // only when x was clamped
  return {whole, tenth};
}

}  // namespace

StatusLine::StatusLine(const RunState& run, RingBuffer& pcmRing, Clock& clock, RawWriter write)
    : run_(run), pcmRing_(pcmRing), cpu_(clock), write_(std::move(write)) {}

void StatusLine::prepare() {
  withCpu_ = run_.platformId == 2;
  format_ = text(withCpu_ ? Msg::StatusFull : Msg::StatusShort);
  if (withCpu_) cpu_.start();
}

std::string StatusLine::format() {
  if (!format_) prepare();
  const int seconds = truncateToInt(run_.encodedSeconds.load(std::memory_order_relaxed));
  const double kilobytes =
      static_cast<double>(run_.bytesWritten.load(std::memory_order_relaxed)) * 0.0009765625;

  // In double: (size - held) * 100 overflows 32 bits for rings above 42 MB.
  const std::uint32_t size = pcmRing_.size();
  std::uint32_t held = pcmRing_.available();
  if (held > size) held = size;
  const double freeShare =
      size == 0 ? 0.0 : static_cast<double>(size - held) * 100.0 / static_cast<double>(size);

  const double cpu = withCpu_ ? cpu_.sample() : 0.0;

  const Tenths kb = splitTenths(kilobytes);
  const Tenths fr = splitTenths(freeShare);
  const Tenths cp = splitTenths(cpu);
  // Hours are not reduced modulo 24: a run of 25 hours shows 25:..
  const int hours = seconds / 3600;
  const int minutes = (seconds / 60) % 60;
  const int secs = seconds % 60;

  char line[kLineBytes];
  const int n = std::snprintf(line, sizeof line, format_, kb.whole, kb.tenth, hours, minutes,
                              secs, fr.whole, fr.tenth, cp.whole, cp.tenth);
  if (n < 0) return std::string();
  // snprintf never writes past the buffer; a line that did not fit (none can
  // with the catalogue's texts) is cut at the buffer's end.
  const std::size_t length =
      static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
  return std::string(line, length);
}

void StatusLine::print() {
  const std::string line = format();
  if (write_) write_(line.data(), line.size());
}

}  // namespace vorta
