#include "app/Help.h"

#include <string>

#include "app/Options.h"
#include "base/Messages.h"
#include "platform/Terminal.h"
#include "platform/TextEncoding.h"

namespace vorta {
namespace {

// Writes the text line by line, each line counted by the pager.
void printCountedLines(const TextOutput& out, const std::string& text, HelpPager& pager) {
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = text.find('\n', from);
    const std::size_t next = end == std::string::npos ? text.size() : end + 1;
    out.write(Stream::Out, std::string_view(text).substr(from, next - from));
    pager.count(out);
    from = next;
  }
}

}  // namespace

ExitCode printHelpWithLongOptions(const TextOutput& out) {
  // The first page ends with its own prompt on a terminal, as it always has.
  printHelp(out, ExitCode::Ok);
  HelpPager pager(0);
  printCountedLines(out, out.format(Msg::LongHelpTitle), pager);
  const bool russian = out.language() == Language::Russian;
  for (const Option& option : options()) {
    if (!option.englishHelp) continue;
    printCountedLines(out, russian ? toConsoleCodeset(option.russianHelp) : option.englishHelp,
                      pager);
  }
  if (isStdoutTerminal()) waitForEnter(out);
  return ExitCode::Ok;
}

ExitCode printHelp(const TextOutput& out, ExitCode exitCode) {
  // The banner and the blank lines around it already take four rows.
  HelpPager pager(4);
  for (const HelpLine& line : helpLines(out.language())) {
    out.write(Stream::Out, line.text);
    if (line.counted) pager.count(out);
    if (line.plusOne) pager.skip();
  }
  if (isStdoutTerminal()) waitForEnter(out);
  return exitCode;
}

HelpPager::HelpPager(int rowsShown) : screenRows_(terminalRows()), row_(rowsShown) {}

bool HelpPager::count(const TextOutput& out) {
  ++row_;
  if (row_ < screenRows_ - 2 || !isStdoutTerminal()) return false;
  waitForEnter(out);
  row_ = 0;
  return true;
}

void waitForEnter(const TextOutput& out) {
  {
    // The terminal is switched to single keys without echo before the prompt
    // shows, so a key typed as soon as it appears is neither echoed nor held
    // back for a whole line.
    KeyboardSession keys;
    out.say(Msg::EnterPrompt);
    // Without a terminal, or once it has gone, no Enter can ever come: stop
    // waiting rather than block for ever.
    while (keys.available()) {
      const int key = keys.readKey(-1);
      if (key == kKeyEnter || key == kKeyNone) break;
    }
  }  // the terminal's own settings are back before the prompt is erased
  out.say(Msg::PromptEraser);
}

}  // namespace vorta
