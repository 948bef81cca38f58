#pragma once
#include <cstdio>
#include <cstdlib>

// Stops the run on a broken invariant, so the fuzzer keeps the input that broke it.
inline void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}
