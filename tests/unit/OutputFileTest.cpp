// The real output file: a write that fails part-way takes back what it did
// write, and a cut leaves the file ready to be written on from there. The
// file size limit (with SIGXFSZ ignored, so that write() fails with EFBIG)
// stands in for a disk that fills up in the middle of a write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "Mp3Decode.h"
#include "platform/Files.h"

namespace vorta {
namespace {

// A fresh folder, removed with what is in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    char name[] = "/tmp/vorta-files-XXXXXX";
    if (::mkdtemp(name)) path_ = name;
  }
  ~ScratchFolder() {
    if (path_.empty()) return;
    ::unlink((path_ + "/f.mp3").c_str());
    ::rmdir(path_.c_str());
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string file() const { return path_ + "/f.mp3"; }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

// Limits the size of files this process writes, for the life of the guard.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &before_);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before_;
    limit.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &before_);
    ::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool ok() const { return ok_; }

 private:
  rlimit before_{};
  sighandler_t oldHandler_ = SIG_DFL;
  bool ok_ = false;
};

std::vector<std::uint8_t> block(std::uint8_t value) {
  return std::vector<std::uint8_t>(16384, value);
}

TEST(OutputFile, WriteFailingPartWayLeavesTheFileAsItWasAndKeepsTheError) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  int error = 0;
  auto file = systemFileSystem().create(folder.file(), error);
  ASSERT_TRUE(file) << error;
  {
    // Room for one block and a half: the second write gets half way.
    FileSizeLimit limit(16384 + 8192);
    ASSERT_TRUE(limit.ok());
    ASSERT_EQ(file->write(block(1).data(), 16384), 0);
    EXPECT_EQ(file->write(block(2).data(), 16384), EFBIG);
    EXPECT_EQ(test::readFileBytes(folder.file()), block(1));
  }
  // Written on from where the file was left, without a hole.
  ASSERT_EQ(file->write(block(3).data(), 100), 0);
  ASSERT_EQ(file->close(), 0);
  auto expected = block(1);
  expected.insert(expected.end(), 100, 3);
  EXPECT_EQ(test::readFileBytes(folder.file()), expected);
}

TEST(OutputFile, TruncateCutsTheFileAndTheNextWriteFollowsTheCut) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.ok());
  int error = 0;
  auto file = systemFileSystem().create(folder.file(), error);
  ASSERT_TRUE(file) << error;
  ASSERT_EQ(file->write(block(1).data(), 16384), 0);
  ASSERT_EQ(file->truncate(1000), 0);
  ASSERT_EQ(file->write(block(2).data(), 10), 0);
  ASSERT_EQ(file->close(), 0);
  std::vector<std::uint8_t> expected(1000, 1);
  expected.insert(expected.end(), 10, 2);
  EXPECT_EQ(test::readFileBytes(folder.file()), expected);
}

}  // namespace
}  // namespace vorta
