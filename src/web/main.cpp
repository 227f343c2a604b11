// vorta-web: serves the archives of vorta's recordings on a web page.
// The main thread reads the command line, starts the live thread and the
// server's threads, then waits for a stop signal and stops them in turn.
#include <fstream>
#include <iostream>
#include <sstream>

#include "web/HttpServer.h"
#include "web/StopSignal.h"
#include "web/WebApp.h"
#include "web/WebOptions.h"

using namespace vorta;
using namespace vorta::web;

namespace {

int hashFromInput() {
  std::cerr << "Password: " << std::flush;
  std::string password;
  if (!readSecretLine(password) || password.empty()) {
    std::cerr << "vorta-web: no password given\n";
    return 2;
  }
  const std::string hash = hashPassword(password);
  if (hash.empty()) {
    std::cerr << "vorta-web: the password could not be hashed\n";
    return 1;
  }
  std::cout << hash << '\n';
  return 0;
}

bool loadUsers(const std::string& path, Users& users) {
  if (path.empty()) return true;
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string error = in ? users.load(text.str()) : "cannot be read";
  if (error.empty() && users.empty()) {
    std::cerr << "vorta-web: " << path << " names no user\n";
    return false;
  }
  if (!error.empty()) std::cerr << "vorta-web: " << path << ": " << error << '\n';
  return error.empty();
}

}  // namespace

int main(int argc, char** argv) {
  blockStopSignals();
  const ParsedWebOptions parsed = parseWebOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::cerr << "vorta-web: " << parsed.error << "\n(vorta-web --help lists the options)\n";
    return 2;
  }
  for (const std::string& warning : parsed.warnings) std::cerr << "vorta-web: " << warning << '\n';
  const WebOptions& o = parsed.options;
  if (o.action == WebOptions::Action::Help) return std::cout << webHelpText(), 0;
  if (o.action == WebOptions::Action::Version) return std::cout << "vorta-web " VORTA_VERSION "\n", 0;
  if (o.action == WebOptions::Action::HashPassword) return hashFromInput();
  Users users;
  if (!loadUsers(o.usersFile, users)) return 2;
  std::vector<Archive> archives(o.archives.begin(), o.archives.end());
  LiveFeed live(archives, systemClock());
  WebApp app(archives, users, live, systemClock());
  HttpServer server;
  ServerLimits limits;
  limits.connections = o.maxConnections;
  limits.perAddress = std::max(1u, o.maxConnections / 2);
  const std::string error = server.start(o.address, o.port, [&app](const Request& r) { return app.handle(r); }, limits);
  if (!error.empty()) {
    std::cerr << "vorta-web: " << error << '\n';
    return 1;
  }
  live.start();
  const bool v6 = o.address.find(':') != std::string::npos;
  std::cout << "vorta-web: serving " << archives.size() << " archive(s) on http://"
            << (v6 ? "[" + o.address + "]" : o.address) << ':' << server.port() << "/" << std::endl;
  waitForStopSignal();
  server.stop();
  live.stop();
  return 0;
}
