// The command line in-process, as rows: words typed, exact bytes on stdout and stderr, exit code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>
#include <regex>

#include "ExpectedTexts.h"
#include "Fakes.h"
#include "Subprocess.h"
#include "app/Options.h"
#include "app/StartUp.h"
#include "base/SplitName.h"

namespace vorta {
namespace {

const std::string k2Pow64 = "18446744073709551616";
constexpr std::uint64_t k512MiB = 512ull << 20;

// The help lines of a language as printed: "%%" shows as one percent sign.
std::string help(Language language, std::size_t from = 0, std::size_t to = 99) {
  const std::vector<HelpLine> lines = helpLines(language);
  std::string text;
  for (std::size_t i = from; i < to && i < lines.size(); ++i) text += lines[i].text;
  return std::regex_replace(text, std::regex("%%"), "%");
}

struct Outcome { ExitCode code = ExitCode::Ok; bool run = false; Settings settings; std::string out, err; };

Outcome read(const std::vector<std::string>& args, std::uint64_t memory = k512MiB) {
  std::vector<std::string> words{"vorta"};
  words.insert(words.end(), args.begin(), args.end());
  Outcome o;
  std::fflush(stdout);  // stdout away from any terminal: no paging, no prompt
  const int saved = ::dup(1), null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, 1);
  KeptText text;
  FakeClock clock;  // Monday the 15th, 07:00
  const StartUp start = startUp(words, clock, memory, &text);
  o.run = std::holds_alternative<Settings>(start.outcome);
  if (o.run) o.settings = std::get<Settings>(start.outcome);
  else o.code = std::get<ExitCode>(start.outcome);
  o.out = text.out, o.err = text.err;
  ::dup2(saved, 1), ::close(saved), ::close(null);
  return o;
}

// The run summary after the separator.
std::string summary(const std::string& file, const std::string& format, const std::string& rest = "",
                    const std::string& buffer = "26214", const std::string& quality = "high") {
  return kSeparator + "* Resulting file: " + file + "\n* File format: MPEG" + format +
         "\n* Quality: " + quality + "\n* Buffer size: " + buffer + " kb\n" + rest;
}
const std::string kJoint = "1 Layer3, 128 kbit/s, 44 kHz, j-stereo";
const std::string kHelp = "HELP", kFullHelp = "FULL";  // in a row: the English help; it and the long options
std::string longHelp() {
  std::string page = "\nLong options (--option VALUE or --option=VALUE):\n";
  for (const Option& o : options()) page += o.englishHelp ? o.englishHelp : "";
  return page;
}
std::string refused(const std::string& what) { return "* Invalid " + what + ".\r\n\r\n"; }
std::string badWord(const std::string& word) { return "* Invalid argument " + word + ".\n\r\n"; }
std::string tooLong(const std::string& name) { return "* File name too long (at most 259 bytes): " + name + "\r\n\r\n"; }

struct Row { std::vector<std::string> args; ExitCode code; std::string out, err; };

const Row kRows[] = {
    {{}, ExitCode::NothingToDo, kHelp, ""},
    {{"rec"}, ExitCode::Ok, summary("rec.mp3", kJoint), ""},
    {{"-mm", "rec"}, ExitCode::Ok, summary("rec.mp3", "1 Layer3, 128 kbit/s, 44 kHz, mono", "", "13107"), ""},
    {{"-b"}, ExitCode::Ok, summary("-b.mp3", kJoint), ""},
    {{""}, ExitCode::Ok, summary("out.mp3", kJoint), ""},
    {{"-b", "128000", "-d", "44.1", "-t", "90", "-s", "50", "-x", "halt", "-ql", "-ms", "-a", "r.wav"},
     ExitCode::Ok, summary("r.wav", "1 Layer3, 128 kbit/s, 44 kHz, stereo", "* Time limit: 1 h 30 min\n* "
     "Cutting out silence on level: -50 dB\n* Exit on semaphore file: halt\n", "26214", "low"), ""},
    {{"-d", "11", "-b", "8", "-f", "256", "-t", "60", "-qh", "x"}, ExitCode::Ok,
     summary("x.mp3", "2.5 Layer3, 8 kbit/s, 11 kHz, j-stereo", "* Time limit: 1 h 00 min\n", "256"), ""},
    {{"-d", "22", "-s", "rec"}, ExitCode::Ok, summary("rec.mp3", "2 Layer3, 80 kbit/s, 22 kHz, "
     "j-stereo", "* Cutting out silence on level: -50 dB\n"), ""},
    {{"-d", "8", "-b", "192", "-d", "48", "-f", "255", "r"}, ExitCode::Ok,
     summary("r.mp3", "1 Layer3, 192 kbit/s, 48 kHz, stereo"), ""},
    {{"-d", "16", "-mj", "-mm", "-p-", "-a-", "-s", "97", "dir.x/rec"}, ExitCode::Ok, summary("dir.x/"
     "rec.mp3", "2 Layer3, 80 kbit/s, 16 kHz, mono", "* Cutting out silence on level: -97 dB\n", "13107"), ""},
    {{"-s", k2Pow64, "-t", "35791394", "-f", "-" + k2Pow64, "-x", "\xc3\x28", "%s%n."}, ExitCode::Ok,
     summary("%s%n.", kJoint, "* Time limit: 596523 h 14 min\n* Cutting out silence on level: -97 dB\n"
     "* Exit on semaphore file: \xc3\x28\n"), ""},
    {{"-split2", "rec"}, ExitCode::Ok, kSeparator + "* Split mode (files duration of 1 hour)\n"
     "* File format: MPEG" + kJoint + "\n* Quality: high\n* Buffer size: 26214 kb\n", ""},
    {{"--device=hw:1", "-x", "--help", "r"}, ExitCode::Ok,
     summary("r.mp3", kJoint, "* Exit on semaphore file: --help\n"), ""},
    {{"--device", "-b", "r"}, ExitCode::Ok, summary("r.mp3", kJoint), ""},
    {{"-b", "64", "--help", "--x"}, ExitCode::Ok, kFullHelp, ""},
    {{std::string(256, 'n')}, ExitCode::Error, kHelp, tooLong(std::string(256, 'n'))},
    {{"-x", std::string(260, 's'), "r"}, ExitCode::Error, kHelp, tooLong(std::string(260, 's'))},
    // Bitrate and rate that cannot go together: the message, no help.
    {{"-b", "8", "r"}, ExitCode::Error, kSeparator,
     "* Bitrate 8 kbit/s can be used only with samplerate 8, 11, 12, 16, 22 or 24 kHz\r\n\r\n"},
    {{"-b", "192", "-d", "22", "r"}, ExitCode::Error, kSeparator,
     "* Samplerate 22 kHz can be used only with bitrate\r\n"
     "  8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144 or 160 kbis/s\r\n\r\n"},
};

// Refused with the word named and the help.
const std::pair<std::vector<std::string>, std::string> kBadWords[] = {
    {{"--keep-days", "3", "r"}, "--keep-days"}, {{"--name=%F/%H.mp3", "--keep-days=0", "r"}, "0"}, {{"--x", "r"}, "--x"},
    {{"r", "--"}, "r"}, {{"--help=1"}, "--help=1"}, {{"-b", "64", "--device"}, "--device"}, {{"--device=", "r"}, "--device="},
    {{"-B", "128", "rec"}, "-B"}, {{"-s", "0", "rec"}, "0"}, {{"%s%n", "r"}, "%s%n"}, {{"--dead-air", "0.016", "r"}, "0.016"},
    {{"--dead-air=1.", "r"}, "1."}, {{"--dead-air", "0.5000", "r"}, "0.5000"}, {{"--dead-air=525600.001", "r"}, "525600.001"},
    {{"--keep-free", "1G", "r"}, "--keep-free"}, {{"--name=%H", "--keep-free=10", "r"}, "10"},
    {{"--name=%H", "--keep-free=100%", "r"}, "100%"}, {{"--name=%H", "--keep-free=5X", "r"}, "5X"}, {{"--utc=1", "r"}, "--utc=1"}};

// Refused with the option's message and the help; past 32 bits none wraps.
const std::pair<std::string, std::vector<std::vector<std::string>>> kRefused[] = {
    {refused("bitrate"), {{"-b", "1000"}, {"-b", "4294967424"}, {"-b", "-" + std::string(100 * 1024, '9')}}},
    {refused("samplerate"), {{"-d", "44000"}, {"-d", "0"}, {"-d", "4294967340"}}},
    {"* Invalid time limit value.\n\r\n", {{"-t", "0"}, {"-t", "35791395"}, {"-t", "4294967297"}}},
    {refused("buffer size"), {{"-f", "2097152"}, {"-f", "4294967552"}}}};

TEST(CommandLine, EachRowPrintsItsBytesAndEndsWithItsCode) {
  std::vector<Row> rows(std::begin(kRows), std::end(kRows));
  for (const auto& [args, word] : kBadWords) rows.push_back({args, ExitCode::Error, kHelp, badWord(word)});
  for (const auto& [err, lines] : kRefused)
    for (auto args : lines) rows.push_back({(args.push_back("r"), args), ExitCode::Error, kHelp, err});
  for (const Row& row : rows) {
    const Outcome o = read(row.args);
    SCOPED_TRACE(row.args.empty() ? "(none)" : row.args.front().substr(0, 40) + " ...");
    EXPECT_EQ(std::tuple(o.run, o.code, o.err),
              std::tuple(row.code == ExitCode::Ok && row.out != kFullHelp, row.code, row.err));
    const std::string help = row.out == kHelp || row.out == kFullHelp ? vorta::help(Language::English) : row.out;
    EXPECT_EQ(o.out, kBanner + help + (row.out == kFullHelp ? longHelp() : ""));
  }
}

TEST(CommandLine, RussianIsChosenByAnyRusWordBeforeTheOptionsAreRead) {
  const Outcome o = read({"-b", "999", "-RUS"});
  EXPECT_EQ(o.code == ExitCode::Error ? o.err : "", "* Неверное значение битрейта.\r\n\r\n");
  EXPECT_EQ(o.out, kBannerRu + help(Language::Russian));
  EXPECT_EQ(read({"-rus", "-Rus"}).code, ExitCode::NothingToDo);
}

TEST(CommandLine, SettingsTheRecordingRunsWith) {
  const Settings s = read({"-split3", "-s", "-50", "-a", "-b", "8", "-d", "22", "r"}).settings;
  EXPECT_EQ(s.outputName + " " + std::to_string(s.silenceThreshold), "15 - 07.mp3 104");
  EXPECT_TRUE(s.raiseEncoderPriority && s.sampleRate == 22050 && s.splitMode == SplitMode::Monthly);
  EXPECT_FALSE(read({"-a", "-a-", "r"}).settings.raiseEncoderPriority);
  EXPECT_EQ(read({"-split1", "r"}).settings.outputName, "07.mp3");
  EXPECT_EQ(read({"--device", "plughw:1", "--device=pulse", "r"}).settings.device, "pulse");
  EXPECT_TRUE(std::regex_match(read({"--version", "r"}).out,
                               std::regex(kBanner + "vorta \\d+\\.\\d+\\.\\d+\nLAME \\d+\\.\\d+\n")));
  const Settings n = read({"--dir=d", "--name", "%F/%H.mp3", "--keep-days", "36500", "r"}).settings;
  EXPECT_EQ(n.outputName + " " + std::to_string(n.keepDays), "d/1970-01-15/07.mp3 36500");
  const Outcome u = read({"--utc", "--name", "%F/%H%z.mp3", "--keep-free=20g", "--keep-free", "500M", "r"});
  EXPECT_EQ(u.settings.outputName, "1970-01-01/00+0000.mp3");  // the fake's epoch 1000, not its local 07:00
  EXPECT_EQ(u.settings.keepFreeBytes, 500ull << 20);
  EXPECT_NE(u.out.find("* Split mode (files duration of 1 hour)\n* File names and hours in UTC\n"), std::string::npos);
  EXPECT_EQ(read({"--name=%H", "--keep-free", "10%", "r"}).settings.keepFreePercent, 10);
  for (auto [minutes, ms] : {std::pair{"0.017", 1020ll}, {"1.5", 90000ll}, {"525600", 31536000000ll}})
    EXPECT_EQ(read({"--dead-air", minutes, "r"}).settings.deadAirMs, ms) << minutes;
  EXPECT_EQ(makeSplitName(SplitMode::Weekly, LocalTime{23, 0, 1}), "su - 23.mp3");
}

TEST(CommandLine, DefaultBufferIsATwentiethOfMemoryCountedUpTo4GiB) {
  for (auto [memory, bytes] : {std::pair{k512MiB, 26843545}, {1 << 20, 262144}, {64ull << 30, 214748364}})
    EXPECT_EQ(read({"r"}, memory).settings.bufferSize, bytes) << memory;
  EXPECT_EQ(read({"-mm", "r"}, 64ull << 30).settings.bufferSize, 107374182);
}

// The real binary on a terminal of 25 rows: pages of 17 lines, only Enter goes on, the terminal put back.
TEST(HelpScreen, PagesByTheTerminalsRowsAndPutsTheTerminalBack) {
  const auto shown = [](std::string text) {  // the terminal turns "\n" into "\r\n"
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
      text.insert(at, "\r");
    return text + "Press ENTER to continue...";
  };
  const std::string page = shown(kBanner + help(Language::English, 0, 17));
  const std::string eraser = "\r" + std::string(40, ' ') + "\r";
  test::Subprocess p;
  ASSERT_TRUE(p.start([] { test::ProcessOptions o; return o.pty = true, o; }()) && p.waitForOutput(page, 20000));
  termios t{};
  EXPECT_TRUE(p.terminalSettings(t) && !(t.c_lflag & (ICANON | ECHO)) && !(t.c_iflag & IXON))
      << "single keys, no echo, and Ctrl+S cannot freeze the output";
  ASSERT_TRUE(p.sendInput("x a\r") && p.waitForOutput("...", 20000, page.size()) && p.sendInput("\n"));
  EXPECT_EQ(p.wait(20000), 1);
  EXPECT_EQ(p.output(), page + eraser + shown(help(Language::English, 17)) + eraser);
  EXPECT_TRUE(p.terminalSettings(t) && test::sameTerminal(t, test::freshTerminal()));
}

}  // namespace
}  // namespace vorta
