// What to answer to a GET or HEAD of one file: the whole of it, one range of
// it, "not modified" or "range not satisfiable", from the request's Range and
// conditional headers and the file's size and modification time.
//
// Pure: any thread. This is the server's own request parsing (the rest is the
// HTTP library's), so it takes any bytes and is fuzzed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorta::web {

struct FileVersion {
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;  // nanoseconds since the epoch
};

// A strong validator that changes whenever the file grows or is rewritten.
std::string entityTag(const FileVersion& version);

// The request's headers that decide; absent ones are empty.
struct Conditions {
  std::string_view range, ifRange, ifNoneMatch, ifModifiedSince;
};

struct FilePlan {
  int status = 200;  // 200, 206, 304 or 416
  std::uint64_t offset = 0, length = 0;  // the bytes to send (200, 206)
};

// A single range "bytes=A-B", "bytes=A-" or "bytes=-N" is served; a list of
// ranges or a header that does not parse is ignored (the whole file), as a
// server may. A first byte at or past the end, or an empty suffix, is 416.
FilePlan planFile(const FileVersion& version, const Conditions& conditions);

}  // namespace vorta::web
