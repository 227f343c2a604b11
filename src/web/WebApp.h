// What vorta-web answers: the page, the archive API and audio, the live
// events, the metrics; every request of a server that has users must carry
// one's name and password.
//
// Contract: built on the main thread, then handle() is called from every
// connection's thread at once; it only reads its members (the users' cache
// and the live feed guard their own state).
#pragma once

#include <vector>

#include "web/Archive.h"
#include "web/Http.h"
#include "web/LiveFeed.h"
#include "web/Users.h"

namespace vorta::web {

class WebApp {
 public:
  WebApp(const std::vector<Archive>& archives, const Users& users, LiveFeed& live, Clock& clock)
      : archives_(archives), users_(users), live_(live), clock_(clock) {}
  Response handle(const Request& request) const;

 private:
  Response route(const Request& request) const;

  const std::vector<Archive>& archives_;
  const Users& users_;
  LiveFeed& live_;
  Clock& clock_;
};

}  // namespace vorta::web
