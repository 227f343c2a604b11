// Retrying system calls interrupted by a signal. Used inside src/platform only.
#pragma once

#include <cerrno>

namespace vorta {

template <typename Call>
auto retryOnInterrupt(Call call) -> decltype(call()) {
  for (;;) {
    auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

}  // namespace vorta
