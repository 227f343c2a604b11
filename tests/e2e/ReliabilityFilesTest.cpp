// Output that cannot be written: a disk that fills up during the recording,
// a folder that is read-only, and an hourly file whose name is taken by a
// folder. Each must say so in the program's words followed by the system's,
// end with code 2 without hanging, and leave the file it had as a clean MP3.
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "ReliabilitySupport.h"

namespace vorta::test {
namespace {

namespace fs = std::filesystem;

const char* const kFakeTimeLibrary = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

// The status lines, each ending in a carriage return, and nothing else.
const std::regex kOnlyStatusLines(
    R"((Record: \d+\.\d kbytes \(\d+:\d\d:\d\d\), buffer free: \d+\.\d%, CPU usage: \d+\.\d%    \r)*)");
const std::regex kStatusKbytes(R"(Record: (\d+)\.(\d) kbytes)");

// Standard error with the one expected message taken out; what is left must
// be status lines only.
std::string withoutMessage(const std::string& err, const std::string& message) {
  const auto at = err.find(message);
  if (at == std::string::npos) return err;
  return err.substr(0, at) + err.substr(at + message.size());
}

// The figure of the last status line, as shown ("64.0").
std::string lastShownKbytes(const std::string& err) {
  std::string shown;
  for (std::sregex_iterator it(err.begin(), err.end(), kStatusKbytes), end; it != end; ++it)
    shown = (*it)[1].str() + "." + (*it)[2].str();
  return shown;
}

// A byte count as the status line shows it: kilobytes, the tenth cut off.
std::string asShown(std::size_t bytes) {
  return std::to_string(bytes / 1024) + "." + std::to_string(bytes % 1024 * 10 / 1024);
}

// Whole frames from the first byte, except that the last one may be cut
// short where the writing stopped.
void expectWholeUpToTheCut(const std::string& file) {
  const FrameWalk walk = walkFrames(readFileBytes(file));
  EXPECT_TRUE(walk.whole || walk.why.rfind("last frame cut short", 0) == 0) << file << ": "
                                                                           << walk.why;
  EXPECT_GT(walk.frames, 0u) << file;
}

// Whole frames from the first byte to the last, however the writing stopped.
void expectWholeFrames(const std::string& file) {
  const FrameWalk walk = walkFrames(readFileBytes(file));
  EXPECT_TRUE(walk.whole) << file << ": " << walk.why;
  EXPECT_GT(walk.frames, 0u) << file;
}

class ReliabilityFiles : public E2eTest {};

TEST_F(ReliabilityFiles, DiskFullEndsWithTheWriteErrorAndAPlayableFile) {
  auto player = playTone(1000);
  ASSERT_TRUE(player);
  // 10 pages: room for two whole 16 KB blocks and half of the third, so the
  // write that fails gets part of its block in first. At 32 kbit/s a block
  // takes about 4 s, so the status line (about once a second) shows the
  // count after the last block that fitted.
  ScratchMount small(path("small"), "size=40k,mode=0777");
  std::vector<std::string> args = {"-d", "48", "-b", "32", "small/rec"};
  std::string systemText = "No space left on device";
  auto options = vorta(args);
  if (!small.ok()) {
    // No right to mount: the same through the file size limit, with the
    // signal that would kill the writer ignored so that write() fails.
    fs::create_directory(path("small"));
    options.program = "/usr/bin/prlimit";
    options.args = {"--fsize=40960", "--", "/bin/sh", "-c", "trap '' XFSZ; exec \"$0\" \"$@\"",
                    VORTA_BINARY};
    options.args.insert(options.args.end(), args.begin(), args.end());
    systemText = "File too large";
  }
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(options)) << vorta.startError();
  // 40 KB at 32 kbit/s is about 10 s of sound.
  const int code = vorta.wait(40000);
  ASSERT_NE(code, Subprocess::kTimedOut) << "vorta did not end when the disk was full\n"
                                         << vorta.errors();
  EXPECT_EQ(code, 2);

  const std::string message = "\r\n* Error writing to file.\r\n* " + systemText + "\r\n\r\n";
  const std::string err = vorta.errors();
  EXPECT_NE(err.find(message), std::string::npos) << err;
  EXPECT_TRUE(std::regex_match(withoutMessage(err, message), kOnlyStatusLines)) << err;

