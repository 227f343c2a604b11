#include "base/TextOutput.h"

#include <cstdio>

#include "base/LogLines.h"
#include "platform/Terminal.h"

namespace vorta {

void writeToStream(Stream stream, std::string_view bytes, bool logLines) {
  std::FILE* file = stream == Stream::Out ? stdout : stderr;
  if (stream == Stream::Err) std::fflush(stdout);
  // One fwrite holds the stream's lock for the whole text. On a terminal the
  // text shows at once; redirected, stdio buffers it until exit, unless the
  // output is a log, which wants each message when it happens.
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  if (stream == Stream::Err || logLines || isStdoutTerminal()) std::fflush(file);
}

void TextOutput::write(Stream stream, std::string_view bytes) const {
  std::string lines;
  if (logLines_) {
    lines = toLogLines(bytes);
    bytes = lines;
  }
  if (sink_) {
    sink_->write(stream, bytes);
    return;
  }
  writeToStream(stream, bytes, logLines_);
}

}  // namespace vorta
