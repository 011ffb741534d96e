// Measures the INI reader on large documents: parsing, lookups, and a long numbered sequence.
#include "inifile.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace {

double secondsOf(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// sections x keys entries of about 30 bytes each, CR LF line breaks; with repeated, every
// section has the same name, so only the last one counts.
std::string document(int sections, int keys, bool repeated = false)
{
    std::string bytes;
    for (int s = 1; s <= sections; ++s) {
        bytes += "[Example" + std::to_string(repeated ? 1 : s) + "]\r\n";
        for (int k = 1; k <= keys; ++k)
            bytes += "Line" + std::to_string(k) + "=+++[->++<]>. ; comment\r\n";
    }
    return bytes;
}

} // namespace

int main()
{
    // Memory and time grow with the distinct sections, not with repeated headers.
    for (const int sections : {1000000, 5000000}) {
        const std::string bytes = document(sections, 2, true);
        TMemIniFile ini;
        const double parse = secondsOf([&] { ini = TMemIniFile::fromBytes(bytes); });
        std::printf("%7d sections of one name (%5.1f MB): parse %.2f s, %zu headers\n", sections,
            double(bytes.size()) / 1e6, parse, ini.sectionCount());
    }
    for (const auto &[sections, keys] :
        {std::pair {1000000, 1}, std::pair {1000, 1000}, std::pair {1, 1000000}}) {
        const std::string bytes = document(sections, keys);
        TMemIniFile ini;
        const double parse = secondsOf([&] { ini = TMemIniFile::fromBytes(bytes); });
        std::size_t found = 0;
        const double lookups = secondsOf([&] {
            for (int i = 1; i <= 1000000; ++i) {
                const int s = 1 + i % sections;
                const int k = 1 + i % keys;
                found +=
                    !ini.ReadString("example" + std::to_string(s), "LINE" + std::to_string(k), {})
                         .empty();
            }
        });
        std::size_t lines = 0;
        const double sequence =
            secondsOf([&] { lines = ini.readSequence("Example1", "Line").size(); });
        std::printf(
            "%7d sections x %7d keys (%5.1f MB): parse %.2f s, 1e6 lookups %.2f s (%zu hits), "
            "sequence of %zu lines %.2f s\n",
            sections, keys, double(bytes.size()) / 1e6, parse, lookups, found, lines, sequence);
    }
}
