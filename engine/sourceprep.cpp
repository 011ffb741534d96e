#include "sourceprep.h"

#include "controltrim.h"

namespace {

// Calls keep(offset, part) with the part of every line of text (lines end at CR, LF or
// CR LF) that compiling keeps: trimmed of characters of code 32 or less at both ends, then
// cut at its first ";".
template<class Keep>
void forEachKeptPart(std::string_view text, Keep keep)
{
    const auto line = [&](std::size_t start, std::size_t end) {
        const std::string_view part = trimmedOfControls(text.substr(start, end - start));
        keep(static_cast<std::size_t>(part.data() - text.data()), part.substr(0, part.find(';')));
    };
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        line(start, i);
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        line(start, text.size());
}

} // namespace

std::string prepareSource(std::string_view text)
{
    std::string source;
    source.reserve(text.size());
    forEachKeptPart(text, [&](std::size_t, std::string_view part) { source.append(part); });
    return source;
}

SourceMap mapSource(std::string_view text)
{
    SourceMap map;
    forEachKeptPart(text, [&](std::size_t offset, std::string_view part) {
        for (std::size_t i = 0; i < part.size(); ++i) {
            switch (part[i]) {
            case '+':
            case '-':
            case '<':
            case '>':
            case '.':
            case ',':
            case '[':
            case ']': map.commands.push_back(offset + i); break;
            case '#': map.marks.push_back(offset + i); break;
            default: break;
            }
        }
    });
    return map;
}
