#include "platform/Paths.h"

namespace vorta {

bool isDirectorySeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace vorta
