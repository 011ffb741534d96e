#pragma once

#include <string>
#include <vector>

// Where the programs find their configuration (BF.ini and lang/): in the executable's own
// folder, as in a build folder, or else in ../share/cerebrix beside it, where a package
// installs it (so an unpacked package works wherever it is unpacked).
struct ConfigurationFolder
{
    // The first place holding BF.ini or a lang folder, ending with '/'; the executable's
    // folder when none does (every file then gives its defaults).
    std::string path;
    bool found = false;
    std::vector<std::string> looked; // the places looked in, in order
};

// executableFolder ends with '/'.
ConfigurationFolder findConfigurationFolder(const std::string &executableFolder);
