// The real binary's help screen, errors and prompts: redirected (no prompt at
// all) and on a pseudo-terminal (paging by its rows, the Enter prompt, the
// terminal's settings put back).
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ExpectedTexts.h"
#include "Subprocess.h"

namespace vorta::test {
namespace {

const std::string kPrompt = "Press ENTER to continue...";
const std::string kPromptRu = "Нажмите ENTER для продолжения...";
const std::string kEraser = "\r" + std::string(40, ' ') + "\r";
const std::vector<std::string> kC = {"LC_ALL=C"};

const std::vector<std::string> kHelp = {
    "* Execute vorta -rus to get russian help\n\n",
    "Usage:\n",
    "vorta [options] [outfile]\n",
    "options: [-b bitrate] [-f buffer] [-s level] [-a] [-ms|j|m] [-ql|h]\n",
    "         [-d frequency] [-x filename] [-split1|2|3]\n\n",
    "\t-b - bitrate, maybe 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128,\n",
    "\t     144, 160, 192, 224, 256, 320 kbit/s, default - 128 kbit/s\n",
    "\t-d - working samplerate, maybe 8, 11, 12, 16, 22, 24, 32, 44 or 48 kHz,\n",
    "\t     default 44 kHz\n",
    "\t-t - limitation of encoding time, in minutes, by default - no limit\n",
    "\t-f - size of working buffer, in kbytes, starting with 256 kb,\n",
    "\t     default - 5% of physical RAM (for mono - 2.5%)\n",
    "\t-s - cutting out silence on mentioned level, in dB, default - -50 dB\n",
    "\t-a - set the increased priority execution of encoder,\n",
    "\t     by default on Windows 9x, -a- disable this mode\n",
    "\t-x - set of semaphore filename for stopping recording process\n",
    "\t-ms - use stereo mode (by default for bitrates >= 192)\n",
    "\t-mj - use j-stereo mode (by default for bitrates < 192)\n",
    "\t-mm - use mono mode\n",
    "\t-ql - encode with low quality\n",
    "\t-qh - encode with high quality (by default)\n",
    "\t-split1 - split to files (duration of 1 hour), daily cycle\n",
    "\t-split2 - split to files (duration of 1 hour), weekly cycle\n",
    "\t-split3 - split to files (duration of 1 hour), monthly cycle\n",
    "\toutfile - resulting mp3 filename, by default - out.mp3\n",
};

const std::vector<std::string> kHelpRu = {
    "Использование:\n",
    "vorta [options] [outfile]\n",
    "options: [-b bitrate] [-f buffer] [-s level] [-a] [-ms|j|m] [-ql|h]\n",
    "         [-d frequency] [-x filename] [-split1|2|3]\n\n",
    "\t-b - битрейт, из ряда 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128,\n",
    "\t     144, 160, 192, 224, 256, 320 кбит/c, по умолчанию - 128 кбит/c\n",
    "\t-d - задать рабочую частоту дискретизации, из ряда 8, 11, 12, 16,\n",
    "\t     22, 24, 32, 44 или 48 кГц, по умолчанию 44 кГц\n",
    "\t-t - ограничение кодирования по времени в минутах,\n",
    "\t     по умолчанию - нет ограничения\n",
    "\t-f - размер буфера в кб для неупакованных данных, от 256 кб,\n",
    "\t     по умолчанию - 5% от объема ОЗУ (для mono - 2.5%)\n",
    "\t-s - вырезание пауз по указаному уровню (в dB)\n",
    "\t     по умолчанию используется уровень -50 dB\n",
    "\t-a - установить повышенный приоритет выполнения кодера,\n",
    "\t     по умолчанию для Windows 9x, -a- отменяет этот режим\n",
    "\t-x - задает имя файла-флага, по появлению которого программа\n",
    "\t     завершает работу, файл-флаг при этом удаляется\n",
    "\t-ms - использовать режим stereo (по умолчанию для битрейтов >= 192)\n",
    "\t-mj - использовать режим j-stereo (по умолчанию для битрейтов < 192)\n",
    "\t-mm - использовать режим mono\n",
    "\t-ql - кодировать с низким качеством\n",
    "\t-qh - кодировать с высоким качеством (по умолчанию)\n",
    "\t-split1 - разбивать на файлы длительностью 1 час, суточный цикл\n",
    "\t-split2 - разбивать на файлы длительностью 1 час, недельный цикл\n",
    "\t-split3 - разбивать на файлы длительностью 1 час, месячный цикл\n",
    "\toutfile - имя создаваемого mp3-файла, по умолчанию out.mp3\n",
};

// Lines [from, to) of a help, joined.
std::string lines(const std::vector<std::string>& help, std::size_t from, std::size_t to) {
  std::string joined;
  for (std::size_t i = from; i < to && i < help.size(); ++i) joined += help[i];
  return joined;
}
std::string all(const std::vector<std::string>& help) { return lines(help, 0, help.size()); }

// What a terminal shows: its output processing turns "\n" into "\r\n".
std::string onTerminal(const std::string& text) {
  std::string shown;
  for (char c : text) {
    if (c == '\n') shown += '\r';
    shown += c;
  }
  return shown;
}

bool sameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

// The settings a new pseudo-terminal starts with, as the child's did. Read
// from a terminal of our own, since the child may already be at its prompt
// when the test first looks.
termios freshTerminalSettings() {
  termios settings{};
  int master = -1;
  int slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
    ::tcgetattr(master, &settings);
    ::close(slave);
    ::close(master);
  }
  return settings;
}

// --- Redirected output ------------------------------------------------------

TEST(HelpScreen, NoArgumentsPrintBannerAndWholeHelpWithoutPromptAndExitOne) {
  const RunResult r = runVorta({}, kC);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, kBanner + all(kHelp));
  EXPECT_EQ(r.err, "");
}

