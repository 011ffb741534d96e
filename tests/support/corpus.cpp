#include "corpus.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

std::optional<std::string> readFile(const std::string &path)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

std::vector<std::string> quickSubset(const std::string &corpus)
{
    std::istringstream manifest(readFile(corpus + "/MANIFEST.md").value_or(""));
    std::vector<std::string> names;
    for (std::string line; std::getline(manifest, line);) {
        if (line.rfind("Quick subset", 0) != 0)
            continue;
        std::string list = line.substr(line.find(':') + 1);
        std::replace(list.begin(), list.end(), ',', ' ');
        std::istringstream words(list);
        for (std::string word; words >> word;) {
            word.erase(word.find_last_not_of(".\r") + 1); // the list ends with a full stop
            if (!word.empty())
                names.push_back(word);
        }
    }
    return names;
}

std::optional<long long> manifestCommands(const std::string &corpus, const std::string &name)
{
    const std::optional<std::string> manifest = readFile(corpus + "/MANIFEST.md");
    if (!manifest)
        return std::nullopt;
    std::istringstream lines(*manifest);
    const std::string start = "| " + name + ".b |";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(start, 0) != 0)
            continue;
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, '|');)
            cells.push_back(cell);
        if (cells.size() < 6)
            return std::nullopt;
        std::string digits;
        std::copy_if(cells[5].begin(), cells[5].end(), std::back_inserter(digits),
            [](char c) { return c >= '0' && c <= '9'; });
        if (!digits.empty())
            return std::stoll(digits);
    }
    return std::nullopt;
}
