#include "monitor/StatusLine.h"

#include <climits>
#include <cmath>

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

StatusLine::StatusLine(const RunState& run, RingBuffer& pcmRing, Clock& clock)
    : run_(run), pcmRing_(pcmRing), cpu_(clock) {}

void StatusLine::start() {
  cpu_.start();
  started_ = true;
}

StatusFigures StatusLine::sample(const RunTotals& totals) {
  if (!started_) start();
  StatusFigures f;
  f.bytesWritten = run_.bytesWritten.load(std::memory_order_relaxed);
  f.encodedSeconds = run_.encodedSeconds.load(std::memory_order_relaxed);
  f.ringSize = pcmRing_.size();
  f.ringHeld = pcmRing_.available();
  f.cpuPercent = cpu_.sample();
  f.meterChannels = meterChannels_;
  f.peakLeft = run_.peakLeft.load(std::memory_order_relaxed);
  f.peakRight = run_.peakRight.load(std::memory_order_relaxed);
  f.clippedSamples = run_.clippedSamples.load(std::memory_order_relaxed);
  f.totals = totals;
  return f;
}

std::string statusLineText(const StatusFigures& f, Language language) {
  const int seconds = truncateToInt(f.encodedSeconds);
  const Tenths kb = kilobytes(f.bytesWritten);
  const Tenths fr = freeShare(f.ringSize, f.ringHeld);
  const Tenths cp = percentTenths(f.cpuPercent);
  const HoursMinutesSeconds t = splitHours(std::chrono::seconds(seconds));
  const int hours = static_cast<int>(t.hours), minutes = t.minutes, secs = t.seconds;
  const double left = peakDbfs(f.peakLeft);
  const double right = peakDbfs(f.peakRight);
  const auto clipped = static_cast<unsigned long long>(f.clippedSamples);
  if (f.meterChannels == 0)
    return formatText(language, Msg::Status, kb.whole, kb.tenth, hours, minutes, secs, fr.whole,
                      fr.tenth, cp.whole, cp.tenth);
  if (f.meterChannels == 1)
    return formatText(language, Msg::StatusMeterMono, kb.whole, kb.tenth, hours, minutes, secs,
                      fr.whole, fr.tenth, cp.whole, cp.tenth, left, clipped);
  return formatText(language, Msg::StatusMeterStereo, kb.whole, kb.tenth, hours, minutes, secs,
                    fr.whole, fr.tenth, cp.whole, cp.tenth, left, right, clipped);
}

}  // namespace vorta
