// The HTTP server: accepts connections, reads requests and writes the
// handler's responses. It serves files with sendfile and bounds what a
// client can hold: connections in all and per address, idle time, and the
// memory of a request's headers.
//
// Contract: start() and stop() are called from the main thread. The handler
// runs on a thread of each connection, so several at once; it must be
// safe for that. stop() (or the destructor) waits for every connection's
// thread; a handler or stream reader that blocks must watch `stopping`.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "web/Http.h"

namespace vorta::web {

struct ServerLimits {
  unsigned connections = 64;      // at once, in all
  unsigned perAddress = 32;       // at once, from one client address
  unsigned idleSeconds = 30;      // a connection silent for longer is closed
  std::size_t headerBytes = 32768;  // a request's header memory
};

class HttpServer {
 public:
  HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer();

  // Listens on `address` ("127.0.0.1", "::1", "0.0.0.0", ...) and `port` (0:
  // any free one). Empty on success, else why not.
  std::string start(const std::string& address, std::uint16_t port, Handler handler,
                    const ServerLimits& limits);
  std::uint16_t port() const;
  void stop();

  struct State;  // the library's daemon and the handler

 private:
  std::unique_ptr<State> state_;
};

}  // namespace vorta::web
