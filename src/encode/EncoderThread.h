// The encoder thread: drains pcmRing through the MP3 engine into the output
// files, starts a new file at each split mark, enforces the time limit and
// raises its own priority while pcmRing fills up.
#pragma once

#include <thread>

#include "base/Reporter.h"
#include "base/RingBuffer.h"
#include "base/RunState.h"
#include "base/Settings.h"
#include "encode/EncoderFailure.h"
#include "encode/FilesInUse.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Mp3Engine.h"
#include "platform/Threads.h"

namespace vorta {

// The calling thread's priority level (see platform/Threads.h); a seam so
// tests can watch the adaptive steps.
class PrioritySeam {
 public:
  virtual ~PrioritySeam() = default;
  virtual PriorityLevel current() = 0;
  virtual void set(PriorityLevel level) = 0;
};

// The system's levels, as `priorities` counts them.
class SystemPriority final : public PrioritySeam {
 public:
  explicit SystemPriority(ThreadPriorities priorities) : priorities_(priorities) {}
  PriorityLevel current() override { return priorities_.current(); }
  void set(PriorityLevel level) override { priorities_.setCurrent(level); }

 private:
  const ThreadPriorities priorities_;
};

struct EncoderContext {
  const Settings& settings;
  RunState& run;
  RingBuffer& pcmRing;  // this thread is its only reader
  Mp3Engine& engine;
  FileSystem& files;
  Clock& clock;  // names split files from their marks; tells a file of this hour
  PrioritySeam& priority;
  const Reporter& reporter;  // the start, files opened and finished, failures
  // Told of each file before it is opened, so retention leaves it alone
  // (none: no retention).
  FilesInUse* inUse = nullptr;
};

// The engine's parameters for the settings.
Mp3Params mp3ParamsFor(const Settings& settings);

// The encoder body, run on the calling thread: nothing after a normal end
// (capture stopped and pcmRing drained, or the time limit passed), else the
// failure that ended it (posted by nobody yet).
EncoderStatus runEncoder(const EncoderContext& context);

// Starts the thread `vorta-encoder`, which first sets its priority to
// `startPriority` (threads inherit their creator's), runs the body, posts its
// failure if it ended on one, stores whether it did in run.encoderFailed and
// raises run.encoderDone as its last act.
// The destructor joins.
class EncoderThread {
 public:
  EncoderThread(const EncoderContext& context, PriorityLevel startPriority);
  ~EncoderThread();
  EncoderThread(const EncoderThread&) = delete;
  EncoderThread& operator=(const EncoderThread&) = delete;

 private:
  std::thread thread_;
};

}  // namespace vorta
