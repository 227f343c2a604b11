#include "app/Help.h"

#include <cstdarg>
#include <string>

#include "base/Messages.h"
#include "platform/Terminal.h"

namespace vorta {
namespace {

// Rows of the terminal, read once when the help first needs it; a terminal
// resized later is not noticed.
int gScreenRows = -1;

// Help lines are format strings printed without arguments, so "%%" shows as
// one percent sign.
std::string formatWithoutArguments(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = vformat(fmt, args);
  va_end(args);
  return text;
}

}  // namespace

ExitCode printHelp(ExitCode exitCode) {
  // The banner and the blank lines around it already take four rows.
  int rowCounter = 4;
  for (const HelpLine& line : helpLines()) {
    writeText(Stream::Out, formatWithoutArguments(line.text));
    if (line.counted) countHelpLine(rowCounter);
    if (line.plusOne) ++rowCounter;
  }
  if (isStdoutTerminal()) waitForEnter();
  return exitCode;
}

bool countHelpLine(int& rowCounter) {
  if (gScreenRows < 0) gScreenRows = terminalRows();
  ++rowCounter;
  if (rowCounter < gScreenRows - 2 || !isStdoutTerminal()) return false;
  waitForEnter();
  rowCounter = 0;
  return true;
}

void waitForEnter() {
  {
    // The terminal is switched to single keys without echo before the prompt
    // shows, so a key typed as soon as it appears is neither echoed nor held
    // back for a whole line.
    KeyboardSession keys;
    say(Msg::EnterPrompt);
    // Without a terminal, or once it has gone, no Enter can ever come: stop
    // waiting rather than block for ever.
    while (keys.available()) {
      const int key = keys.readKey(-1);
      if (key == kKeyEnter || key == kKeyNone) break;
    }
  }  // the terminal's own settings are back before the prompt is erased
  say(Msg::PromptEraser, "");
}

}  // namespace vorta
