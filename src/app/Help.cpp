#include "app/Help.h"

#include <string>

#include "app/Options.h"
#include "base/Messages.h"
#include "platform/Terminal.h"
#include "platform/TextEncoding.h"

namespace vorta {
namespace {

// Writes the text line by line, each line counted by the pager.
void printCountedLines(const std::string& text, HelpPager& pager) {
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = text.find('\n', from);
    const std::size_t next = end == std::string::npos ? text.size() : end + 1;
    writeText(Stream::Out, std::string_view(text).substr(from, next - from));
    pager.count();
    from = next;
  }
}

}  // namespace

ExitCode printHelpWithLongOptions() {
  // The first page ends with its own prompt on a terminal, as it always has.
  printHelp(ExitCode::Ok);
  HelpPager pager(0);
  printCountedLines(text(Msg::LongHelpTitle), pager);
  const bool russian = selectedLanguage() == Language::Russian;
  for (const Option& option : options()) {
    if (!option.englishHelp) continue;
    printCountedLines(russian ? toConsoleCodeset(option.russianHelp) : option.englishHelp,
                      pager);
  }
  if (isStdoutTerminal()) waitForEnter();
  return ExitCode::Ok;
}

ExitCode printHelp(ExitCode exitCode) {
  // The banner and the blank lines around it already take four rows.
  HelpPager pager(4);
  for (const HelpLine& line : helpLines()) {
    writeText(Stream::Out, line.text);
    if (line.counted) pager.count();
    if (line.plusOne) pager.skip();
  }
  if (isStdoutTerminal()) waitForEnter();
  return exitCode;
}

HelpPager::HelpPager(int rowsShown) : screenRows_(terminalRows()), row_(rowsShown) {}

bool HelpPager::count() {
  ++row_;
  if (row_ < screenRows_ - 2 || !isStdoutTerminal()) return false;
  waitForEnter();
  row_ = 0;
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
  say(Msg::PromptEraser);
}

}  // namespace vorta
