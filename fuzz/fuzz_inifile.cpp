#include "inifile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Parses arbitrary bytes as an INI document and reads it with every getter. The first two
// lines of the input double as the section and key asked for, so that lookups hit.

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

std::string_view takeLine(std::string_view &rest)
{
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const TMemIniFile ini = TMemIniFile::fromBytes(bytes);

    std::string_view rest = bytes;
    const std::string_view section = takeLine(rest);
    const std::string_view key = takeLine(rest);

    const std::string value = ini.ReadString(section, key, "\x01");
    check(value.size() <= bytes.size() || value == "\x01");
    const std::int32_t zero = ini.ReadInteger(section, key, 0);
    const std::int32_t one = ini.ReadInteger(section, key, 1);
    check(zero == one || (zero == 0 && one == 1)); // only a failed parse gives the default
    check(ini.ReadBool(section, key, false) == (zero != 0));
    check(ini.ReadBool(section, key, true) == (one != 0));

    // A number parses the same every time; the parse itself never throws.
    check(parseIniInteger(rest) == parseIniInteger(rest));

    std::size_t total = 0;
    for (const std::string &line : ini.readSequence(section, key))
        total += line.size();
    check(total <= bytes.size());
    return 0;
}
