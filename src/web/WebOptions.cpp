#include "web/WebOptions.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/NamePattern.h"
#include "web/SafeFiles.h"

namespace vorta::web {
namespace {

constexpr const char* kServiceFolder = "/var/lib/vorta/";

bool validArchiveName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name.front() == '.') return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') return false;
  return true;
}

std::string checkArchive(const ArchiveConfig& a) {
  if (!validArchiveName(a.name)) return "archive name '" + a.name + "': letters, digits, '.', '_' and '-' only";
  if (a.folder.empty()) return "archive " + a.name + " has no folder";
  if (!isValidNamePattern(a.pattern)) return "archive " + a.name + ": '" + a.pattern + "' is not a name pattern";
  return {};
}

// NAME=FOLDER:PATTERN (the pattern %H.mp3 when left out).
std::string archiveFromArgument(const std::string& value, ArchiveConfig& a) {
  const std::size_t eq = value.find('='), colon = value.find(':', eq == std::string::npos ? 0 : eq);
  if (eq == std::string::npos) return "--archive wants NAME=FOLDER:PATTERN";
  a.name = value.substr(0, eq);
  a.folder = value.substr(eq + 1, colon == std::string::npos ? std::string::npos : colon - eq - 1);
  a.pattern = colon == std::string::npos ? "%H.mp3" : value.substr(colon + 1);
  return checkArchive(a);
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return in ? text.str() : std::string("\x01");
}

// The words of VORTA_OPTIONS="...", as the shell splits them (no escapes).
std::vector<std::string> recorderWords(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.starts_with("VORTA_OPTIONS=")) continue;
    std::string value = line.substr(14);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    std::istringstream in(value);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
  }
  return {};
}

// Every NAME.conf of a folder that describes an archive; the others are
// noted and left out, so one recording's odd settings hide no other.
std::string archivesFromFolder(const std::string& folder, std::vector<ArchiveConfig>& archives,
                               std::vector<std::string>& warnings) {
  std::vector<std::string> names = listBelow(folder, {});
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (!name.ends_with(".conf")) continue;
    const std::string path = folder + "/" + name, text = fileText(path);
    ArchiveConfig a;
    const std::string error = text == "\x01" ? "cannot read " + path : archiveFromConfig(path, text, a);
    if (error.empty()) archives.push_back(std::move(a));
    else warnings.push_back(error + "; left out");
  }
  return {};
}

}  // namespace

bool isLoopback(const std::string& address) { return address.starts_with("127.") || address == "::1"; }

std::string archiveFromConfig(const std::string& path, const std::string& text, ArchiveConfig& a) {
  const std::size_t slash = path.rfind('/');
  a.name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (a.name.ends_with(".conf")) a.name.resize(a.name.size() - 5);
  a.folder = kServiceFolder + a.name;
  a.pattern.clear();
  std::string dir;
  const std::vector<std::string> w = recorderWords(text);
  for (std::size_t i = 0; i < w.size(); ++i) {
    const bool hasNext = i + 1 < w.size();
    if (w[i] == "-split1") a.pattern = "%H.mp3";
    else if (w[i] == "-split3") a.pattern = "%d - %H.mp3";
    else if (w[i] == "-split2") return path + ": weekday names (-split2) cannot be read back; use --name";
    else if (w[i] == "--name" && hasNext) a.pattern = w[++i];
    else if (w[i].starts_with("--name=")) a.pattern = w[i].substr(7);
    else if (w[i] == "--dir" && hasNext) dir = w[++i];
    else if (w[i].starts_with("--dir=")) dir = w[i].substr(6);
    else if (w[i] == "--status" && hasNext) a.statusFile = w[++i];
    else if (w[i].starts_with("--status=")) a.statusFile = w[i].substr(9);
  }
  if (a.pattern.empty()) return path + ": the recording makes no hourly files (-split1, -split3 or --name)";
  if (!dir.empty()) a.folder = dir.front() == '/' ? dir : a.folder + "/" + dir;
  return checkArchive(a);
}

