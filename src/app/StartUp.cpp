#include "app/StartUp.h"

#include <algorithm>
#include <cmath>

#include "app/CommandLine.h"
#include "app/Help.h"
#include "base/HoursMinutesSeconds.h"
#include "base/Messages.h"
#include "base/TextOutput.h"
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

ExitCode showVersion(const TextOutput& out) {
  const Mp3Version lame = makeLameEngine()->version();
  out.say(Msg::VersionLines, VORTA_VERSION, lame.major, lame.minor);
  return ExitCode::Ok;
}

// A description of several lines shows each line indented under the name.
void sayDescription(const TextOutput& out, const std::string& description) {
  for (std::size_t from = 0; from < description.size();) {
    std::size_t end = description.find('\n', from);
    if (end == std::string::npos) end = description.size();
    out.say(Msg::DeviceListDescription, description.substr(from, end - from).c_str());
    from = end + 1;
  }
}

ExitCode listDevices(const TextOutput& out) {
  const Result<SoundDevices> devices = listSoundDevices();
  if (!devices.ok()) {
    out.say(Msg::DeviceListError, devices.error().text.c_str());
    return ExitCode::Error;
  }
  out.say(Msg::DeviceListTitle);
  for (const CaptureDevice& device : devices.value().captureDevices) {
    out.say(Msg::DeviceListName, device.name.c_str());
    sayDescription(out, device.description);
  }
  out.say(Msg::CardListTitle);
  for (const SoundCard& card : devices.value().cards)
    out.say(Msg::CardListEntry, card.index, card.name.c_str(), card.longName.c_str());
  return ExitCode::Ok;
}

// A bitrate that does not suit the rate is told after the separator, with no
// help; every other refusal is followed by the help.
ExitCode refuse(const TextOutput& out, const CommandLine& c) {
  const Refusal& r = *c.refusal;
  switch (r.complaint) {
    case Complaint::BitrateNeedsLowRate:
    case Complaint::RateNeedsLowBitrate:
      out.say(Msg::Separator);
      if (r.complaint == Complaint::BitrateNeedsLowRate) {
        out.say(Msg::BitrateNeedsLowRate, *c.bitrate);
      } else {
        out.say(Msg::RateNeedsLowBitrate1, c.settings.sampleRate / 1000);
        out.say(Msg::RateNeedsLowBitrate2);
      }
      if (isStdoutTerminal()) waitForEnter(out);
      return ExitCode::Error;
    case Complaint::InvalidArgument: out.say(Msg::InvalidArgument, r.word.c_str()); break;
    case Complaint::NameTooLong: out.say(Msg::NameTooLong, r.word.c_str()); break;
    case Complaint::InvalidBitrate: out.say(Msg::InvalidBitrate); break;
    case Complaint::InvalidSampleRate: out.say(Msg::InvalidSampleRate); break;
    case Complaint::InvalidTimeLimit: out.say(Msg::InvalidTimeLimit); break;
    case Complaint::InvalidBufferSize: out.say(Msg::InvalidBufferSize); break;
  }
  return printHelp(out, ExitCode::Error);
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

void printSummary(const TextOutput& out, const Settings& s) {
  if (s.splitMode == SplitMode::None) out.say(Msg::SummaryFile, s.outputName.c_str());
  else out.say(Msg::SummarySplit);
  if (s.utc) out.say(Msg::SummaryUtc);
  out.say(Msg::SummaryFormat, mpegVersionNumber(s.mpegVersion), s.bitrate, s.sampleRate / 1000,
          channelModeName(s.channelMode));
  out.say(Msg::SummaryQuality, qualityName(s.quality));
  out.say(Msg::SummaryBuffer, static_cast<int>(s.bufferSize / 1024));
  const HoursMinutesSeconds limit = splitHours(std::chrono::seconds(s.timeLimitSeconds));
  if (s.timeLimitSeconds != 0)
    out.say(Msg::SummaryTimeLimit, static_cast<int>(limit.hours), limit.minutes);
  if (s.silenceEnabled) out.say(Msg::SummarySilence, silenceLevelDb(s.silenceThreshold));
  if (!s.stopFileName.empty()) out.say(Msg::SummaryStopFile, s.stopFileName.c_str());
}

// What the command line asks for, acted on; the run's settings or the
// code to end with.
std::variant<Settings, ExitCode> act(const TextOutput& out, const CommandLine& c, Clock& clock,
                                     std::uint64_t physicalMemory) {
  out.say(Msg::BannerTitle);
  out.say(Msg::BannerEngine);
  switch (c.command) {
    case Command::NothingToDo: return printHelp(out, ExitCode::NothingToDo);
    case Command::LongHelp: return printHelpWithLongOptions(out);
    case Command::Version: return showVersion(out);
    case Command::ListDevices: return listDevices(out);
    case Command::Refuse: return refuse(out, c);
    case Command::Record: break;
  }
  const Settings settings = resolve(c, clock, physicalMemory);
  out.say(Msg::Separator);
  printSummary(out, settings);
  return settings;
}

}  // namespace

StartUp startUp(std::span<const std::string> words, Clock& clock, std::uint64_t physicalMemory,
                TextSink* sink) {
  const CommandLine c = parseCommandLine(words);
  // Even the banner, which comes before anything else, is in the language
  // and the mode the whole command line asks for.
  const TextOutput out(c.settings.language, c.settings.logLines, sink);
  return {out, act(out, c, clock, physicalMemory)};
}

std::int32_t defaultBufferSize(std::uint64_t physicalMemory, ChannelMode mode) {
  std::uint64_t size = std::min(physicalMemory, kMemoryCountCap) / 20;
  if (mode == ChannelMode::Mono) size /= 2;
  return std::max(static_cast<std::int32_t>(size), kMinBufferSize);
}

}  // namespace vorta
