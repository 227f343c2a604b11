// A small JSON writer for the documents vorta writes (the status file): one
// object at a time, fields in the order added. Strings are escaped as JSON
// requires; bytes that are not UTF-8 (a file name is whatever bytes the
// system holds) become U+FFFD, so the document always parses.
//
// Pure: any thread, no shared state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorta {

class JsonObject {
 public:
  JsonObject& text(std::string_view key, std::string_view value);
  JsonObject& number(std::string_view key, std::int64_t value);
  JsonObject& number(std::string_view key, std::uint64_t value);
  // Rounded to `decimals` places.
  JsonObject& number(std::string_view key, double value, int decimals);
  JsonObject& boolean(std::string_view key, bool value);
  JsonObject& null(std::string_view key);
  // Already JSON: an object or an array made with these tools.
  JsonObject& raw(std::string_view key, std::string_view json);
  JsonObject& object(std::string_view key, const JsonObject& value) { return raw(key, value.json()); }

  std::string json() const { return "{" + body_ + "}"; }

 private:
  JsonObject& key(std::string_view name);
  std::string body_;
};

// `value` as a JSON string, quotes included.
std::string jsonString(std::string_view value);

}  // namespace vorta