ParsedWebOptions parseWebOptions(const std::vector<std::string>& args) {
  ParsedWebOptions parsed;
  WebOptions& o = parsed.options;
  std::vector<std::pair<std::string, std::string>> statusFiles;
  for (std::size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
    std::string name = args[i], value;
    const std::size_t eq = name.find('=');
    const bool inline_ = name.starts_with("--") && eq != std::string::npos;
    if (inline_) value = name.substr(eq + 1), name.resize(eq);
    const bool takesValue = name == "--archive" || name == "--config" || name == "--config-dir" || name == "--listen" ||
                            name == "--port" || name == "--users" || name == "--status" || name == "--max-connections";
    if (takesValue && !inline_) {
      if (i + 1 == args.size()) { parsed.error = name + " needs a value"; break; }
      value = args[++i];
    }
    if (name == "--help") o.action = WebOptions::Action::Help;
    else if (name == "--version") o.action = WebOptions::Action::Version;
    else if (name == "--hash-password") o.action = WebOptions::Action::HashPassword;
    else if (name == "--listen") o.address = value;
    else if (name == "--users") o.usersFile = value;
    else if (name == "--port" || name == "--max-connections") {
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || n < (name == "--port" ? 0 : 1) || n > 65535) parsed.error = "bad " + name + " " + value;
      else if (name == "--port") o.port = std::uint16_t(n);
      else o.maxConnections = unsigned(n);
    } else if (name == "--archive") {
      o.archives.emplace_back();
      parsed.error = archiveFromArgument(value, o.archives.back());
    } else if (name == "--config") {
      const std::string text = fileText(value);
      o.archives.emplace_back();
      parsed.error = text == "\x01" ? "cannot read " + value : archiveFromConfig(value, text, o.archives.back());
    } else if (name == "--config-dir") {
      parsed.error = archivesFromFolder(value, o.archives, parsed.warnings);
    } else if (name == "--status") {
      const std::size_t at = value.find('=');
      if (at == std::string::npos) parsed.error = "--status wants NAME=FILE";
      else statusFiles.emplace_back(value.substr(0, at), value.substr(at + 1));
    } else {
      parsed.error = "unknown option " + args[i];
    }
  }
  for (const auto& [archive, file] : statusFiles) {
    bool found = false;
    for (ArchiveConfig& a : o.archives)
      if (a.name == archive) a.statusFile = file, found = true;
    if (!found && parsed.error.empty()) parsed.error = "--status names no archive: " + archive;
  }
  for (std::size_t i = 0; i < o.archives.size() && parsed.error.empty(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (o.archives[i].name == o.archives[j].name) parsed.error = "two archives named " + o.archives[i].name;
  if (parsed.error.empty() && o.action == WebOptions::Action::Serve && o.archives.empty())
    parsed.error = "no archive: give --archive NAME=FOLDER:PATTERN, --config FILE or --config-dir DIR";
  if (parsed.error.empty() && o.action == WebOptions::Action::Serve && !isLoopback(o.address) && o.usersFile.empty())
    parsed.error = "listening on " + o.address + " needs --users FILE (only 127.0.0.1 and ::1 go without)";
  return parsed;
}

const char* webHelpText() {
  return "Usage: vorta-web [options]\n"
         "Serves the archives of vorta recordings on a web page: calendar, day view,\n"
         "player, clip export, live view of the recorders; /metrics for Prometheus.\n"
         "\n"
         "  --archive NAME=FOLDER:PATTERN  an archive: the recorder's --dir and --name\n"
         "                                 (PATTERN %H.mp3 when left out)\n"
         "  --config FILE          an archive from a recorder's configuration file\n"
         "                         (/etc/vorta/NAME.conf), named NAME\n"
         "  --config-dir DIR       an archive from each NAME.conf in DIR\n"
         "  --status NAME=FILE     the --status file of archive NAME's recorder\n"
         "  --listen ADDRESS       the address to listen on (127.0.0.1)\n"
         "  --port N               the port (8080; 0: any free one)\n"
         "  --users FILE           NAME:HASH lines; required for any address but\n"
         "                         127.0.0.1 and ::1\n"
         "  --max-connections N    connections at once (64)\n"
         "  --hash-password        read a password on standard input, print its hash\n"
         "  --help                 print this and exit\n"
         "  --version              print the version and exit\n";
}

}  // namespace vorta::web
