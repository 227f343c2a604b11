// The command line read into a value: record with these settings, show the
// help, the version or the devices, or refuse with this complaint.
//
// Pure: any thread, no output, no clock, no device. app/StartUp acts on the
// value (the banner, the help, the derived defaults, the summary).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/Settings.h"

namespace vorta {

enum class Command {
  Record,       // record with the settings
  NothingToDo,  // no arguments (or only -rus): the help, exit 1
  LongHelp,     // --help: the help and the long options, exit 0
  Version,      // --version
  ListDevices,  // --list-devices
  Refuse,       // a bad command line: refusal says why
};

// Why a command line is refused, each with its own text.
enum class Complaint {
  InvalidArgument,      // word: the argument as typed
  InvalidBitrate,
  InvalidSampleRate,
  InvalidTimeLimit,
  InvalidBufferSize,
  NameTooLong,          // word: the name as given
  BitrateNeedsLowRate,  // the bitrate given needs MPEG-2 or 2.5 rates
  RateNeedsLowBitrate,  // the rate given needs a bitrate of at most 160
};

struct Refusal {
  Complaint complaint;
  std::string word;  // what InvalidArgument and NameTooLong name
};

struct CommandLine {
  Command command = Command::Record;
  // What the options set. Language and logLines are set whatever the
  // command, so the banner and the refusal are already in the run's
  // language and form; outputName is the name as typed, completed with
  // ".mp3" (app/ turns it into a path or the first split name).
  Settings settings;
  // Values the command line may leave open; app/ derives them from others.
  std::optional<int> bitrate;
  std::optional<ChannelMode> channelMode;
  std::optional<std::int32_t> bufferSize;
  std::optional<Refusal> refusal;  // with Command::Refuse
};

// words[0] is the program's path.
CommandLine parseCommandLine(std::span<const std::string> words);

// -d value to samples per second and its MPEG version. False when invalid.
bool normaliseSampleRate(int value, Settings& settings);

}  // namespace vorta
