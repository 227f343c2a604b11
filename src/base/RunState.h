// State shared by the threads of one recording run.
//
// Threads: the main thread (capture loop, status line), the sound input's
// thread (capture callback) and the encoder thread. Every field that
// more than one of them touches is atomic; the comment on each field says who
// writes it, who reads it and why its memory ordering is what it is.
//
// The program has one RunState for the whole process; tests make their own.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/TimeStamps.h"
#include "platform/Event.h"

namespace vorta {

struct RunState {
  // Raised once by the capture loop when the recording ends. Release on the
  // increment, acquire on the loads: the callback and encoder that see it set
  // also see everything the capture loop did before (the device stopped).
  std::atomic<std::uint32_t> captureStopped{0};

  // Raised once by the encoder thread's entry as its last act. The release
  // increment publishes encoderFailed and the closed file; readers acquire.
  std::atomic<std::uint32_t> encoderDone{0};

  // Set by a second stop signal (Ctrl+C, SIGTERM, SIGHUP): whoever drains
  // ends at once, the file cut back to its last whole frame, and the console
  // is not waited for. Stored by the signal handler (lock-free, so
  // async-signal-safe); relaxed, since it publishes nothing else.
  std::atomic<bool> endAtOnce{false};

  // Whether the encoder ended on a failure (posted as event::Error by its
  // thread): the main thread picks the exit code from it. Written before
  // encoderDone is raised, read after it is seen; relaxed is enough because
  // encoderDone orders it.
  std::atomic<bool> encoderFailed{false};

  // Split request: the wall-clock moment (seconds since the epoch, never 0)
  // of the newest request for a new file; 0 when none waits. Posted by the
  // capture loop, taken by the capture callback with one exchange, which
  // passes it on as the tag of its next ring write's mark (the encoder names
  // the file from it), and put back with a compare-exchange when that write
  // stored nothing: a request is never cleared unseen and never overwrites a
  // newer one. The value is the whole message, so relaxed ordering will do.
  std::atomic<std::int64_t> splitRequest{0};

  // Written only by the encoder thread, read by the status line at any
  // moment. Each is one whole value; relaxed, since they are only displayed.
  std::atomic<double> encodedSeconds{0.0};
  std::atomic<std::uint64_t> bytesWritten{0};

  // --meter. Written only by the capture callback on the input's thread, read
  // by the status line: the largest |sample| of each channel over the last
  // whole second of input (0..32768), and the samples at full scale since
  // the start. Relaxed: each is one whole value that is only displayed; a
  // line that pairs one second's left peak with the next second's right one
  // is harmless.
  std::atomic<std::int32_t> peakLeft{0};
  std::atomic<std::int32_t> peakRight{0};
  std::atomic<std::uint64_t> clippedSamples{0};

  // The time map's stamps, from the capture callback to the encoder (its own
  // exclusion, see TimeStamps.h).
  TimeStampQueue timeStamps;

  // Auto-reset events, opened by the capture loop before the input opens and
  // closed after it is closed. captureEvent wakes the capture loop (the
  // input's trouble), encoderEvent the encoder (a block in the ring). They
  // live as long as the RunState; a closed event returns from waits at once.
  Event captureEvent;
  Event encoderEvent;
};

}  // namespace vorta
