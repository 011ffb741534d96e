#include "u_Brainfuck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Record kinds besides the command characters themselves.
constexpr std::uint8_t KindClearLoop = 1;
constexpr std::uint8_t KindSimpleTransfer = 2;
constexpr std::uint8_t KindScaledTransfer = 3;
constexpr std::uint8_t KindAbsorbed = 255;
// The longest indentation a line gets: 1 + 2 x 127 open loops.
constexpr std::size_t MaxIndentation = 255;

struct OpRecord
{
    std::uint8_t kind = 0;
    std::int32_t value = 0; // run length, or the signed target offset of a transfer
    std::int32_t factor = 0; // transfer: body run length, negative when it subtracts
    std::int32_t divisor = 0; // transfer: length of the run that counts the loop cell down
};

// A loop shape that moves its cell's value into another cell. The runs are given as
// distances from the opening bracket.
struct TransferPattern
{
    const char *shape;
    int number; // the shape's fixed name, independent of the search order
    int decrementRun;
    int moveOutRun;
    int bodyRun;
    int moveBackRun;
};

// Searched in this order; occurrences cannot overlap, but the order keeps the result fixed.
constexpr TransferPattern transferPatterns[] = {
    {"[-<+>]", 1, 1, 2, 3, 4},
    {"[->+<]", 4, 1, 2, 3, 4},
    {"[->-<]", 5, 1, 2, 3, 4},
    {"[-<->]", 6, 1, 2, 3, 4},
    {"[<+>-]", 2, 4, 1, 2, 3},
    {"[>+<-]", 3, 4, 1, 2, 3},
    {"[<->-]", 7, 4, 1, 2, 3},
    {"[>-<-]", 8, 4, 1, 2, 3},
};

constexpr std::size_t PatternLength = 6;

bool isRunCommand(char c)
{
    switch (c) {
    case '+':
    case '-':
    case '>':
    case '<':
    case '.':
    case ',': return true;
    default: return false;
    }
}

// Pass 1: runs of equal commands, single brackets and "[-]" become one record each.
std::vector<OpRecord> groupCommands(const char *code, std::int32_t length)
{
    // One record per command is the most there can be, so the array never grows.
    std::vector<OpRecord> records(static_cast<std::size_t>(length));
    std::size_t count = 0;
    std::int32_t p = 1;
    while (p <= length) {
        OpRecord &record = records[count++];
        const char command = code[p];
        record.kind = static_cast<std::uint8_t>(command);
        if (isRunCommand(command)) {
            std::int32_t end = p + 1;
            while (end <= length && code[end] == command)
                ++end;
            record.value = end - p;
            p = end;
        } else if (command == '[' && p + 2 <= length && code[p + 1] == '-' && code[p + 2] == ']') {
            record.kind = KindClearLoop;
            p += 3;
        } else {
            ++p;
        }
    }
    records.resize(count);
    return records;
}

void foldTransfer(std::vector<OpRecord> &records, std::size_t s, const TransferPattern &pattern)
{
    const OpRecord &moveOut = records[s + static_cast<std::size_t>(pattern.moveOutRun)];
    const OpRecord &moveBack = records[s + static_cast<std::size_t>(pattern.moveBackRun)];
    if (moveOut.value != moveBack.value)
        return; // the loop drifts, so it is listed as written
    const OpRecord &body = records[s + static_cast<std::size_t>(pattern.bodyRun)];
    const OpRecord &decrement = records[s + static_cast<std::size_t>(pattern.decrementRun)];
    OpRecord &transfer = records[s];
    transfer.value = moveOut.kind == '<' ? -moveOut.value : moveOut.value;
    transfer.factor = body.kind == '-' ? -body.value : body.value;
    transfer.divisor = decrement.value;
    transfer.kind =
        transfer.factor == 1 && transfer.divisor == 1 ? KindSimpleTransfer : KindScaledTransfer;
    for (std::size_t i = 1; i < PatternLength; ++i)
        records[s + i].kind = KindAbsorbed;
}

// Pass 2: the shapes are matched against the kinds as pass 1 left them.
void foldTransfers(std::vector<OpRecord> &records)
{
    std::string kinds(records.size(), '\0');
    std::transform(records.begin(), records.end(), kinds.begin(),
        [](const OpRecord &record) { return static_cast<char>(record.kind); });
    for (const TransferPattern &pattern : transferPatterns) {
        for (std::size_t s = kinds.find(pattern.shape); s != std::string::npos;
             s = kinds.find(pattern.shape, s + 1))
            foldTransfer(records, s, pattern);
    }
}

void appendRun(std::string &line, const std::string &word, std::int32_t length, bool alwaysCount,
    const char *countPrefix)
{
    line += word;
    if (alwaysCount || length > 1) {
        line += countPrefix;
        line += std::to_string(length);
    }
}

void appendLineText(std::string &line, const OpRecord &record, const MnemonicTable &words)
{
    switch (record.kind) {
    case '+': appendRun(line, words[1], record.value, false, ""); break;
    case '-': appendRun(line, words[2], record.value, false, ""); break;
    case '>': appendRun(line, words[3], record.value, true, ""); break;
    case '<': appendRun(line, words[4], record.value, true, ""); break;
    case '.': appendRun(line, words[5], record.value, false, "*"); break;
    case ',': appendRun(line, words[6], record.value, false, "*"); break;
    case '[': line += words[7]; break;
    case ']': line += words[8]; break;
    case KindClearLoop: line += words[9]; break;
    case KindSimpleTransfer:
        line += words[10];
        line += std::to_string(record.value);
        break;
    case KindScaledTransfer:
        line += words[11];
        line += '*';
        line += std::to_string(record.factor);
        if (record.divisor != 1) {
            line += '/';
            line += std::to_string(record.divisor);
        }
        line += ' ';
        line += words[12];
        if (record.value > 0)
            line += '+';
        line += std::to_string(record.value);
        break;
    default: break;
    }
}

} // namespace

std::string tBF::Disassemble() const
{
    return *disassembleWithin(std::string::npos);
}

std::optional<std::string> tBF::disassembleWithin(std::size_t limit) const
{
    std::string listing;
    const bool complete = writeListing([&](std::string_view line) {
        listing += line;
        return listing.size() <= limit;
    });
    if (!complete)
        return std::nullopt;
    return listing;
}

bool tBF::writeListing(const std::function<bool(std::string_view line)> &consume) const
{
    // Bounded by the array as well, so a length field out of step with it reads nothing stray.
    const std::int32_t length =
        m_code.empty() ? 0 : std::min(m_codeLength, static_cast<std::int32_t>(m_code.size()) - 1);
    std::vector<OpRecord> records = groupCommands(m_code.data(), length);
    foldTransfers(records);

    std::string line;
    std::size_t depth = 0;
    for (const OpRecord &record : records) {
        if (record.kind == KindAbsorbed)
            continue;
        // A "]" that closes no "[" keeps the outermost level rather than going below it.
        if (record.kind == ']' && depth > 0)
            --depth;
        // The indentation is a text of at most 255 characters: deeper lines stand at the
        // deepest indentation it holds, so a line never outgrows a few hundred bytes.
        line.assign(std::min<std::size_t>(1 + 2 * depth, MaxIndentation), ' ');
        appendLineText(line, record, m_mnemonics);
        line += "\r\n";
        if (!consume(line))
            return false;
        if (record.kind == '[')
            ++depth;
    }
    return true;
}
