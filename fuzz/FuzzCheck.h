#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant stops the fuzzer at once, so that it keeps the input.
[[noreturn]] inline void violated(const char* what) {
  std::printf("invariant broken: %s\n", what);
  std::fflush(stdout);
  std::abort();
}

inline void require(bool condition, const char* what) {
  if (!condition) {
    violated(what);
  }
}
