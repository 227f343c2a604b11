// The HTTP server over GNU libmicrohttpd, one thread per connection: a
// handler may block (a stream of live events waits for the next one), and
// files go out with sendfile from the descriptor the handler opened.
#include "web/HttpServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace vorta::web {

struct HttpServer::State {
  MHD_Daemon* daemon = nullptr;
  Handler handler;
};

std::string Request::header(const char* name) const {
  const char* v = MHD_lookup_connection_value(static_cast<MHD_Connection*>(connection_), MHD_HEADER_KIND, name);
  return v ? v : "";
}

std::string Request::argument(const char* name) const {
  const char* v = MHD_lookup_connection_value(static_cast<MHD_Connection*>(connection_),
                                              MHD_GET_ARGUMENT_KIND, name);
  return v ? v : "";
}

std::optional<std::pair<std::string, std::string>> Request::basicAuth() const {
  char* password = nullptr;
  char* user = MHD_basic_auth_get_username_password(static_cast<MHD_Connection*>(connection_), &password);
  std::optional<std::pair<std::string, std::string>> result;
  if (user != nullptr) result.emplace(user, password ? password : "");
  MHD_free(user);
  MHD_free(password);
  return result;
}

namespace {

// A stream is read in blocks this large: the live events, a few hundred
// bytes each (files, clips and days go out from the files or their mappings).
constexpr std::size_t kStreamBlock = 16 << 10;

ssize_t readStream(void* cls, std::uint64_t position, char* buffer, std::size_t room) {
  const long n = (*static_cast<StreamReader*>(cls))(position, buffer, room);
  if (n == -1) return MHD_CONTENT_READER_END_OF_STREAM;
  return n < 0 ? MHD_CONTENT_READER_END_WITH_ERROR : n;
}

void freeStream(void* cls) { delete static_cast<StreamReader*>(cls); }

void freePieces(void* cls) { delete static_cast<std::vector<MappedBytes>*>(cls); }

// The pieces go out by sendmsg straight from the mappings: the kernel copies
// each byte once, from the page cache into the socket, and the library never
// reads them itself (a file cut back makes the send fail, not the process).
MHD_Response* piecesResponse(std::vector<MappedBytes>&& mapped) {
  auto* pieces = new std::vector<MappedBytes>(std::move(mapped));
  std::vector<MHD_IoVec> vector;
  for (const MappedBytes& p : *pieces) vector.push_back(MHD_IoVec{p.data(), p.size()});
  MHD_Response* response = MHD_create_response_from_iovec(vector.data(), unsigned(vector.size()), freePieces, pieces);
  if (response == nullptr) delete pieces;
  return response;
}

MHD_Response* libraryResponse(Response& r) {
  if (r.file) {
    const int fd = r.file->release();
    MHD_Response* response = MHD_create_response_from_fd_at_offset64(r.length, fd, r.offset);
    if (response == nullptr) ::close(fd);
    return response;
  }
  if (!r.pieces.empty()) return piecesResponse(std::move(r.pieces));
  if (r.reader) {
    auto* reader = new StreamReader(std::move(r.reader));
    MHD_Response* response = MHD_create_response_from_callback(
        r.lengthUnknown ? MHD_SIZE_UNKNOWN : r.length, kStreamBlock, readStream, reader, freeStream);
    if (response == nullptr) delete reader;
    return response;
  }
  return MHD_create_response_from_buffer(r.body.size(), r.body.data(), MHD_RESPMEM_MUST_COPY);
}

MHD_Result onRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                     const char* /*version*/, const char* /*upload*/, std::size_t* uploadSize,
                     void** /*perRequest*/) {
  auto* state = static_cast<HttpServer::State*>(cls);
  Response r;
  if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0) {
    r = Response::text(405, "Only GET and HEAD.\n").with("Allow", "GET, HEAD");
    *uploadSize = 0;
  } else {
    r = state->handler(Request(connection, method, url));
  }
  MHD_Response* response = libraryResponse(r);
  if (response == nullptr) return MHD_NO;
  for (const auto& [name, value] : r.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
  const MHD_Result queued = MHD_queue_response(connection, unsigned(r.status), response);
  MHD_destroy_response(response);
  return queued;
}

// The library's own reports go to stderr as the program's, all but one kind:
// a client that closed its connection before the whole answer went out.
// Listeners leave the live view and stop downloads all the time; a line for
// each would bury the reports an operator needs to see.
void logLibraryReport(void*, const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  const std::string_view report(text);
  for (std::string_view clientLeft : {"no longer available for sending", "closed by remote peer",
                                      "closed by remote side"})
    if (report.find(clientLeft) != std::string_view::npos) return;
  std::string line = "vorta-web: " + std::string(report);
  if (line.back() != '\n') line += '\n';
  std::fputs(line.c_str(), stderr);
}

}  // namespace

HttpServer::HttpServer() = default;
HttpServer::~HttpServer() { stop(); }

std::string HttpServer::start(const std::string& address, std::uint16_t port, Handler handler,
                              const ServerLimits& limits) {
  sockaddr_in v4{};
  sockaddr_in6 v6{};
  const sockaddr* where = nullptr;
  unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG;
  if (::inet_pton(AF_INET, address.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    where = reinterpret_cast<const sockaddr*>(&v4);
  } else if (::inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    where = reinterpret_cast<const sockaddr*>(&v6);
    flags |= MHD_USE_IPv6;
  } else {
    return "not a numeric IP address: " + address;
  }
  state_ = std::make_unique<State>();
  state_->handler = std::move(handler);
  state_->daemon = MHD_start_daemon(
      flags, port, nullptr, nullptr, &onRequest, state_.get(), MHD_OPTION_EXTERNAL_LOGGER,
      &logLibraryReport, nullptr, MHD_OPTION_SOCK_ADDR, where,
      MHD_OPTION_CONNECTION_LIMIT, limits.connections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
      limits.perAddress, MHD_OPTION_CONNECTION_TIMEOUT, limits.idleSeconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.headerBytes, MHD_OPTION_END);
  if (state_->daemon == nullptr) {
    state_.reset();
    return "cannot listen on " + address + " port " + std::to_string(port) + " (in use, or not allowed)";
  }
  return {};
}

std::uint16_t HttpServer::port() const {
  if (!state_) return 0;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(state_->daemon, MHD_DAEMON_INFO_BIND_PORT);
  return info ? info->port : 0;
}

void HttpServer::stop() {
  if (!state_) return;
  MHD_stop_daemon(state_->daemon);
  state_.reset();
}

}  // namespace vorta::web
