#include "app/LongOptions.h"

#include "app/Help.h"
#include "base/Messages.h"
#include "platform/Mp3Engine.h"

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

OptionOutcome showHelp(const std::string&, Settings&) {
  printHelpWithLongOptions();
  return OptionOutcome::Finished;
}

OptionOutcome showVersion(const std::string&, Settings&) {
  const Mp3Version lame = makeLameEngine()->version();
  say(Msg::VersionLines, VORTA_VERSION, lame.major, lame.minor);
  return OptionOutcome::Finished;
}

// Alphabetical order.
const LongOption kLongOptions[] = {
    {"device", true, setDevice,
     "\t--device NAME - record from the ALSA capture device NAME (for example\n"
     "\t     plughw:1 or pulse) instead of AUDIODEV or \"default\"\n",
     "\t--device ИМЯ - записывать с устройства ALSA с этим именем (например\n"
     "\t     plughw:1 или pulse) вместо AUDIODEV или \"default\"\n"},
    {"help", false, showHelp,
     "\t--help - show this help and exit\n",
     "\t--help - показать эту справку и выйти\n"},
    {"version", false, showVersion,
     "\t--version - show the versions of vorta and of the MP3 engine and exit\n",
     "\t--version - показать версии vorta и MP3-движка и выйти\n"},
};

}  // namespace

std::span<const LongOption> longOptions() { return kLongOptions; }

}  // namespace vorta
