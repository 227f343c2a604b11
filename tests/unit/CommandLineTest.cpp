// readSettings in-process: the exact bytes on each stream, the result and the
// settings for the command lines users actually type, and for the edges.
#include <gtest/gtest.h>
#include <unistd.h>
#include <fcntl.h>

#include <climits>
#include <string>
#include <vector>

#include "ExpectedTexts.h"
#include "app/CommandLine.h"
#include "base/Messages.h"
#include "platform/Clock.h"

namespace vorta {
namespace {

const std::string kHelpFirst = "* Execute vorta -rus to get russian help\n\n";
const std::string kHelpLast = "\toutfile - resulting mp3 filename, by default - out.mp3\n";
const std::string kHelpFirstRu = "Использование:\n";
const std::string kHelpLastRu = "\toutfile - имя создаваемого mp3-файла, по умолчанию out.mp3\n";
constexpr std::uint32_t k512MiB = 512u * 1024 * 1024;

class FakeClock final : public Clock {
 public:
  LocalTime localTime() override { return LocalTime{7, 1, 15}; }  // Monday the 15th, 07:xx
  std::int64_t processCpuTime() override { return 0; }
  std::int64_t systemTime() override { return 0; }
};

class CapturingSink final : public TextSink {
 public:
  void write(Stream stream, std::string_view bytes) override {
    (stream == Stream::Out ? out : err).append(bytes);
  }
  std::string out, err;
};

// Standard output away from any terminal while readSettings runs, so that a
// test run from a terminal never pages or waits for Enter.
class StdoutNotATerminal {
 public:
  StdoutNotATerminal() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::close(null);
  }
  ~StdoutNotATerminal() {
    ::dup2(saved_, 1);
    ::close(saved_);
  }

