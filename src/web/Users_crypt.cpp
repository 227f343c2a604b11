// Password hashes through libxcrypt (crypt_r, crypt_gensalt_rn).
#include "web/Users.h"

#include <crypt.h>

#include <cstring>
#include <memory>
#include <sstream>

namespace vorta::web {
namespace {

std::string cryptWith(const std::string& password, const std::string& setting) {
  auto data = std::make_unique<crypt_data>();
  std::memset(data.get(), 0, sizeof(crypt_data));
  const char* out = crypt_r(password.c_str(), setting.c_str(), data.get());
  // A failure gives null or a text starting with '*', never a hash.
  return out == nullptr || out[0] == '*' ? std::string() : std::string(out);
}

// Compares without stopping at the first difference.
bool sameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string newSetting(const char* prefix, unsigned long cost) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  return crypt_gensalt_rn(prefix, cost, nullptr, 0, setting, sizeof setting) ? std::string(setting) : std::string();
}

}  // namespace

std::string Users::load(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos || colon + 1 == line.size() || line[colon + 1] != '$') {
      return "line " + std::to_string(number) + " is not NAME:HASH";
    }
    hashes_[line.substr(0, colon)] = line.substr(colon + 1);
  }
  cacheSalt_ = newSetting("$5$", 1000);  // a fast hash, only for the cache
  return {};
}

bool Users::check(const std::string& name, const std::string& password) const {
  const auto user = hashes_.find(name);
  if (user == hashes_.end()) {
    cryptWith(password, newSetting(nullptr, 0));  // as slow as a known name
    return false;
  }
  const std::string key = cryptWith(name + ":" + password, cacheSalt_);
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!key.empty() && good_.count(key)) return true;
  }
  if (!sameText(cryptWith(password, user->second), user->second)) return false;
  std::lock_guard<std::mutex> hold(lock_);
  if (good_.size() < 1000 && !key.empty()) good_.insert(key);
  return true;
}

std::string hashPassword(const std::string& password) {
  const std::string setting = newSetting(nullptr, 0);  // the library's preferred method
  return setting.empty() ? std::string() : cryptWith(password, setting);
}

}  // namespace vorta::web
