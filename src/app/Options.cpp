#include "app/Options.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>

#include "base/NamePattern.h"

namespace vorta {
namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();

using Outcome = std::optional<Refusal>;
constexpr Outcome kTaken = std::nullopt;

Outcome refuse(Complaint complaint) { return Refusal{complaint, ""}; }
Outcome refuse(const std::string& word) { return Refusal{Complaint::InvalidArgument, word}; }

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool isValidBitrate(std::int64_t kbits) {
  for (int b : {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320})
    if (kbits == b) return true;
  return false;
}

// --- One-dash options

Outcome setBitrate(const std::string& word, CommandLine& c) {
  std::int64_t value = readNumber(word);
  // Above 1000 the value is taken as bits per second.
  if (value > 1000) value /= 1000;
  if (!isValidBitrate(value)) return refuse(Complaint::InvalidBitrate);
  c.bitrate = static_cast<int>(value);
  return kTaken;
}

Outcome setSampleRate(const std::string& word, CommandLine& c) {
  const std::int64_t value = readNumber(word);
  // Beyond the int range no value is a rate; clamping keeps it invalid.
  const int clamped = static_cast<int>(value < kInt32Min ? kInt32Min : value > kInt32Max ? kInt32Max : value);
  if (!normaliseSampleRate(clamped, c.settings)) return refuse(Complaint::InvalidSampleRate);
  return kTaken;
}

Outcome setTimeLimit(const std::string& word, CommandLine& c) {
  const std::int64_t minutes = readNumber(word);
  if (minutes < 1 || minutes > kInt32Max / 60) return refuse(Complaint::InvalidTimeLimit);
  c.settings.timeLimitSeconds = static_cast<int>(minutes * 60);
  return kTaken;
}

Outcome setStopFile(const std::string& name, CommandLine& c) {
  if (name.size() > Settings::kMaxNameBytes) return Refusal{Complaint::NameTooLong, name};
  c.settings.stopFileName = name;
  return kTaken;
}

Outcome setBufferSize(const std::string& word, CommandLine& c) {
  const std::int64_t kilobytes = readNumber(word);
  if (kilobytes < 256) return kTaken;  // too small: ignored, the derived size stands
  if (kilobytes > kInt32Max / 1024) return refuse(Complaint::InvalidBufferSize);
  c.bufferSize = static_cast<std::int32_t>(kilobytes * 1024);
  return kTaken;
}

// trunc(32767 / 10^(|L| / 20) + 0.5). A huge |L| makes the power infinite
// and the threshold 0.
int silenceThresholdFor(std::int64_t level) {
  const double magnitude = std::fabs(static_cast<double>(level));
  return static_cast<int>(std::trunc(32767.0 / std::pow(10.0, magnitude * 0.05) + 0.5));
}

// -s takes the next word only when it reads as a non-zero level; otherwise
// that word is read in its own right. Either way cutting is on.
Outcome setSilence(const std::string& level, CommandLine& c) {
  c.settings.silenceEnabled = true;
  if (!level.empty()) c.settings.silenceThreshold = silenceThresholdFor(readNumber(level));
  return kTaken;
}

template <auto Field, auto Value>
Outcome set(const std::string&, CommandLine& c) {
  c.settings.*Field = Value;
  return kTaken;
}

template <ChannelMode Mode>
Outcome setChannelMode(const std::string&, CommandLine& c) {
  c.channelMode = Mode;
  return kTaken;
}

Outcome ignore(const std::string&, CommandLine&) { return kTaken; }

// --- Long options

Outcome setDevice(const std::string& name, CommandLine& c) {
  // An empty name would silently mean the default device.
  if (name.empty()) return refuse("--device=");
  c.settings.device = name;
  return kTaken;
}

Outcome setDir(const std::string& folder, CommandLine& c) {
  if (folder.empty()) return refuse("--dir=");
  c.settings.outputDir = folder;
  return kTaken;
}

// A whole number from 1 to max; anything else (a sign, a fraction, a
// trailing word) is refused rather than read as some other number.
bool readWhole(const std::string& word, int max, int& out) {
  int value = 0;
  for (char c : word) {
    if (c < '0' || c > '9' || value > max) return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > max) return false;
  out = value;
  return true;
}

// Whole days, 1 to a hundred years.
Outcome setKeepDays(const std::string& days, CommandLine& c) {
  return readWhole(days, 36500, c.settings.keepDays) ? kTaken : refuse(days);
}

// A size with its unit, K, M, G or T (powers of 1024: 500M is 500 MiB), or a
// share of the file system, 1% to 99%. A bare number is refused: bytes or
// megabytes, the reader could not tell.
Outcome setKeepFree(const std::string& size, CommandLine& c) {
  static constexpr char kUnits[] = "KMGT";
  Settings& s = c.settings;
  if (size.size() < 2) return refuse(size);
  const char unit = size.back();
  const std::string number = size.substr(0, size.size() - 1);
  int value = 0;
  if (unit == '%') {
    if (!readWhole(number, 99, value)) return refuse(size);
    s.keepFreePercent = value;
    s.keepFreeBytes = 0;
  } else {
    const char* found = std::strchr(kUnits, std::toupper(static_cast<unsigned char>(unit)));
    if (unit == '\0' || found == nullptr || !readWhole(number, 1 << 20, value)) return refuse(size);
    s.keepFreeBytes = static_cast<std::uint64_t>(value) << (10 * (found - kUnits + 1));
    s.keepFreePercent = 0;
  }
  s.keepFreeText = size;
  return kTaken;
}

// Minutes, whole or with up to three decimals (0.5 is half a minute), from
// a second to a year: broadcasters alarm on seconds of dead air, others on
// minutes. Read exactly, in milliseconds, so 0.1 is 6000 ms and not a hair less.
Outcome setDeadAir(const std::string& minutes, CommandLine& c) {
  const std::size_t point = minutes.find('.');
  const std::string whole = minutes.substr(0, point);
  const std::string fraction = point == std::string::npos ? "0" : minutes.substr(point + 1);
  int wholeMinutes = 0;  // 0.5: the whole part may be naught
  if (whole != "0" && !readWhole(whole, 525600, wholeMinutes)) return refuse(minutes);
  if (fraction.empty() || fraction.size() > 3) return refuse(minutes);
  int thousandths = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const char digit = i < fraction.size() ? fraction[i] : '0';
    if (digit < '0' || digit > '9') return refuse(minutes);
    thousandths = thousandths * 10 + (digit - '0');
  }
  const std::int64_t ms = std::int64_t{wholeMinutes} * 60000 + thousandths * 60;
  if (ms < 1000 || ms > std::int64_t{525600} * 60000) return refuse(minutes);
  c.settings.deadAirMs = ms;
  return kTaken;
}

