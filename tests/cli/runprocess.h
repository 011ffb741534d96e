#pragma once

#include <string>
#include <vector>

struct ProcessResult
{
    int exitStatus = -1;
    std::string out;
    std::string err;
};

// Runs the program with arguments through /bin/sh, feeding stdinBytes (or the file
// stdinFile when given) and capturing both output streams.
ProcessResult runProcess(const std::vector<std::string> &arguments, const std::string &stdinBytes,
    const std::string &stdinFile = {});
