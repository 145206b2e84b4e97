#pragma once
// The check every fuzz body uses. A failed check calls
// QV_FUZZ_CHECK_FAILED(text), which aborts (so libFuzzer keeps the input)
// unless the includer defines it first: the replay tests turn it into a
// test failure.
#include <cstdlib>

#ifndef QV_FUZZ_CHECK_FAILED
#define QV_FUZZ_CHECK_FAILED(text) std::abort()
#endif
#define QV_FUZZ_CHECK(cond)                   \
  do {                                        \
    if (!(cond)) QV_FUZZ_CHECK_FAILED(#cond); \
  } while (false)
