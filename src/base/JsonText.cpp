#include "base/JsonText.h"

#include <fmt/format.h>

#include <cmath>

namespace vorta {
namespace {

// The length of the UTF-8 sequence at `at`, or 0 when it is not one.
std::size_t utf8Length(std::string_view s, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  const std::size_t n = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                      : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (n == 0 || at + n > s.size()) return 0;
  for (std::size_t i = 1; i < n; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and values past U+10FFFF.
  if ((lead == 0xE0 && byte(at + 1) < 0xA0) || (lead == 0xED && byte(at + 1) > 0x9F) ||
      (lead == 0xF0 && byte(at + 1) < 0x90) || (lead == 0xF4 && byte(at + 1) > 0x8F))
    return 0;
  return n;
}

}  // namespace

std::string jsonString(std::string_view value) {
  std::string out = "\"";
  for (std::size_t i = 0; i < value.size();) {
    const char c = value[i];
    const std::size_t n = utf8Length(value, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += fmt::format("\\u{:04x}", static_cast<unsigned>(c));
    } else {
      out.append(value, i, n);
    }
    i += n;
  }
  return out + "\"";
}

JsonObject& JsonObject::key(std::string_view name) {
  if (!body_.empty()) body_ += ",";
  body_ += jsonString(name) + ":";
  return *this;
}

JsonObject& JsonObject::text(std::string_view name, std::string_view value) {
  key(name).body_ += jsonString(value);
  return *this;
}

JsonObject& JsonObject::number(std::string_view name, std::int64_t value) {
  key(name).body_ += fmt::format("{}", value);
  return *this;
}

JsonObject& JsonObject::number(std::string_view name, std::uint64_t value) {
  key(name).body_ += fmt::format("{}", value);
  return *this;
}

// JSON has no NaN or infinity: such a figure is null.
JsonObject& JsonObject::number(std::string_view name, double value, int decimals) {
  key(name).body_ += std::isfinite(value) ? fmt::format("{:.{}f}", value, decimals) : "null";
  return *this;
}

JsonObject& JsonObject::boolean(std::string_view name, bool value) {
  key(name).body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::null(std::string_view name) {
  key(name).body_ += "null";
  return *this;
}

JsonObject& JsonObject::raw(std::string_view name, std::string_view json) {
  key(name).body_ += json;
  return *this;
}

}  // namespace vorta
