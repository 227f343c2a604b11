// Waiting for the signal that ends the server (SIGINT, SIGTERM, SIGHUP), and
// the terminal's echo off while a password is typed.
//
// Contract: main thread. blockStopSignals() comes first, before any other
// thread starts, so that they all inherit the blocked set and only
// waitForStopSignal() receives them.
#pragma once

#include <string>

namespace vorta::web {

void blockStopSignals();
int waitForStopSignal();  // the signal's number
// A line from standard input; without echo when it is a terminal.
bool readSecretLine(std::string& line);

}  // namespace vorta::web
