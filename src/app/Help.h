// The help screen, its paging and the Enter prompt.
//
// Main thread only. On a terminal the help pages by the terminal's rows and
// ends with the Enter prompt; redirected, it prints whole with no prompt.
#pragma once

#include "base/Settings.h"
#include "base/TextOutput.h"

namespace vorta {

// Prints the help in the output's language and returns exitCode, which the
// caller ends the process with.
ExitCode printHelp(const TextOutput& out, ExitCode exitCode);

// The help, then a second page with the long options (the table's lines,
// printed as they are), paged the same way. Returns ExitCode::Ok.
ExitCode printHelpWithLongOptions(const TextOutput& out);

// Counts the printed help lines and pages when the screen is full. The
// terminal's rows are read once per page set: a terminal resized while it
// shows is not noticed.
class HelpPager {
 public:
  // `rowsShown`: rows already taken on the first page.
  explicit HelpPager(int rowsShown);
  // One line printed; returns whether it paged (the prompt written to `out`).
  bool count(const TextOutput& out);
  // One more row taken (an empty line after the one counted).
  void skip() { ++row_; }

 private:
  const int screenRows_;
  int row_;
};

// Shows "Press ENTER to continue...", waits for Enter on the controlling
// terminal (other keys are ignored), then erases the prompt. Callers check
// isStdoutTerminal() first. Never blocks without a controlling terminal.
void waitForEnter(const TextOutput& out);

}  // namespace vorta
