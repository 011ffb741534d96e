#pragma once

#include <cstdio>
#include <cstdlib>

// What the fuzz targets share.

// Stops the run when condition is false, naming the check's file and line, so that a finding
// says which property broke.
#define FUZZ_CHECK(condition) fuzzCheckAt((condition), __FILE__, __LINE__)

inline void fuzzCheckAt(bool condition, const char *file, int line)
{
    if (condition)
        return;
    std::fprintf(stderr, "%s:%d: check failed\n", file, line);
    std::abort();
}
