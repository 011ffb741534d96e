#pragma once

#include <string_view>

// The one trimming rule of the program's texts: source lines when compiling, and the lines,
// headers, keys and values of INI files.

// Whether c is a blank or a control character (code 32 or less).
constexpr bool isBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

// text without the characters of code 32 or less at both ends.
constexpr std::string_view trimmedOfControls(std::string_view text)
{
    while (!text.empty() && isBlankOrControl(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlankOrControl(text.back()))
        text.remove_suffix(1);
    return text;
}
