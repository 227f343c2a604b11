// Why the encoder stopped before the recording's end, as a value: what it
// was doing (opening a file, writing one, running the engine) and the error
// the system or the engine gave. The writer and the pump return it; the
// encoder thread's entry posts it, once, as event::Error, and the main thread
// picks the exit code.
//
// Encoder thread only; a plain value.
#pragma once

#include "base/RunEvents.h"
#include "platform/Result.h"

namespace vorta {

struct EncoderFailure {
  event::Failure what = event::Failure::FileWrite;
  Error error;
};

// Nothing, or the failure that ended the encoder.
using EncoderStatus = Result<void, EncoderFailure>;

inline event::Error failureEvent(const EncoderFailure& failure) {
  return event::Error{failure.what, failure.error.text, static_cast<long>(failure.error.code)};
}

}  // namespace vorta