 private:
  int saved_;
};

struct Outcome {
  CommandLineResult result;
  Settings settings;
  std::string out, err;
};

Outcome read(const std::vector<std::string>& args, std::uint64_t memory = k512MiB) {
  std::vector<const char*> argv{"vorta"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  CapturingSink sink;
  FakeClock clock;
  Outcome o;
  {
    StdoutNotATerminal away;
    setTextSink(&sink);
    o.result = readSettings(static_cast<int>(argv.size()), argv.data(), o.settings, clock, memory);
    setTextSink(nullptr);
  }
  selectLanguage(Language::English);
  o.out = sink.out;
  o.err = sink.err;
  return o;
}

std::string summary(const std::string& file, const std::string& format,
                    const std::string& buffer = "26214", const std::string& quality = "high") {
  return "* Resulting file: " + file + "\n* File format: " + format + "\n* Quality: " + quality +
         "\n* Buffer size: " + buffer + " kb\n";
}
const std::string kDefaultFormat = "MPEG1 Layer3, 128 kbit/s, 44 kHz, j-stereo";

// --- Command lines that start a run -----------------------------------------

struct RunCase {
  std::vector<std::string> args;
  std::string summary;  // everything after the banner and the separator
};

class Runs : public ::testing::TestWithParam<RunCase> {};

TEST_P(Runs, PrintTheSummaryAndStart) {
  const Outcome o = read(GetParam().args);
  EXPECT_TRUE(o.result.run);
  EXPECT_EQ(o.result.exitCode, ExitCode::Ok);
  EXPECT_EQ(o.out, kBanner + kSeparator + GetParam().summary);
  EXPECT_EQ(o.err, "");
}

const std::string kTail = "* Quality: high\n* Buffer size: 26214 kb\n";

INSTANTIATE_TEST_SUITE_P(
    CommandLine, Runs,
    ::testing::Values(
        RunCase{{"rec"}, summary("rec.mp3", kDefaultFormat)},
        RunCase{{"-mm", "rec"}, summary("rec.mp3", "MPEG1 Layer3, 128 kbit/s, 44 kHz, mono", "13107")},
        // A value option that is last is the file name.
        RunCase{{"-b"}, summary("-b.mp3", kDefaultFormat)},
        RunCase{{"-x"}, summary("-x.mp3", kDefaultFormat)},
        RunCase{{"-b", "128000", "-d", "44.1", "r"}, summary("r.mp3", kDefaultFormat)},
        RunCase{{"-b", "128500", "-d", "44100", "r"}, summary("r.mp3", kDefaultFormat)},
        RunCase{{"-b", " +128", "r"}, summary("r.mp3", kDefaultFormat)},
        RunCase{{"-d", "11", "r"}, summary("r.mp3", "MPEG2.5 Layer3, 32 kbit/s, 11 kHz, j-stereo")},
        RunCase{{"-d", "8", "r"}, summary("r.mp3", "MPEG2.5 Layer3, 32 kbit/s, 8 kHz, j-stereo")},
        RunCase{{"-d", "22", "r"}, summary("r.mp3", "MPEG2 Layer3, 80 kbit/s, 22 kHz, j-stereo")},
        RunCase{{"-d", "48", "r"}, summary("r.mp3", "MPEG1 Layer3, 128 kbit/s, 48 kHz, j-stereo")},
        RunCase{{"-d", "8", "-d", "44", "r"}, summary("r.mp3", kDefaultFormat)},
        RunCase{{"-b", "8", "-b", "128", "r"}, summary("r.mp3", kDefaultFormat)},
        RunCase{{"-b", "8", "-d", "22", "r"}, summary("r.mp3", "MPEG2 Layer3, 8 kbit/s, 22 kHz, j-stereo")},
        RunCase{{"-b", "192", "r"}, summary("r.mp3", "MPEG1 Layer3, 192 kbit/s, 44 kHz, stereo")},
        RunCase{{"-b", "160", "r"}, summary("r.mp3", "MPEG1 Layer3, 160 kbit/s, 44 kHz, j-stereo")},
        RunCase{{"-b", "320", "-mj", "-ql", "r"},
                summary("r.mp3", "MPEG1 Layer3, 320 kbit/s, 44 kHz, j-stereo", "26214", "low")},
        RunCase{{"-ql", "-qh", "-ms", "-p-", "-a", "-a-", "r"},
                summary("r.mp3", "MPEG1 Layer3, 128 kbit/s, 44 kHz, stereo")},
        RunCase{{"-t", "90", "r"}, summary("r.mp3", kDefaultFormat) + "* Time limit: 1 h 30 min\n"},
        RunCase{{"-t", "60", "r"}, summary("r.mp3", kDefaultFormat) + "* Time limit: 1 h 00 min\n"},
        // The largest limit whose seconds fit a signed 32-bit value.
        RunCase{{"-t", "35791394", "r"},
                summary("r.mp3", kDefaultFormat) + "* Time limit: 596523 h 14 min\n"},
        RunCase{{"-f", "255", "r"}, summary("r.mp3", kDefaultFormat)},
        RunCase{{"-f", "-5000", "r"}, summary("r.mp3", kDefaultFormat)},
        RunCase{{"-f", "256", "r"}, summary("r.mp3", kDefaultFormat, "256")},
        RunCase{{"-f", "2097151", "r"}, summary("r.mp3", kDefaultFormat, "2097151")},
        RunCase{{"-s", "50", "rec"}, summary("rec.mp3", kDefaultFormat) + "* Cutting out silence on level: -50 dB\n"},
        RunCase{{"-s", "rec"}, summary("rec.mp3", kDefaultFormat) + "* Cutting out silence on level: -50 dB\n"},
        RunCase{{"-s", "40", "r"}, summary("r.mp3", kDefaultFormat) + "* Cutting out silence on level: -40 dB\n"},
        RunCase{{"-s", "-60", "r"}, summary("r.mp3", kDefaultFormat) + "* Cutting out silence on level: -60 dB\n"},
        // Threshold 0: no finite figure exists; the first level giving it is shown.
        RunCase{{"-s", "97", "r"}, summary("r.mp3", kDefaultFormat) + "* Cutting out silence on level: -97 dB\n"},
        RunCase{{"-s", "99999999999999999999999", "r"},
                summary("r.mp3", kDefaultFormat) + "* Cutting out silence on level: -97 dB\n"},
        RunCase{{"-s", "96", "r"}, summary("r.mp3", kDefaultFormat) + "* Cutting out silence on level: -90 dB\n"},
        RunCase{{"-x", "stop file", "r"}, summary("r.mp3", kDefaultFormat) + "* Exit on semaphore file: stop file\n"},
        RunCase{{"-t", "1", "-s", "60", "-x", "s", "r"},
                summary("r.mp3", kDefaultFormat) +
                    "* Time limit: 0 h 01 min\n* Cutting out silence on level: -60 dB\n"
                    "* Exit on semaphore file: s\n"},
        // Split mode: the hour's name replaces the given one and is not shown.
        RunCase{{"-split2", "rec"},
                "* Split mode (files duration of 1 hour)\n* File format: " + kDefaultFormat + "\n" + kTail},
        // Completing the name: '/' is the only directory separator.
        RunCase{{""}, summary("out.mp3", kDefaultFormat)},
        RunCase{{"rec.wav"}, summary("rec.wav", kDefaultFormat)},
        RunCase{{"rec."}, summary("rec.", kDefaultFormat)},
        RunCase{{"dir.x/rec"}, summary("dir.x/rec.mp3", kDefaultFormat)},
        RunCase{{"dir.x\\rec"}, summary("dir.x\\rec", kDefaultFormat)},
        // Names up to 259 bytes, counting the appended extension.
        RunCase{{std::string(255, 'n')}, summary(std::string(255, 'n') + ".mp3", kDefaultFormat)},
        RunCase{{std::string(257, 'n') + ".x"}, summary(std::string(257, 'n') + ".x", kDefaultFormat)}));

TEST(CommandLine, SettingsFollowTheOptions) {
  Outcome o = read({"-b", "8", "-d", "22", "-a-", "-ql", "-split3", "-t", "2", "-f", "300", "-s",
                    "50", "-x", "halt", "rec"});
  ASSERT_TRUE(o.result.run);
  EXPECT_EQ(o.settings.bitrate, 8);
  EXPECT_EQ(o.settings.sampleRate, 22050);
  EXPECT_EQ(o.settings.mpegVersion, 1.0f);
  EXPECT_EQ(o.settings.channelMode, ChannelMode::JointStereo);
  EXPECT_FALSE(o.settings.raiseEncoderPriority);
  EXPECT_EQ(o.settings.quality, Quality::Low);
  EXPECT_EQ(o.settings.splitMode, SplitMode::Monthly);
  EXPECT_EQ(o.settings.outputName, "15 - 07.mp3");
  EXPECT_EQ(o.settings.timeLimitSeconds, 120);
  EXPECT_EQ(o.settings.bufferSize, 300 * 1024);
  EXPECT_TRUE(o.settings.silenceEnabled);
  EXPECT_EQ(o.settings.silenceThreshold, 104);
  EXPECT_EQ(o.settings.stopFileName, "halt");
  EXPECT_EQ(o.settings.language, Language::English);

  o = read({"-s", "-50", "-a", "r"});
  EXPECT_EQ(o.settings.silenceThreshold, 104);
  EXPECT_TRUE(o.settings.raiseEncoderPriority);
  EXPECT_EQ(read({"-s", "40", "r"}).settings.silenceThreshold, 328);
  EXPECT_EQ(read({"-s", "60", "r"}).settings.silenceThreshold, 33);
  EXPECT_EQ(read({"-s", "97", "r"}).settings.silenceThreshold, 0);
  EXPECT_EQ(read({"-s", "rec"}).settings.silenceThreshold, 103);
  EXPECT_FALSE(read({"rec"}).settings.silenceEnabled);
  EXPECT_EQ(read({"-split1", "x"}).settings.outputName, "07.mp3");
}

TEST(CommandLine, DerivedBufferSizeComesFromPhysicalMemory) {
  EXPECT_EQ(read({"rec"}).settings.bufferSize, static_cast<int>(k512MiB / 20));
  EXPECT_EQ(read({"-mm", "rec"}).settings.bufferSize, static_cast<int>(k512MiB / 40));
  EXPECT_EQ(read({"rec"}, 1024 * 1024).settings.bufferSize, 262144);
  EXPECT_EQ(read({"rec"}, 4294967295u).settings.bufferSize, 214748364);
  EXPECT_EQ(read({"-mm", "rec"}, 4294967295u).settings.bufferSize, 107374182);
}

TEST(CommandLine, RussianSummary) {
  const Outcome o = read({"-t", "61", "-RuS", "-s", "50", "-x", "s", "rec"});
  EXPECT_TRUE(o.result.run);
  EXPECT_EQ(o.settings.language, Language::Russian);
  EXPECT_EQ(o.out, kBannerRu + kSeparator +
                       "* Выходной файл: rec.mp3\n"
                       "* Формат файла: MPEG1 Layer3, 128 кб/c, 44 кГц, j-stereo\n"
                       "* Качество: high\n* Размер буфера: 26214 кб\n"
                       "* Ограничение по времени: 1 ч 01 мин\n"
                       "* Вырезание пауз по уровню: -50 dB\n"
                       "* Выход по появлению файла: s\n");
  const Outcome split = read({"-rus", "-split2", "rec"});
  EXPECT_EQ(split.settings.outputName, "mo - 07.mp3");
  EXPECT_NE(split.out.find("* Режим резки на файлы продолжительностью 1 час\n* Формат файла"),
            std::string::npos);
}

// --- Nothing to do ----------------------------------------------------------

TEST(CommandLine, NothingToDoPrintsTheHelpAndEndsWithOne) {
  const Outcome o = read({});
  EXPECT_FALSE(o.result.run);
  EXPECT_EQ(o.result.exitCode, ExitCode::NothingToDo);
  EXPECT_EQ(o.out.substr(0, kBanner.size() + kHelpFirst.size()), kBanner + kHelpFirst);
  EXPECT_TRUE(o.out.ends_with(kHelpLast));
  EXPECT_EQ(o.err, "");
  for (const auto& args : std::vector<std::vector<std::string>>{{"-rus"}, {"-RUS", "-rUs"}}) {
    const Outcome r = read(args);
    EXPECT_EQ(r.result.exitCode, ExitCode::NothingToDo);
    EXPECT_EQ(r.out.substr(0, kBannerRu.size() + kHelpFirstRu.size()), kBannerRu + kHelpFirstRu);
    EXPECT_TRUE(r.out.ends_with(kHelpLastRu));
    EXPECT_EQ(r.err, "");
  }
}

// --- Parse errors: message on stderr, the help on stdout, exit 3 -----------

struct ErrorCase {
  std::vector<std::string> args;
  std::string err;
};

class ParseErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ParseErrors, PrintTheMessageAndTheHelp) {
  const Outcome o = read(GetParam().args);
  EXPECT_FALSE(o.result.run);
  EXPECT_EQ(o.result.exitCode, ExitCode::Error);
  EXPECT_EQ(o.err, GetParam().err);
  const bool russian = o.out.starts_with(kBannerRu);
  const std::string& banner = russian ? kBannerRu : kBanner;
  const std::string& first = russian ? kHelpFirstRu : kHelpFirst;
  EXPECT_EQ(o.out.substr(0, banner.size() + first.size()), banner + first);
  EXPECT_TRUE(o.out.ends_with(russian ? kHelpLastRu : kHelpLast));
  EXPECT_EQ(o.out.find(kSeparator), std::string::npos);
}

const std::string kBadBitrate = "* Invalid bitrate.\r\n\r\n";
const std::string kBadRate = "* Invalid samplerate.\r\n\r\n";
const std::string kBadTime = "* Invalid time limit value.\n\r\n";
const std::string kBadBuffer = "* Invalid buffer size.\r\n\r\n";
const std::string kLongName = std::string(256, 'n');
const std::string kLongStop = std::string(260, 's');

INSTANTIATE_TEST_SUITE_P(
    CommandLine, ParseErrors,
    ::testing::Values(
        ErrorCase{{"rec", "extra"}, "* Invalid argument rec.\n\r\n"},
        ErrorCase{{"-B", "128", "rec"}, "* Invalid argument -B.\n\r\n"},
        ErrorCase{{"-s", "0", "rec"}, "* Invalid argument 0.\n\r\n"},
        ErrorCase{{"-b", "1000", "r"}, kBadBitrate},
        ErrorCase{{"-b", "100", "r"}, kBadBitrate},
        ErrorCase{{"-b", "-128000", "r"}, kBadBitrate},
        ErrorCase{{"-b", "99999999999", "r"}, kBadBitrate},
        ErrorCase{{"-b", "-d", "r"}, kBadBitrate},
        ErrorCase{{"-d", "44000", "r"}, kBadRate},
        ErrorCase{{"-d", "0", "r"}, kBadRate},
        ErrorCase{{"-d", "-44", "r"}, kBadRate},
        ErrorCase{{"-d", "99999999999", "r"}, kBadRate},
        ErrorCase{{"-d", "-99999999999999999999999", "r"}, kBadRate},
        ErrorCase{{"-t", "0", "r"}, kBadTime},
        ErrorCase{{"-t", "-5", "r"}, kBadTime},
        ErrorCase{{"-t", "abc", "r"}, kBadTime},
        ErrorCase{{"-t", "35791395", "r"}, kBadTime},
        ErrorCase{{"-t", "99999999999999999999999", "r"}, kBadTime},
        ErrorCase{{"-f", "2097152", "r"}, kBadBuffer},
        ErrorCase{{"-f", "99999999999999999999999", "r"}, kBadBuffer},
        // The first error ends parsing: the later ones are not reported.
        ErrorCase{{"-b", "999", "-d", "5", "x", "r"}, kBadBitrate},
        ErrorCase{{"-d", "5", "-b", "999", "r"}, kBadRate},
        ErrorCase{{kLongName}, "* File name too long (at most 259 bytes): " + kLongName + "\r\n\r\n"},
        ErrorCase{{std::string(260, 'n') + ".x"},
                  "* File name too long (at most 259 bytes): " + std::string(260, 'n') + ".x\r\n\r\n"},
        ErrorCase{{"-x", kLongStop, "r"}, "* File name too long (at most 259 bytes): " + kLongStop + "\r\n\r\n"},
        // -rus anywhere chooses the language before the first message.
        ErrorCase{{"-b", "999", "-rus"}, "* Неверное значение битрейта.\r\n\r\n"},
        ErrorCase{{"-RUS", "-d", "7", "r"}, "* Неверное значение рабочей частоты.\r\n\r\n"},
        ErrorCase{{"-t", "0", "-rus", "r"}, "* Неверное значение лимита времени.\n\r\n"},
        ErrorCase{{"-rus", "a", "b"}, "* Неверный парамерт a.\n\r\n"},
        ErrorCase{{"-rus", "-f", "2097152", "r"}, "* Неверное значение размера буфера.\r\n\r\n"},
        ErrorCase{{"-rus", kLongName},
                  "* Слишком длинное имя файла (не более 259 байт): " + kLongName + "\r\n\r\n"}));

TEST(CommandLine, StopFileNameOfExactly259BytesIsAccepted) {
  const Outcome o = read({"-x", std::string(259, 's'), "r"});
  EXPECT_TRUE(o.result.run);
  EXPECT_EQ(o.settings.stopFileName.size(), 259u);
}

// --- Compatibility: message, no help, exit 3 --------------------------------

class Incompatible : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Incompatible, PrintOnlyTheMessage) {
  const Outcome o = read(GetParam().args);
  EXPECT_FALSE(o.result.run);
  EXPECT_EQ(o.result.exitCode, ExitCode::Error);
  const std::string& banner = o.settings.language == Language::Russian ? kBannerRu : kBanner;
  EXPECT_EQ(o.out, banner + kSeparator);  // no help, and no prompt when redirected
  EXPECT_EQ(o.err, GetParam().err);
}

