#pragma once

#include <stdexcept>
#include <string>

// The one exception type of the program: an error to show to the user in the standard error
// report. what() is the exact user-facing text (UTF-8).
class UserError : public std::runtime_error
{
public:
    explicit UserError(const std::string &text)
        : std::runtime_error(text)
    { }
};