// An empty name or command would silently mean none.
Outcome setStatusFile(const std::string& name, CommandLine& c) {
  if (name.empty()) return refuse("--status=");
  c.settings.statusFile = name;
  return kTaken;
}

Outcome setOnEvent(const std::string& command, CommandLine& c) {
  if (command.empty()) return refuse("--on-event=");
  c.settings.onEvent = command;
  return kTaken;
}

Outcome setNamePattern(const std::string& pattern, CommandLine& c) {
  if (!isValidNamePattern(pattern)) return refuse(pattern);
  c.settings.namePattern = pattern;
  return kTaken;
}

template <Command What>
Outcome ask(const std::string&, CommandLine& c) {
  c.command = What;
  return kTaken;
}

using S = Settings;

const Option kOptions[] = {
    {"-a", OptionValue::None, set<&S::raiseEncoderPriority, true>},
    {"-a-", OptionValue::None, set<&S::raiseEncoderPriority, false>},
    {"-b", OptionValue::Required, setBitrate},
    {"-d", OptionValue::Required, setSampleRate},
    {"-f", OptionValue::Required, setBufferSize},
    {"-mj", OptionValue::None, setChannelMode<ChannelMode::JointStereo>},
    {"-mm", OptionValue::None, setChannelMode<ChannelMode::Mono>},
    {"-ms", OptionValue::None, setChannelMode<ChannelMode::Stereo>},
    {"-p-", OptionValue::None, ignore},
    {"-qh", OptionValue::None, set<&S::quality, Quality::High>},
    {"-ql", OptionValue::None, set<&S::quality, Quality::Low>},
    {"-rus", OptionValue::None, ignore, nullptr, nullptr, true},  // read before all others
    {"-s", OptionValue::IfNonZeroNumber, setSilence},
    {"-split1", OptionValue::None, set<&S::splitMode, SplitMode::Daily>},
    {"-split2", OptionValue::None, set<&S::splitMode, SplitMode::Weekly>},
    {"-split3", OptionValue::None, set<&S::splitMode, SplitMode::Monthly>},
    {"-t", OptionValue::Required, setTimeLimit},
    {"-x", OptionValue::Required, setStopFile},
    // Long options, in alphabetical order.
    {"--dead-air", OptionValue::Required, setDeadAir,
     "\t--dead-air MINUTES - warn when the input stays below the silence level\n"
     "\t     (-s, default -50 dB) for MINUTES (0.5: 30 s), and when it is back\n",
     "\t--dead-air МИНУТЫ - предупреждать, если сигнал ниже уровня тишины\n"
     "\t     (-s, по умолчанию -50 dB) дольше МИНУТ (0.5: 30 с),\n"
     "\t     и когда звук вернулся\n"},
    {"--device", OptionValue::Required, setDevice,
     "\t--device NAME - record from the ALSA capture device NAME (for example\n"
     "\t     plughw:1 or pulse) instead of AUDIODEV or \"default\"\n",
     "\t--device ИМЯ - записывать с устройства ALSA с этим именем (например\n"
     "\t     plughw:1 или pulse) вместо AUDIODEV или \"default\"\n"},
    {"--dir", OptionValue::Required, setDir,
     "\t--dir DIR - put the files in the folder DIR\n",
     "\t--dir ПАПКА - сохранять файлы в папку ПАПКА\n"},
    {"--help", OptionValue::None, ask<Command::LongHelp>,
     "\t--help - show this help and exit\n",
     "\t--help - показать эту справку и выйти\n"},
    {"--keep-days", OptionValue::Required, setKeepDays,
     "\t--keep-days N - delete files named by --name that are older than N days\n",
     "\t--keep-days N - удалять файлы с именами по --name старше N дней\n"},
    {"--keep-free", OptionValue::Required, setKeepFree,
     "\t--keep-free SIZE - while the free space is below SIZE (500M, 20G, 10%),\n"
     "\t     delete the oldest files named by --name\n",
     "\t--keep-free РАЗМЕР - пока свободного места меньше РАЗМЕРА (500M, 20G,\n"
     "\t     10%), удалять самые старые файлы с именами по --name\n"},
    {"--list-devices", OptionValue::None, ask<Command::ListDevices>,
     "\t--list-devices - list the capture devices and the sound cards and exit\n",
     "\t--list-devices - показать устройства записи и звуковые карты и выйти\n"},
    {"--log", OptionValue::None, ignore,  // read before all others
     "\t--log - output for a log (journal, pipe, file): whole lines, the status\n"
     "\t     line once a minute, the run's losses at the end\n",
     "\t--log - вывод для журнала (journal, канал, файл): целые строки, строка\n"
     "\t     состояния раз в минуту, потери записи в конце\n"},
    {"--meter", OptionValue::None, set<&S::meter, true>,
     "\t--meter - the status line also shows peaks (dBFS) and clipped samples\n",
     "\t--meter - в строке состояния также пики (dBFS) и перегрузки\n"},
    {"--name", OptionValue::Required, setNamePattern,
     "\t--name PATTERN - split files named by a strftime pattern, for example\n"
     "\t     %Y-%m-%d/%H.mp3 (%Y %y %m %d %H %M %S %u %w %z %F %%);\n"
     "\t     makes folders as needed\n",
     "\t--name ШАБЛОН - имена файлов по шаблону strftime, например\n"
     "\t     %Y-%m-%d/%H.mp3 (%Y %y %m %d %H %M %S %u %w %z %F %%);\n"
     "\t     создаёт папки по мере надобности\n"},
    {"--on-event", OptionValue::Required, setOnEvent,
     "\t--on-event CMD - run CMD through the shell for dead air, a lost input,\n"
     "\t     each finished file, an overrun and the end (VORTA_EVENT and others)\n",
     "\t--on-event КОМАНДА - выполнять КОМАНДУ оболочкой при тишине в эфире,\n"
     "\t     потере входа, готовом файле, переполнении и в конце (VORTA_EVENT...)\n"},
    {"--status", OptionValue::Required, setStatusFile,
     "\t--status FILE - keep the run's state in FILE (JSON), replaced each second\n",
     "\t--status ФАЙЛ - хранить состояние записи в ФАЙЛЕ (JSON), раз в секунду\n"},
    {"--time-map", OptionValue::None, set<&S::timeMap, true>,
     "\t--time-map - keep a time map beside each file (NAME.times: clock time,\n"
     "\t     place in the file, loudness); always on with --name\n",
     "\t--time-map - вести карту времени рядом с каждым файлом (ИМЯ.times:\n"
     "\t     время, место в файле, громкость); с --name всегда\n"},
    {"--utc", OptionValue::None, set<&S::utc, true>,
     "\t--utc - file names, hours and dates in UTC instead of local time\n",
     "\t--utc - имена файлов, часы и даты по UTC, а не по местному времени\n"},
    {"--version", OptionValue::None, ask<Command::Version>,
     "\t--version - show the versions of vorta and of the MP3 engine and exit\n",
     "\t--version - показать версии vorta и MP3-движка и выйти\n"},
};

}  // namespace

std::span<const Option> options() { return kOptions; }

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

}  // namespace vorta
