// --log through readSettings: where the word counts as the option (the value
// rules of the old options come first), what the banner and summary look like
// as log lines, and the losses the closing line sums up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Fakes.h"
#include "app/CommandLine.h"
#include "base/Losses.h"
#include "base/Messages.h"

namespace vorta {
namespace {


const std::string kLogBanner =
    "MP3-encoder of signal from soundcard. Version 1.0.7, 13.11.2000\nMP3-engine: Lame\n"
    "---------------------------------------------------------------------------\n";

TEST(LogOption, TheWordIsTheOptionUnlessTheGrammarMakesItAValue) {
  const struct {
    std::vector<const char*> args;
    bool run, logLines;
    const char* outputName;
    const char* stopFile;
  } cases[] = {
      {{"--log", "rec"}, true, true, "rec.mp3", ""},
      {{"-b", "64", "--log"}, true, true, "out.mp3", ""},  // the last word, yet no name
      {{"-s", "--log", "rec"}, true, true, "rec.mp3", ""},  // -s takes levels only
      {{"-x", "--log", "rec"}, true, false, "rec.mp3", "--log"},
      {{"--device", "--log", "rec"}, true, false, "rec.mp3", ""},  // the device's name
      {{"--log=yes", "rec"}, false, false, "out.mp3", ""},
      {{"--logs", "rec"}, false, false, "out.mp3", ""},
      {{"rec", "--log"}, false, true, "out.mp3", ""},  // a name before the last word
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"vorta"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    KeptText kept;
    Settings settings;
    FakeClock clock;
    const CommandLineResult result =
        readSettings(static_cast<int>(argv.size()), argv.data(), settings, clock, 1u << 29);
    const bool logged = logLinesSelected();
    setLogLines(false);
    const std::string line = std::string(c.args[0]) + " " + c.args[1];
    EXPECT_EQ(result.run, c.run) << line;
    EXPECT_EQ(logged, c.logLines) << line;
    if (!c.run) continue;
    EXPECT_EQ(settings.logLines, c.logLines) << line;
    EXPECT_EQ(settings.outputName, c.outputName) << line;
    EXPECT_EQ(settings.stopFileName, c.stopFile) << line;
    if (c.logLines) EXPECT_EQ(kept.out.substr(0, kLogBanner.size()), kLogBanner) << line;
    else EXPECT_EQ(kept.out.substr(0, 2), "\nM") << line;
  }
}

TEST(LogOption, AnUnknownLongOptionIsAnInvalidArgument) {
  KeptText kept;
  Settings settings;
  FakeClock clock;
  const char* argv[] = {"vorta", "--lo", "rec"};
  EXPECT_EQ(readSettings(3, argv, settings, clock, 1u << 29).exitCode, ExitCode::Error);
  EXPECT_NE(kept.err.find("* Invalid argument --lo.\n"), std::string::npos) << kept.err;
}

TEST(Losses, TheClosingLineSumsWhatTheRunSaid) {
  KeptText kept;
  const Losses before = lossesSoFar();
  say(Msg::Overrun, 40);
  say(Msg::Overrun, 1500);
  say(Msg::RingOverflow);
  say(Msg::DeviceLost, "gone");  // ends the run; no loss of its own to count
  const Losses after = lossesSoFar();
  EXPECT_EQ(after.overruns - before.overruns, 2u);
  EXPECT_EQ(after.overrunMs - before.overrunMs, 1540u);
  EXPECT_EQ(after.bufferOverflows - before.bufferOverflows, 1u);
  setLogLines(true);
  say(Msg::LogLosses, 2u, 1540ull, 1u);
  say(Msg::Overrun, 40);
  setLogLines(false);
  EXPECT_EQ(kept.err.substr(kept.err.find("Losses")),
            "Losses: 2 sound input overruns (about 1540 ms of sound), 1 buffer overflows\n"
            "* Sound input overrun: about 40 ms of sound lost.\n");
}

}  // namespace
}  // namespace vorta
