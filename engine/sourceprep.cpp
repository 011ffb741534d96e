#include "sourceprep.h"

namespace {

bool isBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view trimmed(std::string_view line)
{
    while (!line.empty() && isBlankOrControl(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && isBlankOrControl(line.back()))
        line.remove_suffix(1);
    return line;
}

void appendLine(std::string &source, std::string_view line)
{
    line = trimmed(line);
    source.append(line.substr(0, line.find(';')));
}

} // namespace

std::string prepareSource(std::string_view text)
{
    std::string source;
    source.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        appendLine(source, text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        appendLine(source, text.substr(start));
    return source;
}
