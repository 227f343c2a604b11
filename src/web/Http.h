// The server's view of one HTTP exchange: the request a handler reads and
// the response it returns. Independent of the HTTP library.
//
// Contract: a Request lives for one call of the handler, on the connection's
// thread. A Response is handed to the library, which owns it from then on;
// its stream reader is called on the connection's thread (one at a time)
// until it ends or the client goes away.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "web/SafeFiles.h"

namespace vorta::web {

class Request {
 public:
  Request(void* connection, std::string method, std::string path)
      : connection_(connection), method(std::move(method)), path(std::move(path)) {}
  // A header's value, empty when absent.
  std::string header(const char* name) const;
  // A query argument's value (decoded), empty when absent.
  std::string argument(const char* name) const;
  // The name and password of a Basic authorization, if one was sent.
  std::optional<std::pair<std::string, std::string>> basicAuth() const;

 private:
  void* connection_;

 public:
  const std::string method;  // "GET", "HEAD", ...
  const std::string path;    // decoded, without the query
};

// Fills a buffer with the bytes at `position` and returns how many (>0), or
// -1 at the end of the stream. It may block (each connection has a thread).
using StreamReader = std::function<long(std::uint64_t position, char* buffer, std::size_t room)>;

struct Response {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // A file's bytes [offset, offset + length) instead of the body.
  std::optional<ReadOnlyFile> file;
  std::uint64_t offset = 0, length = 0;
  // Or mapped pieces of files, `length` bytes in all, sent in order straight
  // from the mappings.
  std::vector<MappedBytes> pieces;
  // Or a stream: `length` bytes, or as many as the reader gives when unknown.
  StreamReader reader;
  bool lengthUnknown = false;

  static Response text(int status, std::string body, std::string type = "text/plain; charset=utf-8") {
    Response r;
    r.status = status;
    r.body = std::move(body);
    r.headers.emplace_back("Content-Type", std::move(type));
    return r;
  }
  Response& with(std::string name, std::string value) & {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
  }
  Response&& with(std::string name, std::string value) && { return std::move(with(std::move(name), std::move(value))); }
};

using Handler = std::function<Response(const Request&)>;

}  // namespace vorta::web
