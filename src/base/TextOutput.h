// How the program's texts are written: in which language, whether as log
// lines (--log), and where to. A small value made once by the start-up from
// the command line and handed, by reference, to everything that writes a
// text; the run's report makes a copy that writes to its console thread
// instead (to()).
//
// Threads: a TextOutput never changes once made, so any thread may use it.
// Each say() hands its whole text to the sink in one call, so texts from
// different threads never interleave within a stream; the sink must take
// calls from every thread that says something through it.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

#include "base/Messages.h"
#include "base/Settings.h"

namespace vorta {

// Where the texts go when they do not go straight to standard output and
// error: the console thread while recording, or the bytes a test keeps.
class TextSink {
 public:
  virtual ~TextSink() = default;
  virtual void write(Stream stream, std::string_view bytes) = 0;
};

// Straight to standard output or error. Standard output is flushed before
// anything goes to standard error, so the two keep their order when they
// share a file or a pipe (a service's journal); a log (logLines) flushes
// standard output after each text too, so a journal sees each message when
// it is said.
void writeToStream(Stream stream, std::string_view bytes, bool logLines);

class TextOutput {
 public:
  // English texts, as they are, to standard output and error.
  TextOutput() = default;
  // sink == nullptr: standard output and error.
  TextOutput(Language language, bool logLines, TextSink* sink = nullptr)
      : language_(language), logLines_(logLines), sink_(sink) {}

  Language language() const { return language_; }
  bool logLines() const { return logLines_; }
  // The same choices, written to `sink` (nullptr: standard output and error).
  TextOutput to(TextSink* sink) const { return {language_, logLines_, sink}; }

  // Writes the bytes whole: as log lines (toLogLines) in a log, to the sink,
  // or to the stream.
  void write(Stream stream, std::string_view bytes) const;

  // The message's text in this output's language, formatted.
  template <typename... Args>
  std::string format(const Message<Args...>& message, const std::type_identity_t<Args>&... args) const {
    return formatText(language_, message, args...);
  }
  // Formats the message and writes it, whole, to its stream.
  template <typename... Args>
  void say(const Message<Args...>& message, const std::type_identity_t<Args>&... args) const {
    write(message.stream, format(message, args...));
  }

 private:
  Language language_ = Language::English;
  bool logLines_ = false;
  TextSink* sink_ = nullptr;  // not owned; outlives every copy that names it
};

}  // namespace vorta