TEST(HelpScreen, RussianIsUtf8InTheCLocale) {
  for (const char* word : {"-rus", "-RUS"}) {
    const RunResult r = runVorta({word}, kC);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kBannerRu + all(kHelpRu));
    EXPECT_EQ(r.err, "");
  }
}

TEST(HelpScreen, InvalidArgumentGoesToStderrAndTheHelpToStdout) {
  RunResult r = runVorta({"rec", "extra"}, kC);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "* Invalid argument rec.\n\r\n");
  EXPECT_EQ(r.out, kBanner + all(kHelp));

  r = runVorta({"-b", "999", "-rus"}, kC);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "* Неверное значение битрейта.\r\n\r\n");
  EXPECT_EQ(r.out, kBannerRu + all(kHelpRu));
}

TEST(HelpScreen, CompatibilityErrorWithoutTerminalEndsAtOnceWithThree) {
  ProcessOptions o;
  o.args = {"-b", "8", "rec"};
  o.env = kC;
  o.noControllingTerminal = true;
  Subprocess p;
  ASSERT_TRUE(p.start(o));
  EXPECT_EQ(p.wait(30000), 3);
  EXPECT_EQ(p.output(), kBanner + kSeparator);
  EXPECT_EQ(p.errors(),
            "* Bitrate 8 kbit/s can be used only with samplerate 8, 11, 12, 16, 22 or 24 kHz\r\n\r\n");
}

// --- On a terminal -----------------------------------------------------------

ProcessOptions onPty(std::vector<std::string> args, int rows) {
  ProcessOptions o;
  o.args = std::move(args);
  o.env = kC;
  o.pty = true;
  o.rows = rows;
  return o;
}

struct PagingCase {
  std::vector<std::string> args;
  const std::vector<std::string>* help;
  const std::string* banner;
  const std::string* prompt;
  std::size_t pauseAfter;  // lines shown before the paging prompt
  int exitCode;
};

class Paging : public ::testing::TestWithParam<PagingCase> {};

