#include "runprocess.h"

#include "corpus.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string quoted(const std::string &text)
{
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

} // namespace

ProcessResult runProcess(const std::vector<std::string> &arguments, const std::string &stdinBytes,
    const std::string &stdinFile)
{
    const auto folder =
        std::filesystem::temp_directory_path() / ("cerebrix-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string in = stdinFile.empty() ? (folder / "in").string() : stdinFile;
    const std::string out = (folder / "out").string();
    const std::string err = (folder / "err").string();
    if (stdinFile.empty())
        std::ofstream(in, std::ios::binary) << stdinBytes;

    std::string command;
    for (const std::string &argument : arguments)
        command += quoted(argument) + " ";
    command += "<" + quoted(in) + " >" + quoted(out) + " 2>" + quoted(err);
    const int status = std::system(command.c_str());

    ProcessResult result;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(out).value_or("");
    result.err = readFile(err).value_or("");
    std::filesystem::remove_all(folder);
    return result;
}
