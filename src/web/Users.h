// The users allowed in: "name:hash" lines, the hashes made by crypt
// (yescrypt by default, as `vorta-web --hash-password` makes them).
//
// Contract: loaded on the main thread at start, then checked from any
// connection's thread; the cache of checked credentials has its own lock.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace vorta::web {

class Users {
 public:
  // Takes the users of a file's text; the error text for a line that is no user.
  std::string load(const std::string& text);
  bool empty() const { return hashes_.empty(); }
  // Whether the name and password are a user's. A hash takes tens of
  // milliseconds on purpose, so a pair once found good is remembered (by
  // its own hash with a random salt, never the password itself).
  bool check(const std::string& name, const std::string& password) const;

 private:
  std::map<std::string, std::string> hashes_;
  mutable std::mutex lock_;  // guards the cache
  mutable std::set<std::string> good_;
  mutable std::string cacheSalt_;
};

// A new hash of a password with a fresh random salt; empty on failure.
std::string hashPassword(const std::string& password);

}  // namespace vorta::web
