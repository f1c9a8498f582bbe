// FUZZ_CHECK: a broken invariant in a fuzz target. It names the condition
// and the line on standard error and traps, so libFuzzer keeps the input as
// a crash and a replay run fails.
#ifndef QUARNEX_FUZZ_FUZZ_CHECK_H_
#define QUARNEX_FUZZ_FUZZ_CHECK_H_

#include <cstdio>

#define FUZZ_CHECK(condition)                                                                \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: broken invariant: %s\n", __FILE__, __LINE__, #condition); \
      __builtin_trap();                                                                      \
    }                                                                                        \
  } while (false)

#endif  // QUARNEX_FUZZ_FUZZ_CHECK_H_
