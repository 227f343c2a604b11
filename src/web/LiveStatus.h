// A recorder's status file (its --status option): a JSON document that the
// recorder replaces once a second, read here with how old it is.
//
// Pure apart from reading the file: the live thread.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace vorta::web {

struct StatusRead {
  nlohmann::json document;  // null when missing or unreadable
  double age = -1;          // seconds since it was written, -1 when missing
};

StatusRead readStatusFile(const std::string& path, double nowSeconds);

}  // namespace vorta::web
