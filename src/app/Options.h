// Every option of the command line, in one table: the word as typed, whether
// it takes a value, what it sets, and, for long options, its lines on the
// second help page.
//
// One-dash words keep their historic grammar: "-b 128", switches alone, "-s"
// with a value only when the next word reads as a non-zero level. Long
// options are GNU style: "--name VALUE", "--name=VALUE", or "--name" alone
// for those that take no value; a word beginning with "--" that names no row
// is an invalid argument.
//
// Pure: no row prints, reads a device or waits; the parser only records what
// the words ask for and app/ acts on it. To add an option, add one row to
// the table in Options.cpp (long options in alphabetical order, so options
// added side by side do not touch the same lines) with its handler and, for
// a long option, its help lines.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "app/CommandLine.h"

namespace vorta {

enum class OptionValue {
  None,             // a switch
  Required,         // the next word (or "=VALUE" for a long option)
  IfNonZeroNumber,  // the next word, only when it reads as a non-zero number
};

struct Option {
  const char* word;  // as typed, "-b" or "--dead-air" (without "=VALUE")
  OptionValue value;
  // Takes the value (empty for switches and an IfNonZeroNumber not taken)
  // into the command line being read; a refusal ends the reading.
  std::optional<Refusal> (*apply)(const std::string& value, CommandLine& into);
  // A long option's lines on the second help page, in UTF-8, each ending in
  // "\n"; nullptr for the one-dash options (the first page shows those).
  const char* englishHelp = nullptr;
  const char* russianHelp = nullptr;
  // Matched in any letter case ("-RUS").
  bool anyCase = false;
};

std::span<const Option> options();

// The row for a word ("--name=VALUE" matches "--name"); nullptr for none.
const Option* findOption(const std::string& word);

// strtol's base-10 reading: white space, a sign, digits up to the first
// other character; no digits give 0. Saturates beyond the 64-bit range.
std::int64_t readNumber(const std::string& word);

}  // namespace vorta
