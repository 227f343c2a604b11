// Standard output and error both sent into one file for the life of the
// object, then put back; for checking the order the two streams' bytes
// reach a file they share (a service's journal). Header only, so the
// Windows unit tests can use it.
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#ifdef _WIN32
#include <io.h>
#define VORTA_DUP _dup
#define VORTA_DUP2 _dup2
#define VORTA_CLOSE _close
#else
#include <unistd.h>
#define VORTA_DUP ::dup
#define VORTA_DUP2 ::dup2
#define VORTA_CLOSE ::close
#endif

namespace vorta::test {

class StdRedirect {
 public:
  explicit StdRedirect(std::string path) : path_(std::move(path)) {
    std::fflush(stdout), std::fflush(stderr);
    out_ = VORTA_DUP(1), err_ = VORTA_DUP(2);
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    VORTA_DUP2(fileno(file), 1), VORTA_DUP2(fileno(file), 2);
    std::fclose(file);
  }
  ~StdRedirect() { restore(); }
  // Puts the streams back and returns what the file holds.
  std::string restore() {
    if (out_ >= 0) {
      std::fflush(stdout), std::fflush(stderr);
      VORTA_DUP2(out_, 1), VORTA_DUP2(err_, 2), VORTA_CLOSE(out_), VORTA_CLOSE(err_);
      out_ = err_ = -1;
    }
    std::ostringstream bytes;
    bytes << std::ifstream(path_, std::ios::binary).rdbuf();
    return bytes.str();
  }

 private:
  std::string path_;
  int out_ = -1, err_ = -1;
};

}  // namespace vorta::test
