#include "app/CommandLine.h"

#include <algorithm>
#include <string>

#include "app/Options.h"
#include "platform/Paths.h"

namespace vorta {
namespace {

bool isLowRateOnlyBitrate(int kbits) { return kbits == 8 || kbits == 16 || kbits == 24 || kbits == 144; }

bool isHighRateOnlyBitrate(int kbits) {
  return kbits == 192 || kbits == 224 || kbits == 256 || kbits == 320;
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

// Whether the word after words[at] is the option's value, by the option's row.
bool takesNextWord(const Option& option, std::span<const std::string> words, std::size_t at) {
  if (option.value == OptionValue::None || at + 1 >= words.size()) return false;
  if (option.value == OptionValue::IfNonZeroNumber) return readNumber(words[at + 1]) != 0;
  return true;
}

// Whether --log is among the options, read by the table's rules (a value
// option's next word is its value), so that the banner, printed before the
// options are acted on, is already written as log lines, even when a word
// before --log is refused.
bool wantsLogLines(std::span<const std::string> words) {
  for (std::size_t i = 1; i + 1 < words.size(); ++i) {
    if (words[i] == "--log") return true;
    const Option* option = findOption(words[i]);
    const bool inline_ = words[i].starts_with("--") && words[i].find('=') != std::string::npos;
    if (option && !inline_ && takesNextWord(*option, words, i)) ++i;
  }
  return words.size() > 1 && words.back() == "--log";
}

// Takes the words from left to right into the command line.
class Parser {
 public:
  Parser(std::span<const std::string> words, CommandLine& into) : words_(words), c_(into) {}

  // The refusal of the first word refused, if any.
  std::optional<Refusal> parse() {
    for (at_ = 1; at_ < words_.size() && !done_ && c_.command == Command::Record; ++at_)
      if (auto refusal = parseOne(words_[at_])) return refusal;
    return std::nullopt;
  }

  const std::string& outputName() const { return outputName_; }

 private:
  bool isLast() const { return at_ + 1 == words_.size(); }

  // The word becomes the output name and reading ends.
  std::optional<Refusal> takeAsOutputName(const std::string& word) {
    outputName_ = word;
    done_ = true;
    return std::nullopt;
  }

  std::optional<Refusal> parseOne(const std::string& word) {
    if (word.starts_with("--")) return parseLong(word);
    const Option* option = findOption(word);
    if (option && option->value == OptionValue::None) return option->apply("", c_);
    if (isLast()) return takeAsOutputName(word);
    if (!option) return Refusal{Complaint::InvalidArgument, word};
    if (!takesNextWord(*option, words_, at_)) return option->apply("", c_);
    return option->apply(words_[++at_], c_);
  }

  // "--name", "--name=VALUE" or "--name VALUE". Never the output name: a
  // word with two dashes that names no option is a mistake, not a file.
  std::optional<Refusal> parseLong(const std::string& word) {
    const std::size_t equals = word.find('=');
    const Option* option = findOption(word);
    const bool hasInlineValue = equals != std::string::npos;
    const bool takesValue = option && option->value != OptionValue::None;
    if (!option || (hasInlineValue && !takesValue) || (takesValue && !hasInlineValue && isLast()))
      return Refusal{Complaint::InvalidArgument, word};
    if (hasInlineValue) return option->apply(word.substr(equals + 1), c_);
    return option->apply(takesValue ? words_[++at_] : "", c_);
  }

  std::span<const std::string> words_;
  CommandLine& c_;
  std::size_t at_ = 1;
  bool done_ = false;
  std::string outputName_ = "out.mp3";
};

// What the words leave to check once all are read: the output name, the
// options that need another, the bitrate against the rate.
std::optional<Refusal> checkWhole(CommandLine& c, const std::string& typedName) {
  Settings& s = c.settings;
  s.outputName = completeOutputName(typedName);
  if (s.outputName.size() > Settings::kMaxNameBytes) return Refusal{Complaint::NameTooLong, typedName};
  // Deleting is tied to a pattern: only its names can be told apart from
  // files of any other kind.
  if ((s.keepDays != 0 || !s.keepFreeText.empty()) && s.namePattern.empty())
    return Refusal{Complaint::InvalidArgument, s.keepDays != 0 ? "--keep-days" : "--keep-free"};
  // A name pattern is split naming: a new file whenever the name changes.
  if (!s.namePattern.empty() && s.splitMode == SplitMode::None) s.splitMode = SplitMode::Daily;
  // A dated archive is what the time maps are for. The cycling -split names
  // and a single file keep the folder as it always was unless --time-map
  // asks: their users may rely on finding nothing but MP3 files there.
  if (!s.namePattern.empty()) s.timeMap = true;
  // Only a bitrate given can clash: the derived ones suit every rate.
  const int bitrate = c.bitrate.value_or(0);
  if (isLowRateOnlyBitrate(bitrate) && s.mpegVersion == MpegVersion::Mpeg1)
    return Refusal{Complaint::BitrateNeedsLowRate, ""};
  if (isHighRateOnlyBitrate(bitrate) && s.mpegVersion != MpegVersion::Mpeg1)
    return Refusal{Complaint::RateNeedsLowBitrate, ""};
  return std::nullopt;
}

bool equalsIgnoringCase(const std::string& word, const char* lowerCase) {
  std::size_t i = 0;
  for (; i < word.size() && lowerCase[i] != '\0'; ++i) {
    char c = word[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerCase[i]) return false;
  }
  return i == word.size() && lowerCase[i] == '\0';
}

// The language from any -rus word, wherever it stands; true when there is
// nothing else.
bool chooseLanguage(std::span<const std::string> words, Settings& s) {
  bool onlyRussianSwitches = true;
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (equalsIgnoringCase(words[i], "-rus")) s.language = Language::Russian;
    else onlyRussianSwitches = false;
  }
  return onlyRussianSwitches;
}

}  // namespace

const Option* findOption(const std::string& word) {
  const std::string name = word.starts_with("--") ? word.substr(0, word.find('=')) : word;
  for (const Option& option : options())
    if (option.anyCase ? equalsIgnoringCase(name, option.word) : name == option.word) return &option;
  return nullptr;
}

CommandLine parseCommandLine(std::span<const std::string> words) {
  CommandLine c;
  c.settings.logLines = wantsLogLines(words);
  if (chooseLanguage(words, c.settings)) {
    c.command = Command::NothingToDo;
    return c;
  }
  Parser parser(words, c);
  std::optional<Refusal> refusal = parser.parse();
  if (!refusal && c.command == Command::Record) refusal = checkWhole(c, parser.outputName());
  if (refusal) {
    c.command = Command::Refuse;
    c.refusal = std::move(refusal);
  }
  return c;
}

bool normaliseSampleRate(int value, Settings& settings) {
  std::int64_t rate = value;
  if (rate < 1000) {
    rate *= 1000;  // kHz; 64-bit, so a large negative value cannot overflow
    if (rate == 22000) rate = 22050;
    if (rate == 44000) rate = 44100;
    if (rate == 11000) rate = 11025;
  }
  switch (rate) {
    case 32000: case 44100: case 48000: settings.mpegVersion = MpegVersion::Mpeg1; break;
    case 16000: case 22050: case 24000: settings.mpegVersion = MpegVersion::Mpeg2; break;
    case 8000: case 11025: case 12000: settings.mpegVersion = MpegVersion::Mpeg25; break;
    default: return false;
  }
  settings.sampleRate = static_cast<int>(rate);
  return true;
}

}  // namespace vorta
