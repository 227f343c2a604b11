// Output files over Win32 file handles (CreateFileW, WriteFile,
// SetEndOfFile, FlushFileBuffers); names arrive in UTF-8 and are converted to
// UTF-16, so any name the file system takes can be used.
#include "platform/Files.h"

#include <windows.h>

#include "platform/Wide_win32.h"

namespace vorta {
namespace {

ErrorKind kindOf(DWORD code) {
  switch (code) {
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return ErrorKind::DiskFull;
    case ERROR_ACCESS_DENIED: case ERROR_WRITE_PROTECT: case ERROR_SHARING_VIOLATION:
      return ErrorKind::NoPermission;
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: return ErrorKind::NotFound;
    case ERROR_NOT_ENOUGH_MEMORY: case ERROR_OUTOFMEMORY: return ErrorKind::OutOfMemory;
    default: return ErrorKind::Failed;
  }
}

Error systemError(DWORD code) {
  return Error{kindOf(code), static_cast<int>(code), systemErrorText(code)};
}
Error lastError() {
  const DWORD code = GetLastError();
  return systemError(code == 0 ? ERROR_GEN_FAILURE : code);
}

// FILETIME counts 100 ns units from 1601-01-01 UTC.
WallSeconds epochSeconds(const FILETIME& t) {
  const auto units = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  return WallSeconds(std::chrono::seconds((units - 116444736000000000LL) / 10000000));
}

class Win32OutputFile final : public OutputFile {
 public:
  Win32OutputFile(std::wstring name, HANDLE file, FileFacts facts)
      : name_(std::move(name)), file_(file), facts_(facts), end_(facts.size) {}
  ~Win32OutputFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  Win32OutputFile(const Win32OutputFile&) = delete;
  Win32OutputFile& operator=(const Win32OutputFile&) = delete;

  const FileFacts& facts() const override { return facts_; }

  Result<std::size_t> readAt(std::uint64_t offset, void* bytes, std::size_t length) override {
    if (file_ == INVALID_HANDLE_VALUE) return std::size_t{0};  // not created yet: empty
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    const DWORD asked = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    if (!ReadFile(file_, bytes, asked, &n, &at) && GetLastError() != ERROR_HANDLE_EOF)
      return lastError();
    return static_cast<std::size_t>(n);
  }

  Status write(const void* bytes, std::size_t length) override {
    if (Status made = materialise(); !made.ok()) return made;
    // A read moves the handle's position: every write starts at the end.
    if (Status placed = seek(end_); !placed.ok()) return placed;
    const DWORD error = writeAll(static_cast<const char*>(bytes), length);
    if (error == 0) {
      end_ += length;
      return {};
    }
    // Whatever the failing call did write would sit in the file uncounted,
    // most likely as the front part of a frame: take it back. The caller
    // hears of the original failure, not of the clean-up.
    static_cast<void>(cutTo(end_));
    return systemError(error);
  }

  Status truncate(std::uint64_t size) override {
    if (Status made = materialise(); !made.ok()) return made;
    return cutTo(size);
  }

  Status finish() override {
    if (file_ == INVALID_HANDLE_VALUE) return {};
    const HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    // A device (an output of NUL) has nothing to force to a disk.
    const bool disk = GetFileType(file) == FILE_TYPE_DISK;
    const DWORD flushed = !disk || FlushFileBuffers(file) ? 0 : GetLastError();
    const DWORD closed = CloseHandle(file) ? 0 : GetLastError();
    if (flushed != 0) return systemError(flushed);
    return closed == 0 ? Status{} : systemError(closed);
  }

 private:
  // A file that did not exist at the open is created by its first change.
  Status materialise() {
    if (file_ != INVALID_HANDLE_VALUE) return {};
    file_ = CreateFileW(name_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                        nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return lastError();
    end_ = 0;
    return {};
  }

  DWORD writeAll(const char* p, std::size_t length) {
    while (length > 0) {
      const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
      DWORD written = 0;
      if (!WriteFile(file_, p, chunk, &written, nullptr)) return GetLastError();
      if (written == 0) return ERROR_WRITE_FAULT;
      p += written;
      length -= written;
    }
    return 0;
  }

  Status seek(std::uint64_t offset) {
    if (GetFileType(file_) != FILE_TYPE_DISK) return {};  // devices have no position
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) return lastError();
    return {};
  }

