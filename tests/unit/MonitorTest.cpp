#include <gtest/gtest.h>

#include <regex>

#include "Fakes.h"
#include "base/HoursMinutesSeconds.h"
#include "base/JsonText.h"
#include "base/Messages.h"
#include "base/RingBuffer.h"
#include "base/RunState.h"
#include "monitor/ClockWatch.h"
#include "monitor/StatusLine.h"

namespace vorta {
namespace {

using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;  // 100 ns
constexpr std::int64_t kS = 10000000;  // a second in Ticks
constexpr Language kEn = Language::English, kRu = Language::Russian;

// Successive lines of one run: language (a change restarts the CPU meter), bytes and seconds encoded, ring bytes held, wall and CPU time passed.
// Figures are truncated, never rounded; the 5th CPU reading re-bases to half a second at 88.375 %.
struct Step { Language language; std::uint64_t bytes; double seconds; std::uint32_t held; std::int64_t wall, cpu; const char* line; };
const Step kSteps[] = {
    {kEn, 1535, 90061.9, 0, 0, 0, "Record: 1.4 kbytes (25:01:01), buffer free: 100.0%, CPU usage: 0.0%    \r"},
    {kEn, 16384, 1, 2, 0, 1, "Record: 16.0 kbytes (0:00:01), buffer free: 99.8%, CPU usage: 100.0%    \r"},
    {kEn, 1023, 59.99, 500, 2 * kS, kS / 2 - 1, "Record: 0.9 kbytes (0:00:59), buffer free: 50.0%, CPU usage: 25.2%    \r"},
    {kEn, 0, 3599.5, 1000, kS, 3 * kS, "Record: 0.0 kbytes (0:59:59), buffer free: 0.0%, CPU usage: 100.0%    \r"},
    {kEn, 1 << 20, 3600, 999, kS, 0, "Record: 1024.0 kbytes (1:00:00), buffer free: 0.1%, CPU usage: 88.3%    \r"},
    {kEn, 1 << 20, 3600, 0, kS / 2, 0, "Record: 1024.0 kbytes (1:00:00), buffer free: 100.0%, CPU usage: 44.6%    \r"},
    {kRu, ~0ull, 4e12, 0, kS, kS, "Записано: 2147483647.9 кб (596523:14:07), буфер: 100.0%, использование CPU: 100.0%    \r"}};

TEST(StatusLine, ExactLinesOfOneRun) {
  FakeClock clock;
  RunState run;
  RingBuffer ring(1000);
  std::vector<std::uint8_t> bytes(1000);
  StatusLine status(run, ring, clock);
  for (const Step& s : kSteps) {
    if (&s == kSteps || s.language != (&s)[-1].language) status.start();
    if (s.held > ring.available()) { ASSERT_TRUE(ring.write(bytes.data(), s.held - ring.available())); }
    if (s.held < ring.available()) { ASSERT_TRUE(ring.read(bytes.data(), ring.available() - s.held)); }
    run.bytesWritten.store(s.bytes);
    run.encodedSeconds.store(s.seconds);
    clock.steady += Ticks(s.wall);
    clock.cpu += Ticks(s.cpu);
    EXPECT_EQ(statusLineText(status.sample(), s.language), s.line);
  }
}

TEST(StatusLine, MeterShowsEachChannelsPeakInDbfsAndTheClippedSamples) {  // the longest line fits
  const struct { int channels; Language language; std::int32_t left, right; std::uint64_t clipped; const char* line; } rows[] = {
      {2, kEn, 32767, 16384, 7, "Record: 0.0 kbytes (0:00:00), buffer free: 100.0%, CPU usage: 0.0%, peak: 0.0/-6.0 dBFS, clipped: 7    \r"},
      {1, kEn, 1, 32768, 0, "Record: 0.0 kbytes (0:00:00), buffer free: 100.0%, CPU usage: 0.0%, peak: -90.3 dBFS, clipped: 0    \r"},
      {2, kRu, 0, 3, ~0ull, "Записано: 2147483647.9 кб (596523:14:07), буфер: 100.0%, использование CPU: 0.0%, пик: -96.0/-80.8 dBFS, перегрузок: 18446744073709551615    \r"}};
  for (const auto& r : rows) {
    FakeClock clock; RunState run; RingBuffer ring(1000);
    StatusLine status(run, ring, clock);
    status.showMeter(r.channels), status.start();
    if (r.language == kRu) run.bytesWritten.store(~0ull), run.encodedSeconds.store(4e12);
    run.peakLeft.store(r.left), run.peakRight.store(r.right), run.clippedSamples.store(r.clipped);
    EXPECT_EQ(statusLineText(status.sample(), r.language), r.line);
  }
}

// A Russian text formats its values as its English twin does: the same fields, in order.
TEST(Messages, RussianTextsHaveTheFieldsOfTheirEnglishTwins) {
  const std::regex field(R"(\{\{|\}\}|\{[^{}]*\})");
  const auto fields = [&](std::string_view text) {
    std::string all;
    for (std::cregex_iterator i(text.data(), text.data() + text.size(), field), end; i != end; ++i) all += i->str();
    return all;
  };
  for (const MessageTexts& m : allMessageTexts()) EXPECT_EQ(fields(m.russian), fields(m.english)) << m.name;
  EXPECT_EQ(fields(allMessageTexts().back().english), "{}{}{}{:02}{:02}{}{}{}{}{:.1f}{}");  // StatusMeterMono
}

TEST(HoursMinutesSeconds, HoursAreNotReducedAndFractionsAndNegativesDrop) {
  using namespace std::chrono;
  EXPECT_EQ(formatHours(seconds(90061)) + " " + formatHours(milliseconds(8999)) + " " +
                formatHours(seconds(-5)) + " " + formatHours(hours(596523) + seconds(847)),
            "25:01:01 0:00:08 0:00:00 596523:14:07");
}

// The status file's strings always parse: quotes, controls and bytes that are not UTF-8.
TEST(JsonText, StringsAreEscapedAndBytesThatAreNotUtf8BecomeTheReplacementCharacter) {
  const char* rows[][2] = {{"a\"b\\c", R"("a\"b\\c")"}, {"\t\x01", R"("\u0009\u0001")"},
                           {"кб \xE2\x82\xAC", "\"кб \xE2\x82\xAC\""}, {"\xFF\xC3(\xED\xA0\x80", "\"\uFFFD\uFFFD(\uFFFD\uFFFD\uFFFD\""}};
  for (const auto& r : rows) EXPECT_EQ(jsonString(r[0]), r[1]) << r[0];
  EXPECT_EQ(JsonObject().number("n", 1.25, 1).null("x").boolean("b", true).json(), R"({"n":1.2,"x":null,"b":true})");
}

// Successive passes: wall (seconds) and steady (ms) clocks moved, what the system says of the
// clock, the text. The sync state is asked at the first pass and an hour after each asking; a step
// is over 2 s.
TEST(ClockWatch, WarnsOnceOfAnUnsynchronisedClockAndLogsEachStep) {
  using enum ClockSync;
  using std::chrono::seconds, std::chrono::milliseconds;
  const std::string unsync = "\r\n* Warning: the system clock is not synchronised with a time source; file names and hours follow it as it is.\r\n";
  const struct { int wall, steady; ClockSync sync; std::string err; } passes[] = {
      {0, 0, Unsynchronised, unsync}, {1, 1000, Unsynchronised, ""},
      {3, 500, Unsynchronised, "\r\n* The system clock was set forward by 2.5 s.\r\n"},
      {-3600, 1000, Unsynchronised, "\r\n* The system clock was set back by 3601.0 s.\r\n"},
      {3, 1000, Unknown, ""}, {-1, 1000, Unknown, ""},
      {3600, 3600000, Unsynchronised, ""}, {3600, 3600000, Synchronised, ""},
      {3600, 3600000, Unknown, ""}, {3600, 3600000, Unsynchronised, unsync}};
  FakeClock clock;
  ClockSync sync = Unknown;
  KeptReport report;
  ClockWatch watch(clock, [&] { return sync; }, report.reporter);
  for (const auto& p : passes) {
    clock.wall += seconds(p.wall), clock.steady += milliseconds(p.steady), sync = p.sync;
    report.text.err.clear();
    watch.pass();
    EXPECT_EQ(report.text.err, p.err) << &p - passes;
  }
}

}  // namespace
}  // namespace vorta
