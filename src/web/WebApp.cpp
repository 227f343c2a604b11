#include "web/WebApp.h"

#include "web/ArchiveRoutes.h"
#include "web/Metrics.h"
#include "web/Page.h"

namespace vorta::web {
namespace {

Response pageFile(std::string_view name) {
  for (const PageFile& f : pageFiles())
    if (name == f.name) {
      return Response::text(200, std::string(reinterpret_cast<const char*>(f.bytes), f.size), f.type)
          .with("Cache-Control", "no-cache");
    }
  return Response::text(404, "Not found.\n");
}

}  // namespace

Response WebApp::handle(const Request& request) const {
  Response r;
  const auto credentials = users_.empty() ? std::nullopt : request.basicAuth();
  if (!users_.empty() && (!credentials || !users_.check(credentials->first, credentials->second)))
    r = Response::text(401, "Who are you?\n").with("WWW-Authenticate", "Basic realm=\"vorta\", charset=\"UTF-8\"");
  else
    r = route(request);
  // The page runs only its own code and is framed by nobody.
  r.with("X-Content-Type-Options", "nosniff").with("Referrer-Policy", "no-referrer");
  r.with("Content-Security-Policy", "default-src 'self'; media-src 'self' blob:; frame-ancestors 'none'");
  return r;
}

Response WebApp::route(const Request& request) const {
  const std::string& path = request.path;
  if (path == "/") return pageFile("index.html");
  if (path.starts_with("/page/")) return pageFile(std::string_view(path).substr(6));
  if (path == "/metrics") return Response::text(200, metricsText(live_), "text/plain; version=0.0.4");
  if (path == "/api/live") return live_.eventStream();
  if (path == "/api/status") return Response::text(200, live_.snapshot(), "application/json");
  return archiveRoute(archives_, request, clock_);
}

}  // namespace vorta::web
