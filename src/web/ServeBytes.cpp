#include "web/ServeBytes.h"

#include "web/HttpDate.h"

namespace vorta::web {
namespace {

// The plan for this request and the headers every answer carries.
FilePlan plan(const Request& request, const FileVersion& version, Response& r, const std::string& type) {
  const std::string range = request.header("Range"), ifRange = request.header("If-Range"),
                    ifNoneMatch = request.header("If-None-Match"), since = request.header("If-Modified-Since");
  const FilePlan p = planFile(version, Conditions{range, ifRange, ifNoneMatch, since});
  r.status = p.status;
  r.offset = p.offset;
  r.length = p.length;
  r.with("ETag", entityTag(version)).with("Last-Modified", formatHttpDate(version.modifiedNs / 1000000000));
  r.with("Accept-Ranges", "bytes").with("Cache-Control", "no-cache");
  if (p.status == 200 || p.status == 206) r.with("Content-Type", type);
  if (p.status == 206)
    r.with("Content-Range", "bytes " + std::to_string(p.offset) + "-" + std::to_string(p.offset + p.length - 1) +
                                "/" + std::to_string(version.size));
  if (p.status == 416) r.with("Content-Range", "bytes */" + std::to_string(version.size));
  return p;
}

}  // namespace

Response serveFile(const Request& request, ReadOnlyFile file, const std::string& type) {
  Response r;
  const FilePlan p = plan(request, file.version(), r, type);
  if (p.status == 200 || p.status == 206) r.file.emplace(std::move(file));
  return r;
}

Response serveChain(const Request& request, std::shared_ptr<const ByteChain> chain, const std::string& type) {
  Response r;
  const FilePlan p = plan(request, FileVersion{chain->size(), chain->modifiedNs()}, r, type);
  if (p.status != 200 && p.status != 206) return r;
  r.pieces = chain->map(p.offset, p.length);
  if (r.pieces.empty() && p.length > 0) return Response::text(500, "The recording cannot be read.\n");
  return r;
}

}  // namespace vorta::web
