#include "sourceprep.h"

namespace {

bool isBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

void appendLine(std::string &source, std::string_view line)
{
    line = trimmedOfControls(line);
    source.append(line.substr(0, line.find(';')));
}

} // namespace

std::string_view trimmedOfControls(std::string_view text)
{
    while (!text.empty() && isBlankOrControl(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlankOrControl(text.back()))
        text.remove_suffix(1);
    return text;
}

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
