// Ending the process and stop requests from signals.
//
// exitNow: any thread. Flushes standard output and error, restores the
// terminal and ends the process at once with the code, without running static
// destructors (other threads may still be running).
//
// Stop signals: installStopSignals is called once on the main thread before
// other threads start. SIGINT, SIGTERM and SIGHUP then only raise a flag that
// the capture loop polls, so they end a recording exactly as ESC does; SIGPIPE
// is ignored. stopSignalPending is safe from any thread.
#pragma once

namespace vorta {

[[noreturn]] void exitNow(int code);

// Until installStopSignals, SIGINT, SIGTERM, SIGHUP and SIGQUIT restore the
// terminal and then end the process as they normally would (while the help
// or a prompt is on screen).
void installTerminalSafeSignals();
void installStopSignals();
bool stopSignalPending();
// The signal number that asked for the stop, 0 if none.
int stopSignalNumber();

}  // namespace vorta
