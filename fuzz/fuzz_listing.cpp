#include "u_Brainfuck.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Compiles, lists and briefly runs arbitrary bytes. The first byte chooses the engine's
// switches, the rest is the source.

namespace {

// Long enough for loops to go round thousands of times, short enough to keep the fuzzer quick.
constexpr int IdleCallLimit = 10000;

struct IdleBudget
{
    tBF *engine;
    int calls = 0;
};

void stopAfterBudget(void *context)
{
    auto *budget = static_cast<IdleBudget *>(context);
    if (++budget->calls >= IdleCallLimit)
        budget->engine->m_breakFlag = true;
}

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void checkJumps(const tBF &engine)
{
    for (std::int32_t p = 1; p <= engine.m_codeLength; ++p) {
        const std::int32_t partner = engine.m_jumps[static_cast<std::size_t>(p)];
        if (partner == 0)
            continue;
        check(partner >= 1 && partner <= engine.m_codeLength);
        check(engine.m_jumps[static_cast<std::size_t>(partner)] == p);
    }
}

void checkListing(const tBF &engine, const std::string &listing)
{
    check(listing.empty() == (engine.m_codeLength == 0));
    std::size_t lines = 0;
    for (std::size_t start = 0; start < listing.size(); ++lines) {
        const std::size_t end = listing.find("\r\n", start);
        check(end != std::string::npos); // every line, the last one included, ends in CR LF
        check(listing[start] == ' '); // never less than the outermost indentation
        // At most 255 spaces of indentation, however deep the nesting, and a short text.
        check(end - start <= 255 + 64);
        start = end + 2;
    }
    check(lines <= static_cast<std::size_t>(engine.m_codeLength));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t switches = data[0];
    const std::string_view source(reinterpret_cast<const char *>(data + 1), size - 1);

    tBF engine;
    engine.m_mnemonics = {"", "add", "sub", "right", "left", "out", "in", "loop", "end", "clear",
        "move", "mul", "to"};
    engine.LoadCode(source);
    const int matched = engine.MatchBrackets();
    check(matched == ResultOk || matched == ResultTooManyClosing || matched == ResultTooFewClosing);
    checkJumps(engine);
    checkListing(engine, engine.Disassemble());

    IdleBudget budget {&engine};
    engine.m_idleHook = {stopAfterBudget, &budget};
    engine.m_dataWrap = (switches & 1) != 0;
    engine.m_valueWrap = (switches & 2) != 0;
    engine.m_idleInterval = 1 + (switches >> 4);
    const int ran = engine.Run();
    check(ran == ResultOk || ran == ResultAboveDataArea || ran == ResultBelowDataArea);
    engine.FreeData();
    return 0;
}