TEST_P(Paging, PausesOnceOnTwentyFiveRowsAndRestoresTheTerminal) {
  const PagingCase& c = GetParam();
  ProcessOptions o = onPty(c.args, 25);
  o.stderrToPipe = true;  // an error message is checked elsewhere
  Subprocess p;
  ASSERT_TRUE(p.start(o));
  const termios before = freshTerminalSettings();

  const std::string firstPage = onTerminal(*c.banner + lines(*c.help, 0, c.pauseAfter)) + *c.prompt;
  ASSERT_TRUE(p.waitForOutput(*c.prompt, 20000)) << p.output();
  EXPECT_EQ(p.output(), firstPage);
  termios during{};
  ASSERT_TRUE(p.terminalSettings(during));
  EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u) << "keys are read singly and silently";

  // Other keys are ignored and not echoed; Enter erases the prompt.
  ASSERT_TRUE(p.sendInput("x a"));
  ASSERT_TRUE(p.sendInput("\r"));
  const std::string rest =
      onTerminal(lines(*c.help, c.pauseAfter, c.help->size())) + *c.prompt;
  ASSERT_TRUE(p.waitForOutput(*c.prompt, 20000, firstPage.size())) << p.output();
  EXPECT_EQ(p.output(), firstPage + kEraser + rest);

  ASSERT_TRUE(p.sendInput("\r"));
  EXPECT_EQ(p.wait(20000), c.exitCode);
  EXPECT_EQ(p.output(), firstPage + kEraser + rest + kEraser);
  termios after{};
  ASSERT_TRUE(p.terminalSettings(after));
  EXPECT_TRUE(sameSettings(before, after));
}

INSTANTIATE_TEST_SUITE_P(HelpScreen, Paging,
                         ::testing::Values(PagingCase{{}, &kHelp, &kBanner, &kPrompt, 17, 1},
                                           PagingCase{{"-rus"}, &kHelpRu, &kBannerRu, &kPromptRu, 18, 1},
                                           PagingCase{{"rec", "extra", "-rus"}, &kHelpRu, &kBannerRu,
                                                      &kPromptRu, 18, 3}));

TEST(HelpScreen, TallTerminalShowsOnlyTheFinalPrompt) {
  Subprocess p;
  ASSERT_TRUE(p.start(onPty({}, 300)));
  const std::string shown = onTerminal(kBanner + all(kHelp)) + kPrompt;
  ASSERT_TRUE(p.waitForOutput(kPrompt, 20000)) << p.output();
  EXPECT_EQ(p.output(), shown);
  ASSERT_TRUE(p.sendInput("\n"));
  EXPECT_EQ(p.wait(20000), 1);
  EXPECT_EQ(p.output(), shown + kEraser);
}

TEST(HelpScreen, CompatibilityErrorOnTerminalWaitsForEnterWithoutHelp) {
  ProcessOptions o = onPty({"-b", "192", "-d", "22", "rec"}, 25);
  o.stderrToPipe = true;
  Subprocess p;
  ASSERT_TRUE(p.start(o));
  ASSERT_TRUE(p.waitForOutput(kPrompt, 20000)) << p.output();
  ASSERT_TRUE(p.sendInput("\r"));
  EXPECT_EQ(p.wait(20000), 3);
  EXPECT_EQ(p.output(), onTerminal(kBanner + kSeparator) + kPrompt + kEraser);
  EXPECT_EQ(p.errors(),
            "* Samplerate 22 kHz can be used only with bitrate\r\n"
            "  8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144 or 160 kbis/s\r\n\r\n");
}

// Output on a terminal but no controlling terminal to read keys from: the
// prompts show and are erased at once instead of waiting for ever.
TEST(HelpScreen, PromptsDoNotWaitWithoutAControllingTerminal) {
  ProcessOptions o = onPty({}, 25);
  o.program = "/usr/bin/setsid";
  o.args = {"-w", VORTA_BINARY};
  Subprocess p;
  ASSERT_TRUE(p.start(o));
  EXPECT_EQ(p.wait(20000), 1);
  EXPECT_EQ(p.output(), onTerminal(kBanner + lines(kHelp, 0, 17)) + kPrompt + kEraser +
                            onTerminal(lines(kHelp, 17, kHelp.size())) + kPrompt + kEraser);
}

}  // namespace
}  // namespace vorta::test
