// The status line: MP3 kilobytes written, time recorded, free share of the
// PCM ring and the process's CPU usage; with the meter on, also each
// channel's peak over the last second in dBFS and the clipped samples.
// Rewritten in place: it ends with a carriage return and no line feed.
//
// StatusLine takes the readings (StatusFigures); statusLineText turns them
// into the line in a language, for whichever sink shows it.
//
// Threads: a StatusLine belongs to one thread, the one that runs the capture
// loop; it owns the CPU meter. The values read are loaded without waiting:
// RunState's bytesWritten and encodedSeconds (atomics the encoder thread
// stores), the meter's peakLeft, peakRight and clippedSamples (the capture
// callback's) and the ring's available(). They are only displayed, so
// relaxed loads do: each value is whole, and nothing else is read through
// them. statusLineText is a pure function.
#pragma once

#include <cstdint>
#include <string>

#include "base/RunEvents.h"
#include "base/Settings.h"
#include "monitor/CpuMeter.h"

namespace vorta {

struct RunState;
class RingBuffer;
class Clock;

// A peak (the largest |sample|) in dBFS, rounded to the tenth: 32767 is 0.0;
// 0 shows as -96.0, the floor of 16-bit sound, below the quietest sample's -90.3.
double peakDbfs(std::int32_t peak);

class StatusLine {
 public:
  StatusLine(const RunState& run, RingBuffer& pcmRing, Clock& clock);

  // Before start(): the readings also carry the meter of this many channels.
  void showMeter(int channels) { meterChannels_ = channels; }
  // Once, before the device opens: starts the CPU meter. sample() starts it
  // if nobody has.
  void start();
  // One reading (takes a CPU reading); the totals are the caller's.
  StatusFigures sample(const RunTotals& totals = {});

 private:
  const RunState& run_;
  RingBuffer& pcmRing_;
  CpuMeter cpu_;
  bool started_ = false;
  int meterChannels_ = 0;  // 0: no meter
};

// The line in `language`, in the console's codeset.
std::string statusLineText(const StatusFigures& figures, Language language);

}  // namespace vorta
