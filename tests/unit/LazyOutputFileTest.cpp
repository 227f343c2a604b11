// The output file's rules on any system, over files kept in memory: nothing on disk changes
// before the first write, and a write that fails part-way is taken back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "platform/LazyOutputFile.h"

namespace vorta {
namespace {

// Files in memory on a disk that holds `room` bytes per file and takes at most `chunk` bytes a
// call; a device swallows what it is given and has no length.
struct MemoryDisk : FileHandleOpener {
  std::map<std::string, std::string> files;
  std::size_t room = 1000, chunk = 1000;
  bool device = false, failSync = false, failClose = false, probeFails = false;
  int closes = 0;
  struct Handle : FileHandle {
    Handle(MemoryDisk& d, std::string& b) : disk(d), bytes(b) {}
    Result<FileFacts> facts() override { return FileFacts{false, disk.device ? 0 : bytes.size(), {}}; }
    Result<std::size_t> readAt(std::uint64_t at, void* out, std::size_t n) override {
      n = at < bytes.size() ? std::min<std::size_t>(n, bytes.size() - at) : 0;
      std::memcpy(out, bytes.data() + at, n);
      return n;
    }
    Result<std::size_t> write(std::uint64_t end, const void* p, std::size_t n) override {
      if (disk.device) return n;
      EXPECT_EQ(end, bytes.size()) << "every write goes to the end";
      n = std::min({n, disk.chunk, disk.room - bytes.size()});
      if (n == 0) return Error{ErrorKind::DiskFull, 28, "ENOSPC"};
      return bytes.append(static_cast<const char*>(p), n), n;
    }
    Status truncate(std::uint64_t size) override {
      return disk.device ? Error{ErrorKind::NotSupported, 22, "EINVAL"} : (bytes.resize(size), Status{});
    }
    Status sync() override { return disk.failSync ? Error{ErrorKind::Failed, 5, "I/O error"} : Status{}; }
    Status close() override { return ++disk.closes, disk.failClose ? Error{ErrorKind::Failed, 9, "EBADF"} : Status{}; }
    MemoryDisk& disk;
    std::string& bytes;
  };
  Result<std::unique_ptr<FileHandle>> openExisting(const std::string& name) override {
    if (!files.count(name)) return Error{ErrorKind::NotFound, 2, "ENOENT"};
    return std::unique_ptr<FileHandle>(std::make_unique<Handle>(*this, files[name]));
  }
  Status probeCreate(const std::string&) override {
    return probeFails ? Error{ErrorKind::NoPermission, 13, "EACCES"} : Status{};
  }
  Result<std::unique_ptr<FileHandle>> create(const std::string& name) override { return files[name] = "", openExisting(name); }
};

struct Row {
  const char* what;
  std::optional<std::string> old = {};  // the file before the open
  std::vector<std::string> ops = {};    // "w:bytes" writes, "t:size" truncates
  std::vector<int> codes = {};          // each op's error code (0: none)
  std::optional<std::string> after = {};  // the file after finish() (none: never created)
  int finishCode = 0, openCode = 0;
  std::size_t room = 1000, chunk = 1000;
  bool device = false, failSync = false, failClose = false, probeFails = false;
};
const Row kRows[] = {
    {.what = "nothing written creates nothing"},
    {.what = "the first write creates the file", .ops = {"w:abc", "w:de"}, .codes = {0, 0}, .after = "abcde"},
    {.what = "a truncate creates it too", .ops = {"t:0"}, .codes = {0}, .after = ""},
    {.what = "short writes are finished", .ops = {"w:abcdefg"}, .codes = {0}, .after = "abcdefg", .chunk = 2},
    {.what = "a write that fails part-way is taken back; the next follows the last good one",
     .ops = {"w:abc", "w:defg", "w:xy"}, .codes = {0, 28, 0}, .after = "abcxy", .room = 5, .chunk = 1},
    {.what = "an existing file untouched keeps its bytes", .old = "old", .after = "old"},
    {.what = "an existing file grows at its end", .old = "old", .ops = {"w:new"}, .codes = {0}, .after = "oldnew"},
    {.what = "a cut moves the end back", .old = "old-torn", .ops = {"t:3", "w:!"}, .codes = {0, 0}, .after = "old!"},
    {.what = "a name that cannot be created fails at the open", .openCode = 13, .probeFails = true},
    {.what = "a device has no length: only a cut that changes nothing is fine", .old = "",
     .ops = {"w:abc", "t:3", "t:0"}, .codes = {0, 0, 22}, .after = "", .device = true},
    {.what = "a failed sync is the failure, the file is closed anyway", .ops = {"w:a"}, .codes = {0},
     .after = "a", .finishCode = 5, .failSync = true, .failClose = true},
    {.what = "a failed close after a good sync", .old = "", .after = "", .finishCode = 9, .failClose = true},
};

TEST(LazyOutputFile, ChangesNothingBeforeTheFirstWriteAndTakesBackAFailedOne) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.what);
    MemoryDisk disk;
    if (row.old) disk.files["f.mp3"] = *row.old;
    disk.room = row.room, disk.chunk = row.chunk, disk.device = row.device;
    disk.failSync = row.failSync, disk.failClose = row.failClose, disk.probeFails = row.probeFails;
    Result<std::unique_ptr<OutputFile>> opened = openLazily(disk, "f.mp3");
    EXPECT_EQ(opened.ok() ? 0 : opened.error().code, row.openCode);
    if (!opened.ok()) continue;
    OutputFile& file = *opened.value();
    EXPECT_EQ(file.facts().existed, row.old.has_value());
    std::vector<int> codes;
    for (const std::string& op : row.ops) {
      const std::string arg = op.substr(2);
      const Status s = op[0] == 'w' ? file.write(arg.data(), arg.size()) : file.truncate(std::stoul(arg));
      codes.push_back(s.ok() ? 0 : s.error().code);
    }
    EXPECT_EQ(codes, row.codes);
    const Status finished = file.finish();
    EXPECT_EQ(finished.ok() ? 0 : finished.error().code, row.finishCode);
    EXPECT_EQ(disk.files.count("f.mp3") ? std::optional(disk.files["f.mp3"]) : std::nullopt, row.after);
    EXPECT_EQ(disk.closes, row.after ? 1 : 0);
  }
}

}  // namespace
}  // namespace vorta
