#include "codepage.h"

#include "inifile.h"
#include "messages.h"
#include "usererror.h"

#include <array>

namespace {

// Qt reaches this code page only through ICU, which is optional in Qt builds and turns the
// unassigned bytes into U+FFFD; 0x80-0x9F are the only positions that differ from Latin-1,
// so a 32-entry table keeps every byte round-tripping on every build.
constexpr std::array<char16_t, 32> upperControls = {
    0x20AC,
    0x0081,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0x008D,
    0x017D,
    0x008F,
    0x0090,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0x009D,
    0x017E,
    0x0178,
};

} // namespace

QChar charFromCp1252(std::uint8_t b)
{
    if (b >= 0x80 && b < 0xA0)
        return QChar(upperControls[b - 0x80]);
    return QChar(char16_t(b));
}

bool charToCp1252(QChar c, std::uint8_t *byte)
{
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
        *byte = std::uint8_t(u);
        return true;
    }
    for (std::size_t i = 0; i < upperControls.size(); ++i) {
        if (upperControls[i] == u) {
            *byte = std::uint8_t(0x80 + i);
            return true;
        }
    }
    return false;
}

QString fromCp1252(std::string_view bytes)
{
    QString text(qsizetype(bytes.size()), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char b : bytes)
        *out++ = charFromCp1252(std::uint8_t(b));
    return text;
}

std::string toCp1252(const QString &text)
{
    std::string bytes;
    bytes.reserve(std::size_t(text.size()));
    for (const QChar c : text) {
        std::uint8_t b = '?';
        charToCp1252(c, &b);
        bytes.push_back(char(b));
    }
    return bytes;
}

bool fitsCp1252(const QString &text)
{
    std::uint8_t b = 0;
    for (const QChar c : text) {
        if (!charToCp1252(c, &b))
            return false;
    }
    return true;
}

std::int32_t convertToInteger(const QString &text, const MessageTexts &messages)
{
    const std::string bytes = toCp1252(text);
    // The INI reader's number rules are the typed-number rules but for one prefix: typed
    // hexadecimal starts with $, x, X or 0x, never 0X.
    const std::size_t start = bytes.find_first_not_of(" \t");
    const std::size_t digits =
        start == std::string::npos ? start : bytes.find_first_not_of("+-", start);
    const bool upperPrefix = digits != std::string::npos && bytes.compare(digits, 2, "0X") == 0;
    const std::optional<std::int32_t> number = parseIniInteger(bytes);
    if (number && !upperPrefix)
        return *number;
    throw UserError(messageBytes(messages.notAnInteger, {text}));
}
