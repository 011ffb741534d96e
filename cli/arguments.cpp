#include "arguments.h"

std::optional<Options> parseArguments(int argc, const char *const *argv)
{
    Options options;
    bool haveFile = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument == "--no-data-wrap") {
            options.dataWrap = false;
        } else if (!optionsEnded && argument == "--plain") {
            options.plain = true;
        } else if (!optionsEnded && argument == "--listing") {
            options.listing = true;
        } else if (!optionsEnded && argument == "--help") {
            options.help = true;
        } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            return std::nullopt;
        } else if (!haveFile) {
            options.file = argument;
            haveFile = true;
        } else {
            return std::nullopt;
        }
    }
    if (!haveFile && !options.help)
        return std::nullopt;
    return options;
}
