// GNU long options: "--name VALUE", "--name=VALUE", or "--name" alone for
// those that take no value. Words beginning with one dash never reach this
// table; a word beginning with "--" that names no row is an invalid argument.
//
// Main thread, while the command line is read. To add an option, add one row
// to the table in LongOptions.cpp (rows in alphabetical order, so options
// added side by side do not touch the same lines) with its handler and its
// lines for the second help page.
#pragma once

#include <span>
#include <string>

#include "base/Settings.h"

namespace vorta {

// What reading the command line does after a long option.
enum class OptionOutcome {
  Continue,  // read on
  Finished,  // the option did its whole job (help, version, a listing): exit 0
  Refused,   // its message has been printed: the help follows, exit 3
  Failed,    // it failed and said why: exit 3 without the help
};

struct LongOption {
  const char* name;  // without the leading "--"
  bool takesValue;
  OptionOutcome (*apply)(const std::string& value, Settings& settings);
  // The option's lines on the second help page, in UTF-8, each ending in "\n".
  const char* englishHelp;
  const char* russianHelp;
};

std::span<const LongOption> longOptions();

}  // namespace vorta
