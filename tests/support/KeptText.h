// Keeps everything the program prints through the message catalogue, by
// stream, for exact comparisons; installed for the object's lifetime.
#pragma once

#include <string>
#include <string_view>

#include "base/Messages.h"

namespace vorta {

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

}  // namespace vorta
