// The status line: MP3 kilobytes written, time recorded, free share of the
// PCM ring and the process's CPU usage. Rewritten in place:
// it ends with a carriage return and no line feed.
//
// Threads: main thread only (the capture loop). The values it shows are read
// without locks from atomics that the encoder thread writes (RunState) and
// from the ring's own available(); they are only displayed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "monitor/CpuMeter.h"

namespace vorta {

struct RunState;
class RingBuffer;
class Clock;

// Where a formatted line goes; the program writes it raw to file handle 2.
using RawWriter = std::function<void(const char* bytes, std::size_t length)>;

class StatusLine {
 public:
  // The line buffer's size: the longest line the value ranges allow fits.
  // 100 bytes held every line when the Russian texts were one byte a letter;
  // in UTF-8 the Cyrillic letters take two and the longest line is 115.
  static constexpr std::size_t kLineBytes = 128;

  StatusLine(const RunState& run, RingBuffer& pcmRing, Clock& clock, RawWriter write);

  // Once, before the device opens: picks the format in the selected language
  // and starts the CPU meter.
  void prepare();
  // Formats one line and writes it.
  void print();
  // The line print() would write now (takes a CPU reading).
  std::string format();

 private:
  const RunState& run_;
  RingBuffer& pcmRing_;
  CpuMeter cpu_;
  RawWriter write_;
  const char* format_ = nullptr;
};

}  // namespace vorta
