#pragma once

#include <optional>
#include <string>

// What the runner's command line asks for.
struct Options
{
    bool dataWrap = true;
    bool plain = false;
    bool listing = false;
    bool help = false;
    std::string file;
};

// Reads the arguments after the program name: the options, then exactly one FILE ("-" for
// standard input; "--" ends the options). Nothing for an unknown option, a missing FILE
// (unless --help) or a second one.
std::optional<Options> parseArguments(int argc, const char *const *argv);
