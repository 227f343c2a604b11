// Command lines nobody should type, through the real binary: words of 100 kB,
// numbers past 32 and 64 bits for every numeric option, empty words, bytes
// that are not ASCII or not even UTF-8. Each ends in the program's own
// message and exit code, or is accepted as a normal run.
//
// An accepted command line goes on to open the sound device; AUDIODEV names
// one that does not exist, so the run ends right after the summary with the
// "device not found" message and exit code 3, without any sound system.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Subprocess.h"

namespace vorta::test {
namespace {

const std::string kNoDeviceEnv = "AUDIODEV=vorta-no-such-pcm";
const std::string kNoDevice = "\r\n* Error: Soundrecord device not found.\r\n";
const std::string kHelpLast = "\toutfile - resulting mp3 filename, by default - out.mp3\n";
const std::string kHelpFirst = "* Execute vorta -rus to get russian help\n\n";
const std::string k2Pow32 = "4294967296";
const std::string k2Pow64 = "18446744073709551616";
const std::string kHuge = std::string(100 * 1024, '9');  // 100 kB of digits

std::string badBitrate() { return "* Invalid bitrate.\r\n\r\n"; }
std::string badRate() { return "* Invalid samplerate.\r\n\r\n"; }
std::string badTime() { return "* Invalid time limit value.\n\r\n"; }
std::string badBuffer() { return "* Invalid buffer size.\r\n\r\n"; }
std::string badWord(const std::string& w) { return "* Invalid argument " + w + ".\n\r\n"; }
std::string tooLong(const std::string& n) {
  return "* File name too long (at most 259 bytes): " + n + "\r\n\r\n";
}

// Runs vorta in a fresh folder of its own: an accepted run starts the encoder,
// which creates its file before the device is found missing.
RunResult runInFreshFolder(const std::vector<std::string>& args) {
  namespace fs = std::filesystem;
  static int serial = 0;
  const fs::path dir = fs::temp_directory_path() / ("vorta-hostile-" + std::to_string(::getpid()) +
                                                    "-" + std::to_string(++serial));
  fs::remove_all(dir);
  fs::create_directories(dir);
  ProcessOptions options;
  options.args = args;
  options.env = {kNoDeviceEnv};
  options.cwd = dir.string();
  Subprocess vorta;
  RunResult r;
  if (!vorta.start(options)) {
    ADD_FAILURE() << vorta.startError();
  } else {
    r.exitCode = vorta.wait(30000);
    r.out = vorta.output();
    r.err = vorta.errors();
  }
  fs::remove_all(dir);
  return r;
}

std::string repeat(const std::string& piece, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += piece;
  return s;
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// --- Refused: the message on stderr, the help on stdout, exit code 3 --------

struct Refused {
  const char* what;
  std::vector<std::string> args;
  std::string err;
};

class HostileRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(HostileRefused, PrintsItsMessageAndTheHelpAndEndsWith3) {
  const RunResult r = runInFreshFolder(GetParam().args);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, GetParam().err);
  EXPECT_NE(r.out.find(kHelpFirst), std::string::npos);
  EXPECT_TRUE(endsWith(r.out, kHelpLast)) << r.out.substr(r.out.size() > 200 ? r.out.size() - 200 : 0);
  EXPECT_EQ(r.out.find("Resulting file"), std::string::npos);
}

std::string name(const ::testing::TestParamInfo<Refused>& info) { return info.param.what; }

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostileRefused,
    ::testing::Values(
        // -b: bits per second above 1000 are divided; nothing this big is a
        // bitrate, nor is a value that would wrap to one in 32 or 64 bits.
        Refused{"BitrateTwoPow32Plus128", {"-b", "4294967424", "r"}, badBitrate()},
        Refused{"BitrateTwoPow64Plus128", {"-b", "18446744073709551744", "r"}, badBitrate()},
        Refused{"BitrateHuge", {"-b", kHuge, "r"}, badBitrate()},
        Refused{"BitrateHugeNegative", {"-b", "-" + kHuge, "r"}, badBitrate()},
        Refused{"BitrateEmpty", {"-b", "", "r"}, badBitrate()},
        Refused{"BitrateNotAscii", {"-b", "\xd9\xa1\xd9\xa2\xd9\xa8", "r"}, badBitrate()},
        // -d: 2^32 + 44 would be 44 kHz in 32 bits.
        Refused{"RateTwoPow32Plus44", {"-d", "4294967340", "r"}, badRate()},
        Refused{"RateTwoPow64Plus44", {"-d", "18446744073709551660", "r"}, badRate()},
        Refused{"RateTwoPow32Plus44100", {"-d", "4295011396", "r"}, badRate()},
        Refused{"RateMinus2Pow64", {"-d", "-" + k2Pow64, "r"}, badRate()},
        Refused{"RateHuge", {"-d", kHuge, "r"}, badRate()},
        Refused{"RateEmpty", {"-d", "", "r"}, badRate()},
        // -t: 2^32 + 1 would be one minute in 32 bits; the seconds of the
        // next value past the largest limit overflow a signed 32-bit value.
        Refused{"TimeTwoPow32Plus1", {"-t", "4294967297", "r"}, badTime()},
        Refused{"TimeTwoPow64Plus1", {"-t", "18446744073709551617", "r"}, badTime()},
        Refused{"TimeSecondsPast32Bits", {"-t", "35791395", "r"}, badTime()},
        Refused{"TimeHuge", {"-t", kHuge, "r"}, badTime()},
        Refused{"TimeMinus2Pow32", {"-t", "-" + k2Pow32, "r"}, badTime()},
        Refused{"TimeEmpty", {"-t", "", "r"}, badTime()},
        // -f: 2^32 + 256 would be 256 KB in 32 bits; 2^21 KB is 2 GiB, one
        // byte past the signed 32-bit size.
        Refused{"BufferTwoPow32Plus256", {"-f", "4294967552", "r"}, badBuffer()},
        Refused{"BufferTwoPow21", {"-f", "2097152", "r"}, badBuffer()},
        Refused{"BufferTwoPow64Plus256", {"-f", "18446744073709551872", "r"}, badBuffer()},
        Refused{"BufferHuge", {"-f", kHuge, "r"}, badBuffer()},
        // Names: 100 kB, and one byte past the limit with the extension.
        Refused{"OutputName100k", {std::string(100 * 1024, 'n')},
                tooLong(std::string(100 * 1024, 'n'))},
        Refused{"OutputName256PlusExtension", {std::string(256, 'n')}, tooLong(std::string(256, 'n'))},
        Refused{"StopFileName100k", {"-x", std::string(100 * 1024, 's'), "r"},
                tooLong(std::string(100 * 1024, 's'))},
        // Words that are not options, before the last: shown as they are,
        // byte for byte, however long and whatever their bytes.
        Refused{"Word100k", {std::string(100 * 1024, 'w'), "r"}, badWord(std::string(100 * 1024, 'w'))},
        Refused{"EmptyWord", {"", "r"}, badWord("")},
        Refused{"InvalidUtf8Word", {"\xff\xfe\x80", "r"}, badWord("\xff\xfe\x80")},
        Refused{"OptionWithMinusSign", {"\xe2\x88\x92" "b", "128", "r"}, badWord("\xe2\x88\x92" "b")},
        Refused{"OptionWithTrailingByte", {"-b\xff", "128", "r"}, badWord("-b\xff")},
        Refused{"OptionInCapitals", {"-MM", "r"}, badWord("-MM")},
        Refused{"PercentSignsAreNotFormats", {"%s%n%x", "r"}, badWord("%s%n%x")}),
    name);

// --- Accepted: the summary, then the missing device -------------------------

struct Accepted {
  const char* what;
  std::vector<std::string> args;
  std::string summaryLine;  // a line the summary must hold
};

class HostileAccepted : public ::testing::TestWithParam<Accepted> {};

TEST_P(HostileAccepted, StartsARunThatFindsNoDevice) {
  const RunResult r = runInFreshFolder(GetParam().args);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, kNoDevice);
  EXPECT_NE(r.out.find(GetParam().summaryLine), std::string::npos) << r.out;
}

