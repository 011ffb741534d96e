#include "configfolder.h"

#include <filesystem>

namespace fs = std::filesystem;

ConfigurationFolder findConfigurationFolder(const std::string &executableFolder)
{
    ConfigurationFolder folder;
    const fs::path own(executableFolder);
    for (const fs::path &place : {own, (own / "../share/cerebrix/").lexically_normal()}) {
        std::string path = place.string();
        if (path.empty() || path.back() != '/')
            path += '/';
        folder.looked.push_back(path);
        std::error_code error;
        if (fs::exists(place / "BF.ini", error) || fs::is_directory(place / "lang", error)) {
            folder.path = path;
            folder.found = true;
            return folder;
        }
    }
    folder.path = folder.looked.front();
    return folder;
}
