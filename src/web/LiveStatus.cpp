#include "web/LiveStatus.h"

#include "web/LiveFeed.h"
#include "web/SafeFiles.h"

namespace vorta::web {
namespace {

constexpr std::uint64_t kLargestStatus = 1 << 20;
constexpr double kStaleSeconds = 10;  // written once a second: ten missed is a stopped recorder

bool flag(const nlohmann::json& doc, const char* key) {
  const auto it = doc.find(key);
  return it != doc.end() && it->is_boolean() && it->get<bool>();
}

}  // namespace

StatusRead readStatusFile(const std::string& path, double nowSeconds) {
  StatusRead read;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const auto file = openBelow(folder, {path.substr(slash == std::string::npos ? 0 : slash + 1)});
  if (!file || file->version().size > kLargestStatus) return read;
  std::string text(file->version().size, '\0');
  if (file->readAt(0, text.data(), text.size()) != static_cast<long long>(text.size())) return read;
  read.document = nlohmann::json::parse(text, nullptr, false);
  if (read.document.is_discarded()) read.document = nullptr;
  read.age = nowSeconds - double(file->version().modifiedNs) / 1e9;
  return read;
}

std::vector<std::string> alarmsOf(const nlohmann::json& status, double age) {
  std::vector<std::string> alarms;
  if (!status.is_object()) return {"stopped"};
  // The recorder's own words (its status file's schema): a run that is not
  // recording, or a file it stopped replacing, is a stopped recorder.
  const std::string state = status.value("state", std::string());
  if (age > kStaleSeconds || (state != "recording" && state != "starting")) alarms.push_back("stopped");
  const auto deadAir = status.find("dead_air");
  if (deadAir != status.end() && deadAir->is_object() && flag(*deadAir, "now")) alarms.push_back("dead-air");
  const auto error = status.find("last_error");
  if (error != status.end() && error->is_object() && error->value("kind", std::string()) == "input-lost")
    alarms.push_back("input-lost");
  return alarms;
}

}  // namespace vorta::web