const std::string kRateLine2 =
    "  8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144 or 160 kbis/s\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    CommandLine, Incompatible,
    ::testing::Values(
        ErrorCase{{"-b", "8"},
                  "* Bitrate 8 kbit/s can be used only with samplerate 8, 11, 12, 16, 22 or 24 kHz\r\n\r\n"},
        ErrorCase{{"-b", "144", "-d", "32", "r"},
                  "* Bitrate 144 kbit/s can be used only with samplerate 8, 11, 12, 16, 22 or 24 kHz\r\n\r\n"},
        ErrorCase{{"-b", "192", "-d", "22", "r"},
                  "* Samplerate 22 kHz can be used only with bitrate\r\n" + kRateLine2},
        ErrorCase{{"-b", "320", "-d", "11", "r"},
                  "* Samplerate 11 kHz can be used only with bitrate\r\n" + kRateLine2},
        ErrorCase{{"-rus", "-b", "16", "r"},
                  "* Битрейт 16 кб/с может использоваться только с частотами 8, 11, 12, 16, 22 или 24 кГц\r\n\r\n"},
        ErrorCase{{"-b", "256", "-d", "8", "-rus", "r"},
                  "* Частота 8 кГц может использоваться только с битрейтом\r\n"
                  "  8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144 или 160 кб/с\r\n\r\n"}));

// --- Sample rates -----------------------------------------------------------

TEST(CommandLine, NormaliseSampleRate) {
  const struct {
    int value;
    int rate;
    float mpeg;
  } valid[] = {{8, 8000, 1.5f},     {11, 11025, 1.5f},   {12, 12000, 1.5f},   {16, 16000, 1.0f},
               {22, 22050, 1.0f},   {24, 24000, 1.0f},   {32, 32000, 0},      {44, 44100, 0},
               {48, 48000, 0},      {11025, 11025, 1.5f}, {22050, 22050, 1.0f}, {44100, 44100, 0}};
  for (const auto& v : valid) {
    Settings s;
    s.mpegVersion = 9;
    ASSERT_TRUE(normaliseSampleRate(v.value, s)) << v.value;
    EXPECT_EQ(s.sampleRate, v.rate);
    EXPECT_EQ(s.mpegVersion, v.mpeg) << v.value;
  }
  for (int bad : {0, 1, 999, 1000, 11000, 22000, 44000, 96000, -44, INT_MIN, INT_MAX}) {
    Settings s;
    EXPECT_FALSE(normaliseSampleRate(bad, s)) << bad;
  }
}

}  // namespace
}  // namespace vorta
