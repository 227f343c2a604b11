// vorta-web's own request reading on any bytes: the Range and conditional
// headers (the input split at NUL bytes into Range, If-Range, If-None-Match,
// If-Modified-Since, with the file's size from the first 8 bytes). The plan
// must stay inside the file and agree with its status.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "web/FilePlan.h"
#include "web/HttpDate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint64_t fileSize = 0;
  if (size >= 8) std::memcpy(&fileSize, data, 8), data += 8, size -= 8;
  fileSize %= 1ull << 40;
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) fields.emplace_back();
    else fields.back() += char(data[i]);
  }
  fields.resize(4);
  const vorta::web::FileVersion version{fileSize, 1796651980000000000};
  const auto plan = vorta::web::planFile(version, {fields[0], fields[1], fields[2], fields[3]});
  const bool inside = plan.offset + plan.length <= fileSize && plan.offset <= fileSize;
  const bool agrees = (plan.status == 200 && plan.offset == 0 && plan.length == fileSize) ||
                      (plan.status == 206 && plan.length > 0) || ((plan.status == 304 || plan.status == 416) && plan.length == 0);
  if (!inside || !agrees) __builtin_trap();
  if (const auto date = vorta::web::parseHttpDate(fields[3]))
    if (vorta::web::parseHttpDate(vorta::web::formatHttpDate(*date)) != date) __builtin_trap();
  return 0;
}
