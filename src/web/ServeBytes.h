// Answering a GET or HEAD with a file, or a chain of file pieces: validators,
// ranges, conditional requests, and the headers that go with them.
//
// Pure apart from the files it is given: any connection's thread.
#pragma once

#include <memory>
#include <string>

#include "web/ByteChain.h"
#include "web/Http.h"

namespace vorta::web {

Response serveFile(const Request& request, ReadOnlyFile file, const std::string& type);
Response serveChain(const Request& request, std::shared_ptr<const ByteChain> chain, const std::string& type);

}  // namespace vorta::web
