// Stretches of several files read as one run of bytes: a day's files played
// as one stream, a clip cut from several files.
//
// Contract: built by one handler on its connection's thread; the files stay
// open as long as the chain lives, the mapped pieces as long as they do.
#pragma once

#include <cstdint>
#include <vector>

#include "web/SafeFiles.h"

namespace vorta::web {

class ByteChain {
 public:
  // Appends the file's bytes [from, to) (nothing when empty).
  void add(ReadOnlyFile file, std::uint64_t from, std::uint64_t to);
  std::uint64_t size() const { return size_; }
  // The chain's bytes [start, start + length) as mapped pieces of its files,
  // in order; empty when a file cannot be mapped (or length is 0).
  std::vector<MappedBytes> map(std::uint64_t start, std::uint64_t length) const;
  // The newest modification of any file, for the validators.
  std::int64_t modifiedNs() const { return modifiedNs_; }

 private:
  struct Piece {
    ReadOnlyFile file;
    std::uint64_t from, to, at;  // file bytes [from, to) at chain offset `at`
  };
  std::vector<Piece> pieces_;
  std::uint64_t size_ = 0;
  std::int64_t modifiedNs_ = 0;
};

}  // namespace vorta::web