std::string acceptedName(const ::testing::TestParamInfo<Accepted>& info) { return info.param.what; }

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostileAccepted,
    ::testing::Values(
        // A level too large for any power of ten gives threshold 0.
        Accepted{"SilenceHuge", {"-s", kHuge, "r"}, "* Cutting out silence on level: -97 dB\n"},
        Accepted{"SilenceTwoPow64", {"-s", k2Pow64, "r"}, "* Cutting out silence on level: -97 dB\n"},
        Accepted{"SilenceMinus2Pow64", {"-s", "-" + k2Pow64, "r"},
                 "* Cutting out silence on level: -97 dB\n"},
        // -s 2^32: a level that is zero only in 32 bits is still a level.
        Accepted{"SilenceTwoPow32", {"-s", k2Pow32, "r"}, "* Cutting out silence on level: -97 dB\n"},
        // A buffer size far below zero is small, so ignored.
        Accepted{"BufferMinus2Pow64", {"-f", "-" + k2Pow64, "r"}, "* Resulting file: r.mp3\n"},
        Accepted{"BufferHugeNegative", {"-f", "-" + kHuge, "r"}, "* Resulting file: r.mp3\n"},
        // The largest limit whose seconds fit 32 bits.
        Accepted{"TimeLargest", {"-t", "35791394", "r"}, "* Time limit: 596523 h 14 min\n"},
        Accepted{"EmptyOutputName", {""}, "* Resulting file: out.mp3\n"},
        Accepted{"EmptyStopFileName", {"-x", "", "r"}, "* Resulting file: r.mp3\n"},
        Accepted{"InvalidUtf8OutputName", {"\xff\xfe\x80"}, "* Resulting file: \xff\xfe\x80.mp3\n"},
        Accepted{"InvalidUtf8StopFile", {"-x", "\xc3\x28", "r"}, "* Exit on semaphore file: \xc3\x28\n"},
        Accepted{"CyrillicOutputName", {"\xd0\xb7\xd0\xb0\xd0\xbf\xd0\xb8\xd1\x81\xd1\x8c"},
                 "* Resulting file: \xd0\xb7\xd0\xb0\xd0\xbf\xd0\xb8\xd1\x81\xd1\x8c.mp3\n"},
        Accepted{"ControlBytesInName", {"a\tb\x1b[2Jc"}, "* Resulting file: a\tb\x1b[2Jc.mp3\n"},
        Accepted{"PercentSignsInName", {"%s%n%x"}, "* Resulting file: %s%n%x.mp3\n"},
        // 259 bytes with the extension; "./" steps keep each part of the
        // path short enough for the file system.
        Accepted{"Name259Bytes", {repeat("./", 127) + "n"},
                 "* Resulting file: " + repeat("./", 127) + "n.mp3\n"}),
    acceptedName);

}  // namespace
}  // namespace vorta::test
