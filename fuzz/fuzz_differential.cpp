#include "enginehost.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Runs arbitrary program texts on the exact path and, when that ends within a command
// budget, on every other path (each back end, with and without a coarse idle hook, and under
// the debugger with a breakpoint somewhere, resumed until the end), and traps on any
// difference a host could see or in the debugger's count of commands. The first byte chooses
// data wrap, a break after some transfers, the coarse interval and whether the debugger's
// legs start one by one; the second where the program starts (its remainder by 9: at or next
// to either tape end, or at the start cell) and in which dialect (its quotient by 9); the
// rest is the source. The input's length by 5 chooses the passes of a "]" the threaded loop
// makes before machine code takes over (0: machine code at once).

namespace {

constexpr long CommandBudget = 50000;

// Bytes for the program's input: a different value for every read.
std::string inputBytes()
{
    std::string bytes;
    for (int i = 1; i <= 255; ++i)
        bytes.push_back(static_cast<char>(37 * i));
    return bytes;
}

// The moves that put the pointer 0, 1 or 2 cells from the low or the high end of dialect's
// tape, or none.
std::string placement(std::uint8_t choice, const tDialect &dialect)
{
    const int distance = choice % 3;
    switch (choice / 3 % 3) {
    case 0: return towardEnd(dialect, true, distance);
    case 1: return towardEnd(dialect, false, distance);
    default: return {};
    }
}

// A difference found: when it goes away with a transformation switched off, that
// transformation made it. Said before the trap, which ends the run.
[[noreturn]] void trap(Case test, Path path, std::int32_t interval, const Outcome &exact)
{
    struct Switch
    {
        void (*off)(Case &);
        const char *made;
    };
    static const Switch switches[] = {
        {[](Case &c) { c.settlesNests = false; }, "settling loops that hold loops"},
        {[](Case &c) { c.closesConstantRounds = false; },
            "solving loops whose rounds all do the same"},
        {[](Case &c) { c.testsOneEnd = false; }, "testing ranges at one end of the tape"},
        {[](Case &c) { c.movesUntested = false; }, "moving rounds without budget tests"},
        {[](Case &c) { c.coversClosedLoops = false; }, "tests that cover loops solved at once"},
        {[](Case &c) { c.handOverAfter = 0; }, "the threaded loop handing over to machine code"},
    };
    for (const Switch &each : switches) {
        Case without = test;
        each.off(without);
        if (differenceBetween(exact, run(without, path, interval)).empty())
            std::fprintf(stderr, "the difference comes from %s\n", each.made);
    }
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    static const std::string input = inputBytes();
    const std::uint8_t switches = data[0];
    Case test;
    test.dialect = dialectFor(data[1] / 9u);
    const std::string moves = placement(data[1], test.dialect);
    test.program = moves + std::string(reinterpret_cast<const char *>(data + 2), size - 2);
    test.input = input;
    test.dataWrap = (switches & 1) != 0;
    test.breakAfterTransfers = (switches >> 1) & 7;
    test.budget = CommandBudget + static_cast<long>(moves.size());
    test.handOverAfter = static_cast<std::int64_t>(size % 5); // 0: machine code at once
    const Outcome exact = run(test, Path::Exact);
    if (!exact.finished)
        return 0; // still running: the other paths would run on
    const std::int32_t interval = 1 << (4 + (switches >> 4));
    for (const Path path : {Path::Optimised, Path::Threaded}) {
        if (!differenceBetween(exact, run(test, path)).empty())
            trap(test, path, 1, exact);
    }
    for (const Path path : {Path::Coarse, Path::CoarseThreaded}) {
        if (!differenceBetween(exact, run(test, path, interval)).empty())
            trap(test, path, interval, exact);
    }
    test.exactFirst = switches >> 7 ? 0 : 64;
    if (exact.codeLength > 0)
        test.breakpoint = 1 +
            static_cast<std::int32_t>((switches * 7919u) % static_cast<unsigned>(exact.codeLength));
    for (const Path path : {Path::Debugged, Path::DebuggedThreaded}) {
        if (!differenceBetween(exact, run(test, path)).empty())
            __builtin_trap();
    }
    return 0;
}
