// The web page's files (HTML, CSS, JavaScript modules), built into the
// program from src/web/page so that nothing is fetched from elsewhere.
//
// Pure: any thread.
#pragma once

#include <cstddef>
#include <vector>

namespace vorta::web {

struct PageFile {
  const char* name;  // e.g. "app.js"
  const char* type;  // its Content-Type
  const unsigned char* bytes;
  std::size_t size;
};

const std::vector<PageFile>& pageFiles();

}  // namespace vorta::web
