// What a recording run reports while it runs, as typed values. The code that
// notices something posts one of these to the run's Reporter; the sinks
// (console, log, service manager, status file, hooks) decide how each reads.
// The figures travel as numbers: no sink recovers a count from a text.
//
// Events are plain values, copied into each sink that keeps them; any thread
// may make one.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "base/Settings.h"

namespace vorta {

// What the run has lost so far, counted where it happened: overruns (a stall
// that costs sound is one) and their sound by the capture loop, buffer
// overflows by the capture callback, dead air by the level watch.
struct RunTotals {
  std::uint32_t overruns = 0;
  std::uint64_t overrunMs = 0;  // about this much sound the overruns lost
  std::uint32_t bufferOverflows = 0;
  std::int64_t deadAirMs = 0;  // in all, a stretch still under way included
  std::uint32_t deadAirTimes = 0;
  bool deadAirNow = false;  // the input is in dead air at the moment
};

// One reading of the recording, once a second.
struct StatusFigures {
  std::uint64_t bytesWritten = 0;  // MP3 bytes in the files
  double encodedSeconds = 0;       // sound encoded
  std::uint32_t ringSize = 0;      // the working buffer, bytes
  std::uint32_t ringHeld = 0;      // of which recorded sound not yet encoded
  double cpuPercent = 0;           // the process, all threads
  int meterChannels = 0;           // --meter: the peaks shown (1 or 2); 0: none
  std::int32_t peakLeft = 0, peakRight = 0;  // largest |sample| of the last second
  std::uint64_t clippedSamples = 0;
  RunTotals totals;
};

namespace event {

// The encoder is ready and recording goes on until ESC (the engine's version).
struct RecordingStarted {
  unsigned engineMajor = 0, engineMinor = 0;
};
struct StatusTick {
  StatusFigures figures;
};
// Sound the input could not deliver (an overrun, or a stall of the process).
struct Overrun {
  int lostMs = 0;
};
// The working buffer was full: a block of sound was dropped.
struct BufferOverflow {};
struct DeadAirBegan {
  std::int64_t afterMs = 0;  // --dead-air
};
struct DeadAirEnded {
  std::int64_t lastedMs = 0;
};
// The input is stopped and the encoder has drained: no more status ticks.
struct RecordingStopped {};
// The end of a run that watched for dead air: its totals.
struct DeadAirSummary {
  std::int64_t totalMs = 0;
  std::uint32_t times = 0;
};
// The input stopped working mid-run; the recording ends.
struct InputLost {
  std::string reason;  // the system's text
};
struct FileOpened {
  std::string name;
};
// A file is complete on disk (synced): this run's bytes in it, and the
// seconds of sound encoded into it.
struct FileFinished {
  std::string name;
  std::uint64_t bytes = 0;
  double seconds = 0;
};
// A file's time map could not be written; the recording goes on without it.
struct TimeMapFailed {
  std::string name;    // the map's
  std::string reason;  // the system's text
};
struct OldFileDeleted {
  std::string path;
  int keepDays = 0;
};
// --keep-free: a file deleted because the free space was below the mark.
struct FreeSpaceFileDeleted {
  std::string path;
  std::string mark;  // as given: 500M, 10%
};
// --keep-free: the free space is below the mark and nothing of the pattern's
// is left to delete; the recording goes on.
struct NothingLeftToDelete {
  std::string mark;
};
// The system says nobody keeps its clock in step (at the start, then hourly).
struct ClockUnsynchronised {};
// The wall clock was set while recording: forward (> 0) or back (< 0).
struct ClockStepped {
  double seconds = 0;
};

// A failure that ends the run or its encoder.
enum class Failure {
  NoDevice,       // no capture device
  DeviceOpen,     // the device would not open or start (text)
  FileCreation,   // text: the system's
  FileWrite,      // text: the system's
  EncoderInit,    // code: the engine's
  EncodeChunk,    // code
  EncoderFlush,   // code
};
// The failure's name in the status file and the hooks' environment.
constexpr const char* failureName(Failure what) {
  switch (what) {
    case Failure::NoDevice: return "no-device";
    case Failure::DeviceOpen: return "device-open";
    case Failure::FileCreation: return "file-creation";
    case Failure::FileWrite: return "file-write";
    case Failure::EncoderInit: return "encoder-init";
    case Failure::EncodeChunk: return "encode";
    case Failure::EncoderFlush: return "encoder-flush";
  }
  return "";
}
struct Error {
  Failure what = Failure::NoDevice;
  std::string text;
  long code = 0;
};

// The run is over, everything is written: the process ends with `code`.
struct RunEnded {
  ExitCode code = ExitCode::Ok;
  bool recorded = false;  // false: the run ended before the recording started
  RunTotals totals;
};

}  // namespace event

using RunEvent =
    std::variant<event::RecordingStarted, event::StatusTick, event::Overrun,
                 event::BufferOverflow, event::DeadAirBegan, event::DeadAirEnded,
                 event::RecordingStopped, event::DeadAirSummary, event::InputLost, event::FileOpened, event::FileFinished,
                 event::TimeMapFailed, event::OldFileDeleted, event::FreeSpaceFileDeleted, event::NothingLeftToDelete,
                 event::ClockUnsynchronised, event::ClockStepped, event::Error, event::RunEnded>;

}  // namespace vorta
