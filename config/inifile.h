#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// An INI document held in memory, read once and never written. Section and key names match
// without regard to the case of the ASCII letters; bytes above 127 match only themselves.
class TMemIniFile
{
public:
    // An empty document: every read gives its default.
    TMemIniFile() = default;
    // Parses bytes as single-byte text; a byte 0 is a byte like any other.
    static TMemIniFile fromBytes(std::string_view bytes);
    // Reads the file at path. A path naming no file gives an empty document; a path that exists
    // but is no regular file (a folder, a device, a pipe) or cannot be read throws UserError
    // naming the path, and so does a file of more than 256 MiB.
    explicit TMemIniFile(const std::string &path);

    // The value of key in the last section named section; of several equal keys the last
    // counts. A present empty value is returned as it is; a value wrapped in a pair of equal
    // quotes (" or ') loses them, and each doubled quote inside becomes one.
    std::string ReadString(
        std::string_view section, std::string_view key, const std::string &defaultValue) const;
    // The value as a signed 32-bit number: optional blanks, then a signed decimal in range or
    // a hexadecimal introduced by $, x, X, 0x or 0X of at most FFFFFFFF (80000000 and above
    // read as negative), nothing after it. Anything else gives defaultValue.
    std::int32_t ReadInteger(
        std::string_view section, std::string_view key, std::int32_t defaultValue) const;
    // Whether ReadInteger (with 1 or 0 for the default) is not 0; words give the default.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    // The values of prefix1, prefix2, ... up to the first empty or missing one, at most most.
    std::vector<std::string> readSequence(std::string_view section, std::string_view prefix,
        std::size_t most = std::size_t(-1)) const;

    // Number of section headers in the document, repeated names counted each time.
    std::size_t sectionCount() const { return m_sectionCount; }
    // The names of the sections, each once, with ASCII letters in lower case; in no order.
    std::vector<std::string> sectionNames() const;

private:
    void parse(std::string_view bytes);
    const std::string *findValue(std::string_view section, std::string_view key) const;

    // Every header opens a new section; a later section of the same name hides the earlier
    // one entirely, so a repeated header simply empties that name's values. Keys are held
    // folded, the last of equal keys replacing the earlier. Bare lines never match a key and
    // are not kept. Memory grows with the distinct names, not with the headers.
    using Section = std::unordered_map<std::string, std::string>;
    std::size_t m_sectionCount = 0;
    std::unordered_map<std::string, Section> m_sections;
};

// The number that ReadInteger finds in text; nothing when text holds no such number.
std::optional<std::int32_t> parseIniInteger(std::string_view text);
