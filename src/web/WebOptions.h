// vorta-web's command line, and the recorders' configuration files it can
// take the archives from.
//
// Pure apart from reading the files named: main thread, at start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "web/Archive.h"

namespace vorta::web {

struct WebOptions {
  enum class Action { Serve, HashPassword, Help, Version };
  Action action = Action::Serve;
  std::vector<ArchiveConfig> archives;
  std::string address = "127.0.0.1";
  std::uint16_t port = 8080;
  std::string usersFile;
  unsigned maxConnections = 64;
};

struct ParsedWebOptions {
  WebOptions options;
  std::string error;  // empty when the command line was good
  std::vector<std::string> warnings;  // configurations left out
};

ParsedWebOptions parseWebOptions(const std::vector<std::string>& args);
// The archive a recorder's configuration file ("VORTA_OPTIONS=...", as the
// service reads it) describes, named after the file; error text when none.
std::string archiveFromConfig(const std::string& path, const std::string& text, ArchiveConfig& archive);
bool isLoopback(const std::string& address);
const char* webHelpText();

}  // namespace vorta::web
