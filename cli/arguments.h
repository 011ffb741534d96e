#pragma once

#include "u_Brainfuck.h"

#include <optional>
#include <string>

// What the runner's command line asks for.
struct Options
{
    bool dataWrap = true;
    tDialect dialect; // --cell-bits, --eof, --tape-cells, --start
    bool plain = false;
    bool listing = false;
    bool operations = false;
    bool help = false;
    bool version = false;
    std::string file; // the program's file, "-" for standard input; empty with code
    std::optional<std::string> code; // the program text given by -e or --code
    std::optional<std::string> profile; // --profile: the file the run's profile goes to
    // Why the command line cannot be followed, naming the option or argument at fault; empty
    // when it can.
    std::string error;
};

// Reads the arguments after the program name: options and exactly one program, a FILE ("-"
// for standard input) or -e CODE, unless --help or --version asks for no run. Options may
// stand anywhere until "--"; short ones combine ("-pl", "-pe CODE", "-eCODE"); long ones take
// their argument as "--code=CODE" or "--code CODE" (so do the dialect's options).
Options parseArguments(int argc, const char *const *argv);
