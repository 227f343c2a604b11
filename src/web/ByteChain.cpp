#include "web/ByteChain.h"

#include <algorithm>

namespace vorta::web {

void ByteChain::add(ReadOnlyFile file, std::uint64_t from, std::uint64_t to) {
  if (to <= from) return;
  modifiedNs_ = std::max(modifiedNs_, file.version().modifiedNs);
  pieces_.push_back(Piece{std::move(file), from, to, size_});
  size_ += to - from;
}

std::vector<MappedBytes> ByteChain::map(std::uint64_t start, std::uint64_t length) const {
  std::vector<MappedBytes> mapped;
  const std::uint64_t end = std::min(start + length, size_);
  for (const Piece& p : pieces_) {
    const std::uint64_t first = std::max(start, p.at), last = std::min(end, p.at + (p.to - p.from));
    if (first >= last) continue;
    auto bytes = p.file.map(p.from + first - p.at, std::size_t(last - first));
    if (!bytes) return {};
    mapped.push_back(std::move(*bytes));
  }
  return mapped;
}

}  // namespace vorta::web
