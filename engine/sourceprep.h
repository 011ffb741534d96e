#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The source that compiling hands to LoadCode: every line of text (lines end at CR, LF or
// CR LF) trimmed of characters of code 32 or less at both ends, then cut at its first ";",
// the pieces joined with nothing between them.
std::string prepareSource(std::string_view text);

// Where the program that compiling makes of text comes from: the offset in text of each
// command it keeps (command n at commands[n - 1]), and of each "#" in the parts it keeps.
struct SourceMap
{
    std::vector<std::size_t> commands;
    std::vector<std::size_t> marks;
};
SourceMap mapSource(std::string_view text);
