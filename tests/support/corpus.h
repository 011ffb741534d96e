#pragma once

#include <optional>
#include <string>
#include <vector>

// The shared corpus of classic programs (../shared/corpus), as tests, fuzzers and benchmarks
// read it. Nothing here skips or fails a test: callers decide what a missing corpus means.

// The bytes of the file at path; nothing when it cannot be read.
std::optional<std::string> readFile(const std::string &path);

// The program names on the "Quick subset" line of corpus/MANIFEST.md, in their order.
std::vector<std::string> quickSubset(const std::string &corpus);

// The "commands" column of the manifest's row for name.b.
std::optional<long long> manifestCommands(const std::string &corpus, const std::string &name);
