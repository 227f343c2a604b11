#include "app/LongOptions.h"

#include "app/Help.h"
#include "base/Messages.h"
#include "base/NamePattern.h"
#include "platform/Mp3Engine.h"
#include "platform/SoundInput.h"

namespace vorta {
namespace {

OptionOutcome setDevice(const std::string& name, Settings& s) {
  // An empty name would silently mean the default device.
  if (name.empty()) {
    say(Msg::InvalidArgument, "--device=");
    return OptionOutcome::Refused;
  }
  s.device = name;
  return OptionOutcome::Continue;
}

OptionOutcome refuse(const std::string& word) {
  say(Msg::InvalidArgument, word.c_str());
  return OptionOutcome::Refused;
}

OptionOutcome setDir(const std::string& folder, Settings& s) {
  if (folder.empty()) return refuse("--dir=");
  s.outputDir = folder;
  return OptionOutcome::Continue;
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
OptionOutcome setKeepDays(const std::string& days, Settings& s) {
  return readWhole(days, 36500, s.keepDays) ? OptionOutcome::Continue : refuse(days);
}

// Minutes, whole or with up to three decimals (0.5 is half a minute), from
// a second to a year: broadcasters alarm on seconds of dead air, others on
// minutes. Read exactly, in milliseconds, so 0.1 is 6000 ms and not a hair less.
OptionOutcome setDeadAir(const std::string& minutes, Settings& s) {
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
  s.deadAirMs = ms;
  return OptionOutcome::Continue;
}

OptionOutcome setMeter(const std::string&, Settings& s) {
  s.meter = true;
  return OptionOutcome::Continue;
}

OptionOutcome setNamePattern(const std::string& pattern, Settings& s) {
  if (!isValidNamePattern(pattern)) return refuse(pattern);
  s.namePattern = pattern;
  return OptionOutcome::Continue;
}

// A description of several lines shows each line indented under the name.
void sayDescription(const std::string& description) {
  for (std::size_t from = 0; from < description.size();) {
    std::size_t end = description.find('\n', from);
    if (end == std::string::npos) end = description.size();
    say(Msg::DeviceListDescription, description.substr(from, end - from).c_str());
    from = end + 1;
  }
}

OptionOutcome listDevices(const std::string&, Settings&) {
  const Result<SoundDevices> devices = listSoundDevices();
  if (!devices.ok()) {
    say(Msg::DeviceListError, devices.error().text.c_str());
    return OptionOutcome::Failed;
  }
  say(Msg::DeviceListTitle);
  for (const CaptureDevice& device : devices.value().captureDevices) {
    say(Msg::DeviceListName, device.name.c_str());
    sayDescription(device.description);
  }
  say(Msg::CardListTitle);
  for (const SoundCard& card : devices.value().cards)
    say(Msg::CardListEntry, card.index, card.name.c_str(), card.longName.c_str());
  return OptionOutcome::Finished;
}

OptionOutcome showHelp(const std::string&, Settings&) {
  printHelpWithLongOptions();
  return OptionOutcome::Finished;
}

OptionOutcome useLogLines(const std::string&, Settings& s) {
  s.logLines = true;
  return OptionOutcome::Continue;
}

OptionOutcome showVersion(const std::string&, Settings&) {
  const Mp3Version lame = makeLameEngine()->version();
  say(Msg::VersionLines, VORTA_VERSION, lame.major, lame.minor);
  return OptionOutcome::Finished;
}

// Alphabetical order.
const LongOption kLongOptions[] = {
    {"dead-air", true, setDeadAir,
     "\t--dead-air MINUTES - warn when the input stays below the silence level\n"
     "\t     (-s, default -50 dB) for MINUTES (0.5: 30 s), and when it is back\n",
     "\t--dead-air МИНУТЫ - предупреждать, если сигнал ниже уровня тишины\n"
     "\t     (-s, по умолчанию -50 dB) дольше МИНУТ (0.5: 30 с),\n"
     "\t     и когда звук вернулся\n"},
    {"device", true, setDevice,
     "\t--device NAME - record from the ALSA capture device NAME (for example\n"
     "\t     plughw:1 or pulse) instead of AUDIODEV or \"default\"\n",
     "\t--device ИМЯ - записывать с устройства ALSA с этим именем (например\n"
     "\t     plughw:1 или pulse) вместо AUDIODEV или \"default\"\n"},
    {"dir", true, setDir,
     "\t--dir DIR - put the files in the folder DIR\n",
     "\t--dir ПАПКА - сохранять файлы в папку ПАПКА\n"},
    {"help", false, showHelp,
     "\t--help - show this help and exit\n",
     "\t--help - показать эту справку и выйти\n"},
    {"keep-days", true, setKeepDays,
     "\t--keep-days N - delete files named by --name that are older than N days\n",
     "\t--keep-days N - удалять файлы с именами по --name старше N дней\n"},
    {"list-devices", false, listDevices,
     "\t--list-devices - list the capture devices and the sound cards and exit\n",
     "\t--list-devices - показать устройства записи и звуковые карты и выйти\n"},
    {"log", false, useLogLines,
     "\t--log - output for a log (journal, pipe, file): whole lines, the status\n"
     "\t     line once a minute, the run's losses at the end\n",
     "\t--log - вывод для журнала (journal, канал, файл): целые строки, строка\n"
     "\t     состояния раз в минуту, потери записи в конце\n"},
    {"meter", false, setMeter,
     "\t--meter - the status line also shows peaks (dBFS) and clipped samples\n",
     "\t--meter - в строке состояния также пики (dBFS) и перегрузки\n"},
    {"name", true, setNamePattern,
     "\t--name PATTERN - split files named by a strftime pattern, for example\n"
     "\t     %Y-%m-%d/%H.mp3 (%Y %y %m %d %H %M %S %u %w %F %%); makes folders\n",
     "\t--name ШАБЛОН - имена файлов по шаблону strftime, например\n"
     "\t     %Y-%m-%d/%H.mp3 (%Y %y %m %d %H %M %S %u %w %F %%); создаёт папки\n"},
    {"version", false, showVersion,
     "\t--version - show the versions of vorta and of the MP3 engine and exit\n",
     "\t--version - показать версии vorta и MP3-движка и выйти\n"},
};

}  // namespace

std::span<const LongOption> longOptions() { return kLongOptions; }

}  // namespace vorta
