#include "app/CommandLine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "app/Help.h"
#include "app/LongOptions.h"
#include "base/Messages.h"
#include "base/SplitName.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Terminal.h"

namespace vorta {
namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMinBufferSize = 262144;
// The physical memory the default buffer is taken from is counted as a 32-bit
// figure: on bigger machines a twentieth of all memory would be a ring of
// gigabytes for a recorder that needs seconds of it.
constexpr std::uint64_t kMemoryCountCap = 4294967295u;

// Shown for a silence threshold of 0, where 20 * log10(0) has no finite value.
// Levels of 97 dB and more give that threshold, and every non-zero threshold
// shows -90 dB or more, so -97 names the first level that produces it.
constexpr int kSilenceFloorDb = -97;

bool equalsIgnoringCase(const std::string& word, const char* lowerCase) {
  std::size_t i = 0;
  for (; i < word.size() && lowerCase[i] != '\0'; ++i) {
    char c = word[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerCase[i]) return false;
  }
  return i == word.size() && lowerCase[i] == '\0';
}

bool isRussianSwitch(const std::string& word) { return equalsIgnoringCase(word, "-rus"); }

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A leading decimal integer as strtol reads it in base 10: white space, a
// sign, digits up to the first other character; no digits give 0. Digits
// beyond the 64-bit range saturate instead of wrapping.
std::int64_t readNumber(const std::string& word) {
  const char* p = word.c_str();
  while (isSpace(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  std::uint64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
  }
  if (!negative) return static_cast<std::int64_t>(magnitude);
  if (magnitude == limit) return std::numeric_limits<std::int64_t>::min();
  return -static_cast<std::int64_t>(magnitude);
}

bool isValidBitrate(std::int64_t kbits) {
  for (int b : {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320})
    if (kbits == b) return true;
  return false;
}

bool isLowRateOnlyBitrate(int kbits) { return kbits == 8 || kbits == 16 || kbits == 24 || kbits == 144; }

bool isHighRateOnlyBitrate(int kbits) {
  return kbits == 192 || kbits == 224 || kbits == 256 || kbits == 320;
}

// trunc(32767 / 10^(|L| / 20) + 0.5). A huge |L| makes the power infinite
// and the threshold 0.
int silenceThresholdFor(std::int64_t level) {
  const double magnitude = std::fabs(static_cast<double>(level));
  return static_cast<int>(std::trunc(32767.0 / std::pow(10.0, magnitude * 0.05) + 0.5));
}

int silenceLevelDb(int threshold) {
  if (threshold <= 0) return kSilenceFloorDb;
  return static_cast<int>(std::trunc(20.0 * std::log10(threshold / 32767.0) - 0.5));
}

// A name without a full stop after its last directory separator (the
// system's: '/' on Linux, '\' or '/' on Windows) gets ".mp3". An empty name
// means the default.
std::string completeOutputName(const std::string& name) {
  if (name.empty()) return "out.mp3";
  const auto last = std::find_if(name.rbegin(), name.rend(),
                                 [](char c) { return c == '.' || isDirectorySeparator(c); });
  const bool hasExtension = last != name.rend() && *last == '.';
  return hasExtension ? name : name + ".mp3";
}

bool nameTooLong(const std::string& name) { return name.size() > Settings::kMaxNameBytes; }

// Takes the arguments from left to right into the settings.
class OptionParser {
 public:
  OptionParser(int argc, const char* const* argv, Settings& settings)
      : argc_(argc), argv_(argv), s_(settings) {}

  // False after an error message has been printed.
  bool parse() {
    for (index_ = 1; index_ < argc_ && !done_; ++index_)
      if (!parseOne(argv_[index_])) return false;
    return true;
  }

  // True when a long option did the whole job (help, version, a listing)
  // and the process ends with exitCode().
  bool finished() const { return finished_; }
  ExitCode exitCode() const { return exitCode_; }
  const std::string& outputName() const { return outputName_; }
  // Values not given on the command line stay empty; they depend on others.
  std::optional<int> bitrate() const { return bitrate_; }
  std::optional<ChannelMode> channelMode() const { return channelMode_; }
  std::optional<std::int32_t> bufferSize() const { return bufferSize_; }

 private:
  bool isLast() const { return index_ == argc_ - 1; }
  std::string next() { return argv_[++index_]; }

  // The word becomes the output name and parsing ends.
  bool takeAsOutputName(const std::string& word) {
    outputName_ = word;
    done_ = true;
    return true;
  }

  bool fail(Msg message) {
    say(message);
    return false;
  }
  bool fail(Msg message, const std::string& word) {
    say(message, word.c_str());
    return false;
  }

  bool parseOne(const std::string& word) {
    if (word.starts_with("--")) return parseLong(word);
    if (parseSwitch(word)) return true;
    if (isValueOption(word)) return isLast() ? takeAsOutputName(word) : parseValue(word);
    if (isLast()) return takeAsOutputName(word);
    say(Msg::InvalidArgument, word.c_str());
    return false;
  }

  // "--name", "--name=VALUE" or "--name VALUE". Never the output name: a
  // word with two dashes that names no option is a mistake, not a file.
  bool parseLong(const std::string& word) {
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(2, equals == std::string::npos ? equals : equals - 2);
    const auto& options = longOptions();
    const auto option = std::find_if(options.begin(), options.end(),
                                     [&](const LongOption& o) { return name == o.name; });
    const bool hasInlineValue = equals != std::string::npos;
    if (option == options.end() || (hasInlineValue && !option->takesValue) ||
        (option->takesValue && !hasInlineValue && isLast()))
      return fail(Msg::InvalidArgument, word);
    std::string value;
    if (hasInlineValue) value = word.substr(equals + 1);
    else if (option->takesValue) value = next();
    switch (option->apply(value, s_)) {
      case OptionOutcome::Continue: return true;
      case OptionOutcome::Refused: return false;
      case OptionOutcome::Finished: break;
      case OptionOutcome::Failed: exitCode_ = ExitCode::Error; break;
    }
    finished_ = done_ = true;
    return true;
  }

  // Options without a value. True when the word was one of them.
  bool parseSwitch(const std::string& word) {
    if (word == "-p-" || isRussianSwitch(word)) return true;
    if (word == "-a") s_.raiseEncoderPriority = true;
    else if (word == "-a-") s_.raiseEncoderPriority = false;
    else if (word == "-ms") channelMode_ = ChannelMode::Stereo;
    else if (word == "-mj") channelMode_ = ChannelMode::JointStereo;
    else if (word == "-mm") channelMode_ = ChannelMode::Mono;
    else if (word == "-ql") s_.quality = Quality::Low;
    else if (word == "-qh") s_.quality = Quality::High;
    else if (word == "-split1") s_.splitMode = SplitMode::Daily;
    else if (word == "-split2") s_.splitMode = SplitMode::Weekly;
    else if (word == "-split3") s_.splitMode = SplitMode::Monthly;
    else return false;
    return true;
  }

 public:
  // Whether --log is among the options, read by the parser's own rules (a
  // value option's next word is its value, -s's only when it reads as a
  // level), so that the banner, printed before the options are read, is
  // already written as log lines.
  static bool wantsLogLines(int argc, const char* const* argv) {
    for (int i = 1; i < argc - 1; ++i) {
      const std::string word = argv[i];
      if (word == "--log") return true;
      if (word == "-s" ? readNumber(argv[i + 1]) != 0 : takesNextWord(word)) ++i;
    }
    return argc > 1 && std::string(argv[argc - 1]) == "--log";
  }

 private:
  // A one-dash value option, or a long one given without "=VALUE".
  static bool takesNextWord(const std::string& word) {
    if (!word.starts_with("--")) return isValueOption(word);
    const auto& options = longOptions();
    return std::any_of(options.begin(), options.end(), [&](const LongOption& o) {
      return o.takesValue && word.substr(2) == o.name;
    });
  }

  static bool isValueOption(const std::string& word) {
    return word == "-b" || word == "-d" || word == "-t" || word == "-x" || word == "-f" ||
           word == "-s";
  }

  bool parseValue(const std::string& option) {
    if (option == "-b") return parseBitrate(readNumber(next()));
    if (option == "-d") return parseSampleRate(readNumber(next()));
    if (option == "-t") return parseTimeLimit(readNumber(next()));
    if (option == "-x") return parseStopFile(next());
    if (option == "-f") return parseBufferSize(readNumber(next()));
    return parseSilence();
  }

  bool parseBitrate(std::int64_t value) {
    // Above 1000 the value is taken as bits per second.
    if (value > 1000) value /= 1000;
    if (!isValidBitrate(value)) return fail(Msg::InvalidBitrate);
    bitrate_ = static_cast<int>(value);
    return true;
  }

  bool parseSampleRate(std::int64_t value) {
    // Beyond the int range no value is a rate; clamping keeps it invalid.
    const int clamped = static_cast<int>(value < kInt32Min ? kInt32Min : value > kInt32Max ? kInt32Max : value);
    if (!normaliseSampleRate(clamped, s_)) return fail(Msg::InvalidSampleRate);
    return true;
  }

  bool parseTimeLimit(std::int64_t minutes) {
    if (minutes < 1 || minutes > kInt32Max / 60) return fail(Msg::InvalidTimeLimit);
    s_.timeLimitSeconds = static_cast<int>(minutes * 60);
    return true;
  }

  bool parseStopFile(const std::string& name) {
    if (nameTooLong(name)) {
      say(Msg::NameTooLong, name.c_str());
      return false;
    }
    s_.stopFileName = name;
    return true;
  }

  bool parseBufferSize(std::int64_t kilobytes) {
    if (kilobytes < 256) return true;  // too small: ignored, the derived size stands
    if (kilobytes > kInt32Max / 1024) return fail(Msg::InvalidBufferSize);
    bufferSize_ = static_cast<std::int32_t>(kilobytes * 1024);
    return true;
  }

  // -s takes the next word only when it reads as a non-zero level; otherwise
  // that word is parsed in its own right. Either way cutting is on.
  bool parseSilence() {
    s_.silenceEnabled = true;
    const std::int64_t level = readNumber(argv_[index_ + 1]);
    if (level == 0) return true;
    ++index_;
    s_.silenceThreshold = silenceThresholdFor(level);
    return true;
  }

  int argc_;
  const char* const* argv_;
  Settings& s_;
  int index_ = 1;
  bool done_ = false;
  bool finished_ = false;
  ExitCode exitCode_ = ExitCode::Ok;
  std::string outputName_ = "out.mp3";
  std::optional<int> bitrate_;
  std::optional<ChannelMode> channelMode_;
  std::optional<std::int32_t> bufferSize_;
};

// The values the command line left open, in this order: the bitrate from the
// sample rate, the channel mode from the bitrate, the buffer from memory and
// the channel mode.
void deriveDefaults(const OptionParser& parser, Settings& s, std::uint64_t physicalMemory) {
  s.bitrate = parser.bitrate().value_or(s.sampleRate < 15000 ? 32 : s.sampleRate < 31000 ? 80 : 128);
  s.channelMode = parser.channelMode().value_or(s.bitrate < 192 ? ChannelMode::JointStereo
                                                                : ChannelMode::Stereo);
  s.bufferSize = parser.bufferSize().value_or(defaultBufferSize(physicalMemory, s.channelMode));
}

// True when the bitrate may be used at the sample rate; otherwise the reason
// has been printed.
bool checkCompatibility(const Settings& s) {
  if (isLowRateOnlyBitrate(s.bitrate) && s.mpegVersion == 0) {
    say(Msg::BitrateNeedsLowRate, s.bitrate);
    return false;
  }
  if (isHighRateOnlyBitrate(s.bitrate) && s.mpegVersion != 0) {
    say(Msg::RateNeedsLowBitrate1, s.sampleRate / 1000);
    say(Msg::RateNeedsLowBitrate2);
    return false;
  }
  return true;
}

void printSummary(const Settings& s) {
  if (s.splitMode == SplitMode::None) say(Msg::SummaryFile, s.outputName.c_str());
  else say(Msg::SummarySplit);
  say(Msg::SummaryFormat, static_cast<double>(s.mpegVersion) + 1, s.bitrate, s.sampleRate / 1000,
      channelModeName(s.channelMode));
  say(Msg::SummaryQuality, qualityName(s.quality));
  say(Msg::SummaryBuffer, static_cast<int>(s.bufferSize / 1024));
  if (s.timeLimitSeconds != 0)
    say(Msg::SummaryTimeLimit, s.timeLimitSeconds / 3600, (s.timeLimitSeconds / 60) % 60);
  if (s.silenceEnabled) say(Msg::SummarySilence, silenceLevelDb(s.silenceThreshold));
  if (!s.stopFileName.empty()) say(Msg::SummaryStopFile, s.stopFileName.c_str());
}

// Chooses the language from any -rus word; true when there is nothing else.
bool chooseLanguage(int argc, const char* const* argv, Settings& s) {
  bool onlyRussianSwitches = true;
  for (int i = 1; i < argc; ++i) {
    if (isRussianSwitch(argv[i])) s.language = Language::Russian;
    else onlyRussianSwitches = false;
  }
  selectLanguage(s.language);
  return onlyRussianSwitches;
}

}  // namespace

bool normaliseSampleRate(int value, Settings& settings) {
  std::int64_t rate = value;
  if (rate < 1000) {
    rate *= 1000;  // kHz; 64-bit, so a large negative value cannot overflow
    if (rate == 22000) rate = 22050;
    if (rate == 44000) rate = 44100;
    if (rate == 11000) rate = 11025;
  }
  switch (rate) {
    case 32000: case 44100: case 48000: settings.mpegVersion = 0; break;
    case 16000: case 22050: case 24000: settings.mpegVersion = 1.0f; break;
    case 8000: case 11025: case 12000: settings.mpegVersion = 1.5f; break;
    default: return false;
  }
  settings.sampleRate = static_cast<int>(rate);
  return true;
}

std::int32_t defaultBufferSize(std::uint64_t physicalMemory, ChannelMode mode) {
  std::uint64_t size = std::min(physicalMemory, kMemoryCountCap) / 20;
  if (mode == ChannelMode::Mono) size /= 2;
  return std::max(static_cast<std::int32_t>(size), kMinBufferSize);
}

CommandLineResult readSettings(int argc, const char* const* argv, Settings& settings, Clock& clock,
                               std::uint64_t physicalMemory) {
  const bool nothingToDo = chooseLanguage(argc, argv, settings);
  if (OptionParser::wantsLogLines(argc, argv)) setLogLines(true);
  say(Msg::BannerTitle);
  say(Msg::BannerEngine);
  if (nothingToDo) return {false, printHelp(ExitCode::NothingToDo)};

  OptionParser parser(argc, argv, settings);
  if (!parser.parse()) return {false, printHelp(ExitCode::Error)};
  if (parser.finished()) return {false, parser.exitCode()};
  const std::string outputName = completeOutputName(parser.outputName());
  if (nameTooLong(outputName)) {
    say(Msg::NameTooLong, parser.outputName().c_str());
    return {false, printHelp(ExitCode::Error)};
  }
  // Deleting is tied to a pattern: only its names can be told apart from
  // files of any other kind.
  if (settings.keepDays != 0 && settings.namePattern.empty()) {
    say(Msg::InvalidArgument, "--keep-days");
    return {false, printHelp(ExitCode::Error)};
  }
  // A name pattern is split naming: a new file whenever the name changes.
  if (!settings.namePattern.empty() && settings.splitMode == SplitMode::None)
    settings.splitMode = SplitMode::Daily;
  // In split mode the name from the command line gives way to the hour's; a
  // relative name goes into the --dir folder.
  if (settings.splitMode != SplitMode::None)
    settings.outputName = splitFileName(settings, clock.localTime());
  else if (isDirectorySeparator(outputName.front()))
    settings.outputName = outputName;
  else
    settings.outputName = inFolder(settings.outputDir, outputName);

  say(Msg::Separator);
  deriveDefaults(parser, settings, physicalMemory);
  if (!checkCompatibility(settings)) {
    if (isStdoutTerminal()) waitForEnter();
    return {false, ExitCode::Error};
  }
  printSummary(settings);
  return {true, ExitCode::Ok};
}

}  // namespace vorta
