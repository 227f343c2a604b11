#include "monitor/StatusLine.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "base/HoursMinutesSeconds.h"
#include "base/Messages.h"
#include "base/RunState.h"
#include "base/RingBuffer.h"

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

// From a count of tenths, exact. Larger than an int can show: the largest.
Tenths fromTenths(std::uint64_t tenths) {
  if (tenths / 10 > static_cast<std::uint64_t>(INT_MAX)) return {INT_MAX, 9};
  return {static_cast<int>(tenths / 10), static_cast<int>(tenths % 10)};
}

// Kilobytes (1024 bytes) to the tenth, in integers: a double would show
// some exact tenths one lower (x.8 is stored as x.7999...).
Tenths kilobytes(std::uint64_t bytes) {
  const std::uint64_t whole = bytes / 1024;
  const std::uint64_t tenth = (bytes % 1024) * 10 / 1024;
  if (whole > static_cast<std::uint64_t>(INT_MAX)) return {INT_MAX, 9};
  return {static_cast<int>(whole), static_cast<int>(tenth)};
}

// The free share of the ring in percent, to the tenth, in 64-bit integers:
// exact, and (size - held) * 1000 cannot overflow.
Tenths freeShare(std::uint32_t size, std::uint32_t held) {
  if (size == 0) return {0, 0};
  if (held > size) held = size;
  return fromTenths(static_cast<std::uint64_t>(size - held) * 1000 / size);
}

// The CPU figure is a double from the meter. The tiny allowance only undoes
// binary representation error (25.3 stored as 25.29999...); it never lifts a
// figure to the next tenth.
Tenths percentTenths(double percent) {
  if (!(percent > 0.0)) return {0, 0};
  return fromTenths(static_cast<std::uint64_t>(truncateToInt(percent * 10.0 + 1e-9)));
}

}  // namespace

double peakDbfs(std::int32_t peak) {
  if (peak <= 0) return -96.0;
  return std::round(200.0 * std::log10(peak / 32767.0)) / 10.0;
}

StatusLine::StatusLine(const RunState& run, RingBuffer& pcmRing, Clock& clock, RawWriter write)
    : run_(run), pcmRing_(pcmRing), cpu_(clock), write_(std::move(write)) {}

void StatusLine::prepare() {
  format_ = text(meterChannels_ == 0   ? Msg::Status
                : meterChannels_ == 1 ? Msg::StatusMeterMono
                                      : Msg::StatusMeterStereo);
  cpu_.start();
}

std::string StatusLine::format() {
  if (!format_) prepare();
  const int seconds = truncateToInt(run_.encodedSeconds.load(std::memory_order_relaxed));
  const Tenths kb = kilobytes(run_.bytesWritten.load(std::memory_order_relaxed));
  const Tenths fr = freeShare(pcmRing_.size(), pcmRing_.available());
  const Tenths cp = percentTenths(cpu_.sample());
  const HoursMinutesSeconds t = splitHours(std::chrono::seconds(seconds));
  const int hours = static_cast<int>(t.hours), minutes = t.minutes, secs = t.seconds;

  char line[kLineBytes];
  const double left = peakDbfs(run_.peakLeft.load(std::memory_order_relaxed));
  const double right = peakDbfs(run_.peakRight.load(std::memory_order_relaxed));
  const auto clipped =
      static_cast<unsigned long long>(run_.clippedSamples.load(std::memory_order_relaxed));
  int n = 0;
  if (meterChannels_ == 0)
    n = std::snprintf(line, sizeof line, format_, kb.whole, kb.tenth, hours, minutes, secs,
                      fr.whole, fr.tenth, cp.whole, cp.tenth);
  else if (meterChannels_ == 1)
    n = std::snprintf(line, sizeof line, format_, kb.whole, kb.tenth, hours, minutes, secs,
                      fr.whole, fr.tenth, cp.whole, cp.tenth, left, clipped);
  else
    n = std::snprintf(line, sizeof line, format_, kb.whole, kb.tenth, hours, minutes, secs,
                      fr.whole, fr.tenth, cp.whole, cp.tenth, left, right, clipped);
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
