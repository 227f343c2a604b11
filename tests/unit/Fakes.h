// The fakes the unit tests share, one of each kind, by owner: what the
// program prints, the clock, the file system, the sound input and the
// encoder engine. Each section says what it stands in for.
#pragma once

#include <string>
#include <string_view>

#include "base/Messages.h"

namespace vorta {

// --- Text sink: everything printed through the message catalogue, by stream,
// for exact comparisons; installed for the object's lifetime.
class KeptText : public TextSink {
 public:
  KeptText() { setTextSink(this); }
  ~KeptText() override { setTextSink(nullptr); }
  KeptText(const KeptText&) = delete;
  KeptText& operator=(const KeptText&) = delete;
  void write(Stream stream, std::string_view bytes) override {
    (stream == Stream::Out ? out : err).append(bytes);
  }
  std::string out, err;
};

// --- Clock (sound)

// --- File system (encode)

// --- Sound input (sound)

// --- Encoder engine (encode)

}  // namespace vorta
