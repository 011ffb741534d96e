#include "textsearch.h"

#include "codepage.h"
#include "sourceprep.h"

#include <algorithm>
#include <string>

namespace {

// The commands compiling keeps of a text, and where each stands in it.
struct Commands
{
    std::string commands;
    std::vector<std::size_t> offsets;
};

Commands commandsOf(const QString &text)
{
    const std::string bytes = toCp1252(text); // one byte per character: offsets carry over
    Commands result {{}, mapSource(bytes).commands};
    result.commands.reserve(result.offsets.size());
    for (const std::size_t offset : result.offsets)
        result.commands.push_back(bytes[offset]);
    return result;
}

TextMatch commandMatch(const Commands &text, std::size_t first, std::size_t count)
{
    TextMatch match;
    for (std::size_t i = first; i < first + count; ++i)
        match.commands.push_back(int(text.offsets[i]));
    match.start = match.commands.front();
    match.end = match.commands.back() + 1;
    return match;
}

TextMatch plainMatch(qsizetype start, const QString &pattern)
{
    TextMatch match;
    match.start = int(start);
    match.end = int(start + pattern.size());
    return match;
}

Qt::CaseSensitivity sensitivity(SearchOptions options)
{
    return options.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

// The index of the first command at or after offset.
std::size_t commandIndexAt(const Commands &text, int offset)
{
    return std::size_t(std::lower_bound(text.offsets.begin(), text.offsets.end(),
                           std::size_t(std::max(offset, 0))) -
        text.offsets.begin());
}

TextMatch nextCommandMatch(
    const QString &text, const QString &pattern, int from, bool backward, bool *wrapped)
{
    const std::string wanted = commandsOf(pattern).commands;
    const Commands commands = commandsOf(text);
    if (wanted.empty())
        return {};
    const std::size_t at = commandIndexAt(commands, from);
    std::size_t found = std::string::npos;
    if (!backward)
        found = commands.commands.find(wanted, at);
    else if (at >= wanted.size())
        found = commands.commands.rfind(wanted, at - wanted.size());
    if (found == std::string::npos) {
        found = backward ? commands.commands.rfind(wanted) : commands.commands.find(wanted);
        if (found != std::string::npos && wrapped)
            *wrapped = true;
    }
    return found == std::string::npos ? TextMatch() : commandMatch(commands, found, wanted.size());
}

} // namespace

bool holdsCommand(const QString &pattern)
{
    return !mapSource(toCp1252(pattern)).commands.empty();
}

std::vector<TextMatch> findAll(const QString &text, const QString &pattern, SearchOptions options)
{
    std::vector<TextMatch> matches;
    if (options.commandsOnly) {
        const std::string wanted = commandsOf(pattern).commands;
        if (wanted.empty())
            return matches;
        const Commands commands = commandsOf(text);
        for (std::size_t at = commands.commands.find(wanted); at != std::string::npos;
             at = commands.commands.find(wanted, at + wanted.size()))
            matches.push_back(commandMatch(commands, at, wanted.size()));
        return matches;
    }
    if (pattern.isEmpty())
        return matches;
    for (qsizetype at = text.indexOf(pattern, 0, sensitivity(options)); at >= 0;
         at = text.indexOf(pattern, at + pattern.size(), sensitivity(options)))
        matches.push_back(plainMatch(at, pattern));
    return matches;
}

TextMatch findNext(const QString &text, const QString &pattern, int from, bool backward,
    SearchOptions options, bool *wrapped)
{
    if (wrapped)
        *wrapped = false;
    if (options.commandsOnly)
        return nextCommandMatch(text, pattern, from, backward, wrapped);
    if (pattern.isEmpty())
        return {};
    const Qt::CaseSensitivity cs = sensitivity(options);
    qsizetype found = -1;
    if (!backward)
        found = text.indexOf(pattern, std::max(from, 0), cs);
    else if (from - pattern.size() >= 0)
        found = text.lastIndexOf(pattern, from - pattern.size(), cs);
    if (found < 0) {
        found = backward ? text.lastIndexOf(pattern, -1, cs) : text.indexOf(pattern, 0, cs);
        if (found >= 0 && wrapped)
            *wrapped = true;
    }
    return found < 0 ? TextMatch() : plainMatch(found, pattern);
}
