#pragma once

#include <cstdio>
#include <cstdlib>

// A broken rule stops the run with a message; abort() is what makes the fuzzer keep the
// input that broke it.
#define FUZZ_REQUIRE(condition, message)                                                       \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: %s (%s)\n", __FILE__, __LINE__, message, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
