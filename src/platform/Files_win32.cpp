#include "platform/Files.h"

#include <windows.h>

#include "platform/Wide_win32.h"

// Error numbers here are GetLastError() codes; errorText gives the system's
// text for them.
namespace vorta {
namespace {

int lastError() {
  const DWORD code = GetLastError();
  return code == 0 ? static_cast<int>(ERROR_GEN_FAILURE) : static_cast<int>(code);
}

class Win32OutputFile final : public OutputFile {
 public:
  explicit Win32OutputFile(HANDLE file) : file_(file) {}
  ~Win32OutputFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  int write(const void* bytes, std::size_t length) override {
    const int error = writeAll(static_cast<const char*>(bytes), length);
    if (error == 0) {
      size_ += length;
      return 0;
    }
    // Whatever the failing call did write would sit in the file uncounted,
    // most likely as the front part of a frame: take it back. The caller
    // hears of the original failure, not of the clean-up.
    static_cast<void>(cutTo(size_));
    return error;
  }

  int truncate(std::uint64_t size) override { return cutTo(size); }

  // The file's bytes reach the disk before the close counts as done, so a
  // finished file survives a power cut.
  int close() override {
    const HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    int error = FlushFileBuffers(file) ? 0 : lastError();
    if (!CloseHandle(file) && error == 0) error = lastError();
    return error;
  }

 private:
  int writeAll(const char* p, std::size_t length) {
    while (length > 0) {
      const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
      DWORD written = 0;
      if (!WriteFile(file_, p, chunk, &written, nullptr)) return lastError();
      if (written == 0) return static_cast<int>(ERROR_WRITE_FAULT);
      p += written;
      length -= written;
    }
    return 0;
  }

  // The size and the write position go back together, so that the next
  // write continues at the cut instead of leaving a hole.
  int cutTo(std::uint64_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) return lastError();
    if (!SetEndOfFile(file_)) return lastError();
    size_ = size;
    return 0;
  }

  HANDLE file_;
  std::uint64_t size_ = 0;  // bytes of the successful writes (the file was created empty)
};

class Win32FileSystem final : public FileSystem {
 public:
  std::unique_ptr<OutputFile> create(const std::string& name, int& error) override {
    const HANDLE file = CreateFileW(toWide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = lastError();
      return nullptr;
    }
    return std::make_unique<Win32OutputFile>(file);
  }

  bool exists(const std::string& path) override {
    return GetFileAttributesW(toWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  void remove(const std::string& path) override { (void)DeleteFileW(toWide(path).c_str()); }

  std::string errorText(int error) override {
    return systemErrorText(static_cast<DWORD>(error));
  }
};

}  // namespace

FileSystem& systemFileSystem() {
  static Win32FileSystem files;
  return files;
}

}  // namespace vorta
