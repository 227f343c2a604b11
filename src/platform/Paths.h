// Directory separators in file names, for the "has the name an extension?"
// test: '/' on Linux; '\' and '/' on Windows, which takes either.
//
// Contract: pure, any thread.
#pragma once

namespace vorta {

bool isDirectorySeparator(char c);

}  // namespace vorta
