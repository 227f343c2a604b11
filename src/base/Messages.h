// The message catalogue: every text the program prints, in English and in
// Russian, and the stream each one goes to.
//
// The language is chosen once, on the main thread, before any other thread
// starts (selectLanguage); after that every thread may call say(). Each say()
// formats its text with printf rules (so "%%" prints one percent sign) and
// hands the whole result to the sink in one call, so prints from different
// threads never interleave within a stream.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

#include "base/Settings.h"

namespace vorta {

enum class Stream { Out, Err };

enum class Msg {
  // Run control
  BannerTitle,
  BannerEngine,
  InvalidBitrate,
  InvalidSampleRate,
  InvalidTimeLimit,
  InvalidArgument,        // %s: the argument as typed
  InvalidBufferSize,
  NameTooLong,            // %s: the name as given
  Separator,
  BitrateNeedsLowRate,    // %d: bitrate
  RateNeedsLowBitrate1,   // %d: sample rate / 1000
  RateNeedsLowBitrate2,
  SummaryFile,            // %s
  SummarySplit,
  SummaryFormat,          // %g %d %d %s
  SummaryQuality,         // %s
  SummaryBuffer,          // %d
  SummaryTimeLimit,       // %d %02d
  SummarySilence,         // %d
  SummaryStopFile,        // %s
  OutOfMemory,            // %d (printed with the unsigned byte count)
  EndOfRecording,
  // Long options
  LongHelpTitle,          // the second help page's first lines
  VersionLines,           // %s: program version; %u.%u: the MP3 engine's
  DeviceListTitle,
  DeviceListName,         // %s: what --device takes
  DeviceListDescription,  // %s: one line of the system's description
  CardListTitle,
  CardListEntry,          // %d: card number; %s: name; %s: long name
  DeviceListError,        // %s: the sound service's own text
  // Prompts
  EnterPrompt,
  PromptEraser,
  // Sound capture
  NoDevice,
  DeviceOpenError,        // %s: the sound service's own text
  Overrun,                // %d: milliseconds of sound lost
  DeviceLost,             // %s: the sound service's own text
  DeviceTried,            // %s: the device's name; follows a device error
  DevicePlugHint,         // %s: the hw: device's name without "hw"
  // Encoding and files
  EncoderVersion,         // %u %02u
  ExitHint,
  EncoderInitError,       // %lu
  FileErrorLead,          // %s: the file-error text
  FileErrorSystem,        // %s: the system's text
  FileCreationError,
  FileWriteError,
  EncodeChunkFailed,      // %lu
  DeinitStreamFailed,     // %lu
  RingOverflow,
  RingUnderflow,
  OldFileDeleted,         // %s: the file's path, %d: --keep-days
  TimeMapFailed,          // %s: the time map's path, %s: the system's text
  LogLosses,              // %u %llu %u: overruns, their ms, buffer overflows
  LogLossesDeadAir,       // LogLosses' and %d:%02d:%02d %u: dead air in all, times
  // Dead air (--dead-air)
  DeadAirBegan,           // %g: minutes
  DeadAirEnded,           // %d:%02d:%02d: how long it lasted
  DeadAirSummary,         // %d:%02d:%02d: the whole time; %u: how many stretches
  // Status line (written raw to file handle 2, not through say)
  Status,
  StatusMeterStereo,      // Status's figures, then %.1f %.1f: peaks in dBFS, %llu: clipped
  StatusMeterMono,        // the same with one peak (the second one is not shown)
  Count
};

// Chooses the texts for the whole run. Russian texts are converted once to
// the console's codeset here.
void selectLanguage(Language language);
Language selectedLanguage();

// The format string of a message in the chosen language.
const char* text(Msg id);
Stream streamOf(Msg id);

// Formats the message and writes it, whole, to its stream.
void say(Msg id, ...);
void vsay(Msg id, va_list args);

// printf-style formatting into a string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformat(const char* fmt, va_list args);

// Channel-mode and quality names, the same in both languages.
const char* channelModeName(ChannelMode mode);
const char* qualityName(Quality quality);

// One line of the help screen: counted lines call the pager after they are
// printed; plusOne lines end with an empty line and add one more row.
struct HelpLine {
  const char* text;
  bool counted;
  bool plusOne;
};
const std::vector<HelpLine>& helpLines();

// Where the texts go. The program writes to stdout and stderr; tests install
// a sink that keeps the bytes.
class TextSink {
 public:
  virtual ~TextSink() = default;
  virtual void write(Stream stream, std::string_view bytes) = 0;
};
// --log: from now on every text is written as whole lines (toLogLines) and
// standard output is flushed at once, so a journal sees each message when it
// is said. Main thread, before other threads start.
void setLogLines(bool on);
bool logLinesSelected();

// Installs a sink (nullptr restores standard output and error). Main thread,
// while no other thread writes texts.
void setTextSink(TextSink* sink);
// To the sink when one is installed, else to the stream.
void writeText(Stream stream, std::string_view bytes);
// Straight to standard output or error, whatever sink is installed. Standard
// output is flushed before anything goes to standard error, so the two keep
// their order when they share a file or a pipe (a service's journal).
void writeToStream(Stream stream, std::string_view bytes);

}  // namespace vorta
