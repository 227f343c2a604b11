#include "web/ByteChain.h"

#include <algorithm>

namespace vorta::web {

void ByteChain::add(ReadOnlyFile file, std::uint64_t from, std::uint64_t to) {
  if (to <= from) return;
  modifiedNs_ = std::max(modifiedNs_, file.version().modifiedNs);
  pieces_.push_back(Piece{std::move(file), from, to, size_});
  size_ += to - from;
}

long ByteChain::read(std::uint64_t position, char* buffer, std::size_t room) const {
  const auto piece = std::upper_bound(pieces_.begin(), pieces_.end(), position,
                                      [](std::uint64_t p, const Piece& x) { return p < x.at; });
  if (piece == pieces_.begin() || position >= size_) return 0;
  const Piece& p = *(piece - 1);
  const std::uint64_t inPiece = position - p.at;
  const std::size_t want = std::size_t(std::min<std::uint64_t>(room, p.to - p.from - inPiece));
  const long long n = p.file.readAt(p.from + inPiece, buffer, want);
  // A file cut back under us (a restarted recorder) is an error, not a short stream.
  return n <= 0 ? -1 : long(n);
}

}  // namespace vorta::web
