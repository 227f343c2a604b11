// HTTP dates (IMF-fixdate, "Sun, 06 Nov 1994 08:49:37 GMT") for
// Last-Modified and If-Modified-Since / If-Range.
//
// Pure: any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorta::web {

std::string formatHttpDate(std::int64_t epochSeconds);
// Only the IMF-fixdate form; the obsolete forms read as no date, which makes
// a condition count as absent (the safe side: the whole file is sent).
std::optional<std::int64_t> parseHttpDate(std::string_view text);

}  // namespace vorta::web
