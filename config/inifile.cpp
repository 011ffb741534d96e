#include "inifile.h"

#include "controltrim.h"
#include "hexdigit.h"
#include "messagetexts.h"
#include "usererror.h"

#include <filesystem>
#include <fstream>

// Hand-written rather than taken from an INI library: the reading rules here (first "=",
// last section of a name wins, quote doubling, the exact number grammar) differ from every
// library's in small ways that change what a configuration means.

namespace {

// Only ASCII letters fold: the files are single-byte text of no fixed code page.
std::string fold(std::string_view text)
{
    std::string folded(text);
    for (char &c : folded) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

std::string removeQuotes(const std::string &value)
{
    if (value.size() < 2)
        return value;
    const char quote = value.front();
    if ((quote != '"' && quote != '\'') || value.back() != quote)
        return value;
    std::string inner;
    inner.reserve(value.size() - 2);
    for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        inner += value[i];
        if (value[i] == quote && i + 2 < value.size() && value[i + 1] == quote)
            ++i; // a doubled quote stands for one
    }
    return inner;
}

// Far beyond any configuration; a larger file is refused rather than read into memory.
constexpr std::uintmax_t MaxFileSize = 256u << 20;

std::string cannotOpenText(const std::string &path)
{
    return builtInMessage(MessageTexts().iniCannotOpen, {path});
}

std::string tooLargeText(const std::string &path)
{
    return builtInMessage(MessageTexts().iniTooLarge, {path, std::to_string(MaxFileSize)});
}

std::string readWholeFile(const std::string &path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return {};
    // Only a regular file is read: a device never ends and opening a pipe blocks.
    if (error || !std::filesystem::is_regular_file(status))
        throw UserError(cannotOpenText(path));
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > MaxFileSize)
        throw UserError(tooLargeText(path));
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw UserError(cannotOpenText(path));
    std::string bytes;
    char chunk[1 << 16];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        bytes.append(chunk, static_cast<std::size_t>(file.gcount()));
        if (bytes.size() > MaxFileSize) // the file grew while it was read
            throw UserError(tooLargeText(path));
    }
    if (file.bad())
        throw UserError(cannotOpenText(path));
    return bytes;
}

} // namespace

std::optional<std::int32_t> parseIniInteger(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i == text.size())
        return std::nullopt;

    bool isHex = false;
    if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
        isHex = true;
        i += 1;
    } else if (text[i] == '0' && i + 1 < text.size() &&
        (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        isHex = true;
        i += 2;
    }
    if (isHex) {
        std::uint64_t value = 0;
        std::size_t digits = 0;
        for (; i < text.size() && hexDigitValue(text[i]) >= 0; ++i, ++digits) {
            if (value <= 0xFFFFFFFFu) // past it the value only needs to stay too large
                value = value * 16 + static_cast<std::uint64_t>(hexDigitValue(text[i]));
        }
        if (digits == 0 || i != text.size() || value > 0xFFFFFFFFu)
            return std::nullopt;
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }

    bool isNegative = false;
    if (text[i] == '+' || text[i] == '-') {
        isNegative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t Limit = 2147483648; // magnitude of the smallest int32
    std::int64_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        if (value <= Limit)
            value = value * 10 + (text[i] - '0');
    }
    if (digits == 0 || i != text.size())
        return std::nullopt;
    if (isNegative ? value > Limit : value >= Limit)
        return std::nullopt;
    return static_cast<std::int32_t>(isNegative ? -value : value);
}

TMemIniFile TMemIniFile::fromBytes(std::string_view bytes)
{
    TMemIniFile document;
    document.parse(bytes);
    return document;
}

TMemIniFile::TMemIniFile(const std::string &path)
{
    parse(readWholeFile(path));
}

void TMemIniFile::parse(std::string_view bytes)
{
    // A byte 0 is read as any other byte of its line. Ending the text there made a stray one
    // (in a comment, say) silently drop every setting after it.
    Section *section = nullptr;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = bytes.size();
        const std::string_view line = trimmedOfControls(bytes.substr(start, end - start));
        start = end + 1;
        if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n')
            start = end + 2;

        if (line.empty() || line.front() == ';')
            continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = &m_sections[fold(trimmedOfControls(line.substr(1, line.size() - 2)))];
            section->clear(); // the last section of a name is the one that counts
            ++m_sectionCount;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!section || equals == std::string_view::npos)
            continue;
        (*section)[fold(trimmedOfControls(line.substr(0, equals)))] =
            std::string(trimmedOfControls(line.substr(equals + 1)));
    }
}

std::vector<std::string> TMemIniFile::sectionNames() const
{
    std::vector<std::string> names;
    names.reserve(m_sections.size());
    for (const auto &[name, values] : m_sections)
        names.push_back(name);
    return names;
}

const std::string *TMemIniFile::findValue(std::string_view section, std::string_view key) const
{
    const auto sectionAt = m_sections.find(fold(section));
    if (sectionAt == m_sections.end())
        return nullptr;
    const auto valueAt = sectionAt->second.find(fold(key));
    return valueAt == sectionAt->second.end() ? nullptr : &valueAt->second;
}

std::string TMemIniFile::ReadString(
    std::string_view section, std::string_view key, const std::string &defaultValue) const
{
    const std::string *value = findValue(section, key);
    return value ? removeQuotes(*value) : defaultValue;
}

std::int32_t TMemIniFile::ReadInteger(
    std::string_view section, std::string_view key, std::int32_t defaultValue) const
{
    return parseIniInteger(ReadString(section, key, {})).value_or(defaultValue);
}

bool TMemIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

std::vector<std::string> TMemIniFile::readSequence(
    std::string_view section, std::string_view prefix, std::size_t most) const
{
    std::vector<std::string> values;
    for (std::size_t k = 1; k <= most; ++k) {
        std::string value = ReadString(section, std::string(prefix) + std::to_string(k), {});
        if (value.empty())
            return values;
        values.push_back(std::move(value));
    }
    return values;
}