  // The file holds the two blocks that fitted, cut back to the end of the
  // last whole frame in them, and nothing of the block that did not fit:
  // exactly the count the status line showed last.
  const auto bytes = readFileBytes(path("small/rec.mp3"));
  EXPECT_GT(bytes.size(), 16384u);
  EXPECT_LE(bytes.size(), 2u * 16384u);
  EXPECT_EQ(lastShownKbytes(err), asShown(bytes.size())) << err;
  expectWholeFrames(path("small/rec.mp3"));
  // It plays, and the tone is there.
  const DecodedMp3 decoded = decodeMp3File(path("small/rec.mp3"));
  ASSERT_TRUE(decoded.ok) << decoded.error;
  EXPECT_GE(decoded.seconds(), 4.0);
  const auto part = slice(decoded.channel(0), decoded.rate, 1.0, decoded.seconds() - 0.5);
  EXPECT_NEAR(dominantFrequency(part, decoded.rate), 1000, 10);
}

TEST_F(ReliabilityFiles, ReadOnlyFolderIsACreationErrorInBothLanguages) {
  ScratchMount readOnly(path("ro"), "size=64k,mode=0777");
  if (!readOnly.ok() || !readOnly.makeReadOnly()) {
    // Without the right to mount, an ordinary user's read-only folder does
    // the same; as root permissions do not stop a write, so there is no way.
    if (::geteuid() == 0) GTEST_SKIP() << "cannot mount a read-only file system";
    fs::create_directory(path("ro"));
    ::chmod(path("ro").c_str(), 0555);
  }
  for (const bool russian : {false, true}) {
    std::vector<std::string> args = {"ro/rec"};
    if (russian) args.insert(args.begin(), "-rus");
    Subprocess vorta;
    ASSERT_TRUE(vorta.start(E2eTest::vorta(args))) << vorta.startError();
    ASSERT_EQ(vorta.wait(20000), 2) << vorta.errors();
    const std::string lead = russian ? "Ошибка создания файла." : "File creation error.";
    EXPECT_EQ(vorta.errors(), "\r\n* " + lead + "\r\n* Read-only file system\r\n\r\n");
    EXPECT_FALSE(fs::exists(path("ro/rec.mp3")));
  }
}

TEST_F(ReliabilityFiles, NextHourlyFileThatCannotBeCreatedEndsTheRecording) {
  ASSERT_TRUE(fs::exists(kFakeTimeLibrary)) << "libfaketime is missing (Debian faketime)";
  auto player = playTone(1000);
  ASSERT_TRUE(player);
  // The next hour's name is taken by a folder.
  fs::create_directory(path("11.mp3"));
  auto options = vorta({"-split1", "rec"});
  options.env.insert(options.env.end(),
                     {std::string("LD_PRELOAD=") + kFakeTimeLibrary,
                      "FAKETIME=@2026-12-07 10:59:57", "FAKETIME_DONT_FAKE_MONOTONIC=1", "TZ=UTC"});
  Subprocess vorta;
  startRecording(vorta, options);
  ASSERT_FALSE(HasFailure());
  const int code = vorta.wait(30000);
  ASSERT_NE(code, Subprocess::kTimedOut) << vorta.errors();
  EXPECT_EQ(code, 2);
  const std::string message = "\r\n* File creation error.\r\n* Is a directory\r\n\r\n";
  const std::string err = vorta.errors();
  EXPECT_NE(err.find(message), std::string::npos) << err;
  EXPECT_TRUE(std::regex_match(withoutMessage(err, message), kOnlyStatusLines)) << err;
  // The hour before was closed with what the encoder had given it before
  // the next file was tried; like every split file it ends where the
  // engine's last output for it ended, which may be inside a frame.
  expectWholeUpToTheCut(path("10.mp3"));
  const DecodedMp3 first = decodeMp3File(path("10.mp3"));
  ASSERT_TRUE(first.ok) << first.error;
  EXPECT_GE(first.seconds(), 2.0);
  EXPECT_LE(first.seconds(), 3.0 + kBuffer + 0.3);
  EXPECT_TRUE(fs::is_directory(path("11.mp3")));
}

}  // namespace
}  // namespace vorta::test
