// The one check of the fuzz targets that need none of the plug-in's state:
// a broken invariant prints what broke and aborts, so that libFuzzer keeps
// the input as a crash. (The plug-in's targets use fuzz_checks.h.)
#ifndef KESTRIN_FUZZ_FUZZ_REQUIRE_H
#define KESTRIN_FUZZ_FUZZ_REQUIRE_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(cond)                                                              \
    do {                                                                                \
        if (!(cond)) {                                                                  \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

#endif
