// Output files over Win32 file handles (CreateFileW, WriteFile, SetEndOfFile,
// FlushFileBuffers; the rules of an output file are LazyOutputFile's); names
// arrive in UTF-8 and are converted to UTF-16, so any name the file system
// takes can be used.
#include "platform/Files.h"
#include "platform/LazyOutputFile.h"

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

bool isDisk(HANDLE file) { return GetFileType(file) == FILE_TYPE_DISK; }

// One file handle, closed by its owner.
class Win32FileHandle final : public FileHandle {
 public:
  explicit Win32FileHandle(HANDLE file) : file_(file) {}
  ~Win32FileHandle() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  Result<FileFacts> facts() override {
    FileFacts facts;
    if (!isDisk(file_)) return facts;  // a device (NUL) has no size
    LARGE_INTEGER size{};
    FILETIME modified{};
    if (!GetFileSizeEx(file_, &size) || !GetFileTime(file_, nullptr, nullptr, &modified))
      return lastError();
    facts.size = static_cast<std::uint64_t>(size.QuadPart);
    facts.modified = epochSeconds(modified);
    return facts;
  }

  Result<std::size_t> readAt(std::uint64_t offset, void* bytes, std::size_t length) override {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    const DWORD asked = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    if (!ReadFile(file_, bytes, asked, &n, &at) && GetLastError() != ERROR_HANDLE_EOF)
      return lastError();
    return static_cast<std::size_t>(n);
  }

  // A read moves the handle's position: every write starts at the end.
  Result<std::size_t> write(std::uint64_t end, const void* bytes, std::size_t length) override {
    if (Status placed = seek(end); !placed.ok()) return placed.error();
    const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(file_, bytes, chunk, &written, nullptr)) return lastError();
    if (written == 0) return systemError(ERROR_WRITE_FAULT);
    return static_cast<std::size_t>(written);
  }

  Status truncate(std::uint64_t size) override {
    // Devices have no length to cut.
    if (!isDisk(file_))
      return Error{ErrorKind::NotSupported, ERROR_INVALID_FUNCTION,
                   systemErrorText(ERROR_INVALID_FUNCTION)};
    if (Status placed = seek(size); !placed.ok()) return placed;
    if (!SetEndOfFile(file_)) return lastError();
    return {};
  }

  // A device (an output of NUL) has nothing to force to a disk.
  Status sync() override {
    if (!isDisk(file_) || FlushFileBuffers(file_)) return {};
    return lastError();
  }

  Status close() override {
    const HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) return lastError();
    return {};
  }

 private:
  Status seek(std::uint64_t offset) {
    if (!isDisk(file_)) return {};  // devices have no position
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) return lastError();
    return {};
  }

  HANDLE file_;  // INVALID_HANDLE_VALUE: closed
};

Result<std::unique_ptr<FileHandle>> handleFor(HANDLE file) {
  if (file == INVALID_HANDLE_VALUE) return lastError();
  return std::unique_ptr<FileHandle>(std::make_unique<Win32FileHandle>(file));
}

class Win32FileHandleOpener final : public FileHandleOpener {
 public:
  // Opened for reading too (a restarted recording reads its frames back), or
  // write-only where reading is not allowed.
  Result<std::unique_ptr<FileHandle>> openExisting(const std::string& utf8) override {
    const std::wstring name = toWide(utf8);
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
      file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         flags, nullptr);
    return handleFor(file);
  }

  Status probeCreate(const std::string& utf8) override {
    const std::wstring name = toWide(utf8);
    const HANDLE probe = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return lastError();
    CloseHandle(probe);
    (void)DeleteFileW(name.c_str());
    return {};
  }

  Result<std::unique_ptr<FileHandle>> create(const std::string& utf8) override {
    return handleFor(CreateFileW(toWide(utf8).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  }
};

class Win32FileSystem final : public FileSystem {
 public:
  Result<std::unique_ptr<OutputFile>> open(const std::string& name) override {
    return openLazily(handles_, name);
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
  Win32FileHandleOpener handles_;
};

}  // namespace

FileSystem& systemFileSystem() {
  static Win32FileSystem files;
  return files;
}

}  // namespace vorta
