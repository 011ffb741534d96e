#pragma once

#include <string>
#include <string_view>

// text without the characters of code 32 or less (blanks, control characters) at both ends.
std::string_view trimmedOfControls(std::string_view text);

// The source that compiling hands to LoadCode: every line of text (lines end at CR, LF or
// CR LF) trimmed of characters of code 32 or less at both ends, then cut at its first ";",
// the pieces joined with nothing between them.
std::string prepareSource(std::string_view text);
