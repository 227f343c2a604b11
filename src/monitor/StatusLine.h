// The status line: MP3 kilobytes written, time recorded, free share of the
// PCM ring and the process's CPU usage; with the meter on, also each
// channel's peak over the last second in dBFS and the clipped samples. Rewritten in place: it ends with a
// carriage return and no line feed.
//
// Threads: one thread only, the one that runs the capture loop; it owns the
// CPU meter and the chosen format. The values shown are loaded without
// waiting: RunState's bytesWritten and encodedSeconds (atomics the encoder
// thread stores), the meter's peakLeft, peakRight and clippedSamples (the
// capture callback's) and the ring's available(). They are only displayed, so
// relaxed loads do: each value is whole, and nothing else is read through
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "monitor/CpuMeter.h"

namespace vorta {

struct RunState;
class RingBuffer;
class Clock;

// Where a formatted line goes; the program writes it raw to file handle 2.
using RawWriter = std::function<void(const char* bytes, std::size_t length)>;

// A peak (the largest |sample|) in dBFS, rounded to the tenth: 32767 is 0.0;
// 0 shows as -96.0, the floor of 16-bit sound, below the quietest sample's -90.3.
double peakDbfs(std::int32_t peak);

class StatusLine {
 public:
  // The line buffer's size: the longest line the value ranges allow (the
  // Russian one with the meter at its largest figures, 185 bytes in UTF-8) fits.
  static constexpr std::size_t kLineBytes = 192;

  StatusLine(const RunState& run, RingBuffer& pcmRing, Clock& clock, RawWriter write);

  // Before prepare(): the line also shows the meter of this many channels.
  void showMeter(int channels) { meterChannels_ = channels; }
  // Once, before the device opens: picks the format in the selected language
  // and starts the CPU meter. print() prepares if nobody has.
  void prepare();
  // Formats one line, taking one CPU reading, and writes it.
  void print();
  // The line print() would write now (takes a CPU reading).
  std::string format();

 private:
  const RunState& run_;
  RingBuffer& pcmRing_;
  CpuMeter cpu_;
  RawWriter write_;
  const char* format_ = nullptr;
  int meterChannels_ = 0;  // 0: no meter
};

}  // namespace vorta