  // The size and the write position go back together, so that the next
  // write continues at the cut instead of leaving a hole.
  Status cutTo(std::uint64_t size) {
    if (GetFileType(file_) != FILE_TYPE_DISK) {
      // Devices have no length to cut; nothing was written there.
      if (end_ != size) return systemError(ERROR_INVALID_FUNCTION);
      return {};
    }
    if (Status placed = seek(size); !placed.ok()) return placed;
    if (!SetEndOfFile(file_)) return lastError();
    end_ = size;
    return {};
  }

  std::wstring name_;
  HANDLE file_;  // INVALID_HANDLE_VALUE: not created yet, or finished
  FileFacts facts_;
  std::uint64_t end_;  // where the next write goes
};

// An existing file: opened for reading too (a restarted recording reads its
// frames back), or write-only where reading is not allowed.
HANDLE openExisting(const std::wstring& name) {
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, flags, nullptr);
  if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) return file;
  return CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags,
                     nullptr);
}

class Win32FileSystem final : public FileSystem {
 public:
  Result<std::unique_ptr<OutputFile>> open(const std::string& utf8) override {
    const std::wstring name = toWide(utf8);
    const HANDLE file = openExisting(name);
    if (file != INVALID_HANDLE_VALUE) return opened(name, file);
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return lastError();
    // Not there: make sure it can be created, and leave nothing behind.
    const HANDLE probe = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return lastError();
    CloseHandle(probe);
    (void)DeleteFileW(name.c_str());
    return std::unique_ptr<OutputFile>(
        std::make_unique<Win32OutputFile>(name, INVALID_HANDLE_VALUE, FileFacts{}));
  }

  bool exists(const std::string& path) override {
    return GetFileAttributesW(toWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  void remove(const std::string& path) override { (void)DeleteFileW(toWide(path).c_str()); }

  Status makeFolders(const std::string& filePath) override {
    // Each prefix that ends at a separator is a folder to have; a drive
    // ("C:") or one that is there already is fine.
    for (std::size_t at = filePath.find_first_of("/\\", 1); at != std::string::npos;
         at = filePath.find_first_of("/\\", at + 1)) {
      const std::string folder = filePath.substr(0, at);
      if (folder.back() == ':') continue;
      if (!CreateDirectoryW(toWide(folder).c_str(), nullptr) &&
          GetLastError() != ERROR_ALREADY_EXISTS)
        return lastError();
    }
    return {};
  }

  Result<std::vector<Entry>> listFolder(const std::string& folder) override {
    WIN32_FIND_DATAW found{};
    const HANDLE handle = FindFirstFileW(toWide(folder + "\\*").c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) return lastError();
    const std::unique_ptr<void, BOOL (WINAPI*)(HANDLE)> find(handle, FindClose);
    std::vector<Entry> entries;
    do {
      const std::string name = fromWide(found.cFileName);
      if (name == "." || name == "..") continue;
      const DWORD a = found.dwFileAttributes;
      // A reparse point (a link) is never followed nor deleted.
      const EntryKind kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::Other
                             : (a & FILE_ATTRIBUTE_DIRECTORY)   ? EntryKind::Folder
                                                                : EntryKind::RegularFile;
      entries.push_back(Entry{name, kind, epochSeconds(found.ftLastWriteTime)});
    } while (FindNextFileW(find.get(), &found));
    return entries;
  }

  Status deleteFile(const std::string& path) override {
    if (!DeleteFileW(toWide(path).c_str())) return lastError();
    return {};
  }

  Status removeEmptyFolder(const std::string& path) override {
    if (!RemoveDirectoryW(toWide(path).c_str())) return lastError();
    return {};
  }

  Result<Space> space(const std::string& folder) override {
    ULARGE_INTEGER available{}, total{};
    if (!GetDiskFreeSpaceExW(toWide(folder).c_str(), &available, &total, nullptr))
      return lastError();
    return Space{available.QuadPart, total.QuadPart};
  }

 private:
  static Result<std::unique_ptr<OutputFile>> opened(const std::wstring& name, HANDLE file) {
    FileFacts facts;
    facts.existed = true;
    if (GetFileType(file) == FILE_TYPE_DISK) {
      LARGE_INTEGER size{};
      FILETIME modified{};
      if (!GetFileSizeEx(file, &size) || !GetFileTime(file, nullptr, nullptr, &modified)) {
        const Error error = lastError();
        CloseHandle(file);
        return error;
      }
      facts.size = static_cast<std::uint64_t>(size.QuadPart);
      facts.modified = epochSeconds(modified);
    }
    return std::unique_ptr<OutputFile>(std::make_unique<Win32OutputFile>(name, file, facts));
  }
};

}  // namespace

FileSystem& systemFileSystem() {
  static Win32FileSystem files;
  return files;
}

}  // namespace vorta
