// The encoder thread: drains pcmRing through the MP3 engine into the output
// files, switches files at split marks, enforces the time limit and raises its
// own priority while pcmRing fills up.
#pragma once

#include <optional>
#include <thread>

#include "base/RunState.h"
#include "base/Settings.h"
#include "base/RingBuffer.h"
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
PrioritySeam& systemPriority();

struct EncoderContext {
  const Settings& settings;
  RunState& run;
  RingBuffer& pcmRing;  // this thread is its only reader
  RingBuffer& mp3Ring;  // this thread is its only user
  Mp3Engine& engine;
  FileSystem& files;
  PrioritySeam& priority;
};

// Bytes moved from mp3Ring to the file per write.
constexpr std::uint32_t kFileBlockBytes = 16384;
// Capacity of mp3Ring.
constexpr std::uint32_t kMp3RingBytes = 20480;

// The encoder body, run on the calling thread: 0 after a normal end (capture
// stopped and pcmRing drained, or the time limit passed), -1 after an error
// it has reported.
int runEncoder(const EncoderContext& context);

// Starts a thread that first applies `startPriority` (none: leaves the level
// alone), runs the body, stores its result in run.encoderFailed and raises
// run.encoderDone as its last act. The destructor joins.
class EncoderThread {
 public:
  EncoderThread(const EncoderContext& context, std::optional<PriorityLevel> startPriority);
  ~EncoderThread();
  EncoderThread(const EncoderThread&) = delete;
  EncoderThread& operator=(const EncoderThread&) = delete;

 private:
  std::thread thread_;
};

}  // namespace vorta
