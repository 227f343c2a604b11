#include "app/StartUp.h"

#include <algorithm>
#include <cmath>

#include "app/CommandLine.h"
#include "app/Help.h"
#include "base/HoursMinutesSeconds.h"
#include "base/Messages.h"
#include "base/SplitName.h"
#include "base/UtcClock.h"
#include "platform/Clock.h"
#include "platform/Mp3Engine.h"
#include "platform/Paths.h"
#include "platform/SoundInput.h"
#include "platform/Terminal.h"

namespace vorta {
namespace {

constexpr std::int32_t kMinBufferSize = 262144;
// The physical memory the default buffer is taken from is counted as a 32-bit
// figure: on bigger machines a twentieth of all memory would be a ring of
// gigabytes for a recorder that needs seconds of it.
constexpr std::uint64_t kMemoryCountCap = 4294967295u;

// Shown for a silence threshold of 0, where 20 * log10(0) has no finite value.
// Levels of 97 dB and more give that threshold, and every non-zero threshold
// shows -90 dB or more, so -97 names the first level that produces it.
constexpr int kSilenceFloorDb = -97;

int silenceLevelDb(int threshold) {
  if (threshold <= 0) return kSilenceFloorDb;
  return static_cast<int>(std::trunc(20.0 * std::log10(threshold / 32767.0) - 0.5));
}

ExitCode showVersion() {
  const Mp3Version lame = makeLameEngine()->version();
  say(Msg::VersionLines, VORTA_VERSION, lame.major, lame.minor);
  return ExitCode::Ok;
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

ExitCode listDevices() {
  const Result<SoundDevices> devices = listSoundDevices();
  if (!devices.ok()) {
    say(Msg::DeviceListError, devices.error().text.c_str());
    return ExitCode::Error;
  }
  say(Msg::DeviceListTitle);
  for (const CaptureDevice& device : devices.value().captureDevices) {
    say(Msg::DeviceListName, device.name.c_str());
    sayDescription(device.description);
  }
  say(Msg::CardListTitle);
  for (const SoundCard& card : devices.value().cards)
    say(Msg::CardListEntry, card.index, card.name.c_str(), card.longName.c_str());
  return ExitCode::Ok;
}

// A bitrate that does not suit the rate is told after the separator, with no
// help; every other refusal is followed by the help.
ExitCode refuse(const CommandLine& c) {
  const Refusal& r = *c.refusal;
  switch (r.complaint) {
    case Complaint::BitrateNeedsLowRate:
    case Complaint::RateNeedsLowBitrate:
      say(Msg::Separator);
      if (r.complaint == Complaint::BitrateNeedsLowRate) {
        say(Msg::BitrateNeedsLowRate, *c.bitrate);
      } else {
        say(Msg::RateNeedsLowBitrate1, c.settings.sampleRate / 1000);
        say(Msg::RateNeedsLowBitrate2);
      }
      if (isStdoutTerminal()) waitForEnter();
      return ExitCode::Error;
    case Complaint::InvalidArgument: say(Msg::InvalidArgument, r.word.c_str()); break;
    case Complaint::NameTooLong: say(Msg::NameTooLong, r.word.c_str()); break;
    case Complaint::InvalidBitrate: say(Msg::InvalidBitrate); break;
    case Complaint::InvalidSampleRate: say(Msg::InvalidSampleRate); break;
    case Complaint::InvalidTimeLimit: say(Msg::InvalidTimeLimit); break;
    case Complaint::InvalidBufferSize: say(Msg::InvalidBufferSize); break;
  }
  return printHelp(ExitCode::Error);
}

// The values the command line left open, in this order: the file's path,
// the bitrate from the sample rate, the channel mode from the bitrate, the
// buffer from memory and the channel mode.
Settings resolve(const CommandLine& c, Clock& clock, std::uint64_t physicalMemory) {
  Settings s = c.settings;
  // In split mode the name from the command line gives way to the hour's; a
  // relative name goes into the --dir folder.
  UtcClock utc(clock);
  if (s.splitMode != SplitMode::None) s.outputName = splitFileName(s, (s.utc ? utc : clock).localNow());
  else if (!isDirectorySeparator(s.outputName.front())) s.outputName = inFolder(s.outputDir, s.outputName);
  s.bitrate = c.bitrate.value_or(s.sampleRate < 15000 ? 32 : s.sampleRate < 31000 ? 80 : 128);
  s.channelMode = c.channelMode.value_or(s.bitrate < 192 ? ChannelMode::JointStereo : ChannelMode::Stereo);
  s.bufferSize = c.bufferSize.value_or(defaultBufferSize(physicalMemory, s.channelMode));
  return s;
}

void printSummary(const Settings& s) {
  if (s.splitMode == SplitMode::None) say(Msg::SummaryFile, s.outputName.c_str());
  else say(Msg::SummarySplit);
  if (s.utc) say(Msg::SummaryUtc);
  say(Msg::SummaryFormat, mpegVersionNumber(s.mpegVersion), s.bitrate, s.sampleRate / 1000,
      channelModeName(s.channelMode));
  say(Msg::SummaryQuality, qualityName(s.quality));
  say(Msg::SummaryBuffer, static_cast<int>(s.bufferSize / 1024));
  const HoursMinutesSeconds limit = splitHours(std::chrono::seconds(s.timeLimitSeconds));
  if (s.timeLimitSeconds != 0)
    say(Msg::SummaryTimeLimit, static_cast<int>(limit.hours), limit.minutes);
  if (s.silenceEnabled) say(Msg::SummarySilence, silenceLevelDb(s.silenceThreshold));
  if (!s.stopFileName.empty()) say(Msg::SummaryStopFile, s.stopFileName.c_str());
}

}  // namespace

std::int32_t defaultBufferSize(std::uint64_t physicalMemory, ChannelMode mode) {
  std::uint64_t size = std::min(physicalMemory, kMemoryCountCap) / 20;
  if (mode == ChannelMode::Mono) size /= 2;
  return std::max(static_cast<std::int32_t>(size), kMinBufferSize);
}

StartUp startUp(std::span<const std::string> words, Clock& clock, std::uint64_t physicalMemory) {
  const CommandLine c = parseCommandLine(words);
  selectLanguage(c.settings.language);
  if (c.settings.logLines) setLogLines(true);
  say(Msg::BannerTitle);
  say(Msg::BannerEngine);
  switch (c.command) {
    case Command::NothingToDo: return printHelp(ExitCode::NothingToDo);
    case Command::LongHelp: return printHelpWithLongOptions();
    case Command::Version: return showVersion();
    case Command::ListDevices: return listDevices();
    case Command::Refuse: return refuse(c);
    case Command::Record: break;
  }
  const Settings settings = resolve(c, clock, physicalMemory);
  say(Msg::Separator);
  printSummary(settings);
  return settings;
}

}  // namespace vorta
