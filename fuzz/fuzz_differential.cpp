#include "debugger.h"
#include "u_Brainfuck.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Runs arbitrary program texts on the exact path and, when that ends within a command
// budget, on the optimised path, with a coarse idle hook and under the debugger (a breakpoint
// somewhere, resumed until the end), and traps on any difference a host could see or in the
// debugger's count of commands. The first byte chooses data wrap, a break after some transfers and
// the coarse interval; the second where the program starts: at or next to either tape end, or in
// the middle of the tape; the rest is the source.

namespace {

constexpr long CommandBudget = 50000;

struct Outcome
{
    int result = 0;
    std::string output;
    int inputCalls = 0;
    long commands = 0;
    std::int32_t codeLength = 0;
    std::int32_t dataPointer = 0;
    std::int32_t instructionPointer = 0;
    tDataArr tape;
};

struct Host
{
    tBF *engine = nullptr;
    Outcome *outcome = nullptr;
    int breakAfterTransfers = 0;
    int transfers = 0;
    long budget = 0; // exact path: idle calls before it stops; 0: no limit

    void countTransfer()
    {
        if (++transfers == breakAfterTransfers)
            engine->m_breakFlag = true;
    }
};

void output(void *context, std::uint8_t byte)
{
    auto *host = static_cast<Host *>(context);
    host->outcome->output.push_back(static_cast<char>(byte));
    host->countTransfer();
}

std::uint8_t input(void *context)
{
    auto *host = static_cast<Host *>(context);
    host->countTransfer();
    return static_cast<std::uint8_t>(37 * ++host->outcome->inputCalls);
}

void idle(void *context)
{
    auto *host = static_cast<Host *>(context);
    if (++host->outcome->commands > host->budget && host->budget > 0)
        host->engine->m_breakFlag = true;
}

// Optimised and Coarse take the fastest back end, the Threaded ones force the threaded loop.
enum class Path { Exact, Optimised, Threaded, Coarse, CoarseThreaded, Debugged };

Outcome run(std::string_view source, std::uint8_t switches, Path path, std::size_t moves = 0)
{
    tBF engine;
    Outcome outcome;
    const long budget = path == Path::Exact ? CommandBudget + static_cast<long>(moves) : 0;
    Host host {&engine, &outcome, (switches >> 1) & 7, 0, budget};
    engine.LoadCode(source);
    engine.MatchBrackets();
    engine.m_dataWrap = (switches & 1) != 0;
    engine.m_outputHook = {output, &host};
    engine.m_inputHook = {input, &host};
    const bool coarse = path == Path::Coarse || path == Path::CoarseThreaded;
    if (path == Path::Threaded || path == Path::CoarseThreaded)
        engine.m_path = tEnginePath::Threaded;
    if (path == Path::Exact || coarse)
        engine.m_idleHook = {idle, &host};
    if (coarse)
        engine.m_idleInterval = 1 << (4 + (switches >> 4));
    if (path == Path::Debugged) {
        tDebugger debugger(engine);
        debugger.hostOutput = engine.m_outputHook;
        debugger.hostInput = engine.m_inputHook;
        debugger.exactFirst = switches >> 7 ? 0 : 64;
        debugger.start();
        if (engine.m_codeLength > 0)
            debugger.setBreakpoint(1 +
                    static_cast<std::int32_t>(
                        (switches * 7919u) % static_cast<unsigned>(engine.m_codeLength)),
                true);
        outcome.result = debugger.runToEnd();
        outcome.commands = static_cast<long>(debugger.commands());
    } else {
        outcome.result = engine.Run();
    }
    outcome.codeLength = engine.m_codeLength;
    outcome.dataPointer = engine.m_dataPointer;
    outcome.instructionPointer = engine.m_instructionPointer;
    outcome.tape = engine.m_data;
    return outcome;
}

void checkSame(const Outcome &exact, const Outcome &other)
{
    if (exact.result != other.result || exact.output != other.output ||
        exact.inputCalls != other.inputCalls || exact.dataPointer != other.dataPointer ||
        exact.instructionPointer != other.instructionPointer || exact.tape != other.tape)
        __builtin_trap();
}

// The moves that put the pointer 0, 1 or 2 cells from the low or the high end of the tape,
// or none.
std::string placement(std::uint8_t choice)
{
    const int distance = choice % 3;
    switch (choice / 3 % 3) {
    case 0: return std::string(static_cast<std::size_t>(32767 - distance), '<');
    case 1: return std::string(static_cast<std::size_t>(32768 - distance), '>');
    default: return {};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t switches = data[0];
    const std::string moves = placement(data[1]);
    const std::string source =
        moves + std::string(reinterpret_cast<const char *>(data + 2), size - 2);
    const Outcome exact = run(source, switches, Path::Exact, moves.size());
    if (exact.commands > CommandBudget + static_cast<long>(moves.size()))
        return 0; // still running: the other paths would run on
    for (const Path path : {Path::Optimised, Path::Threaded, Path::Coarse, Path::CoarseThreaded})
        checkSame(exact, run(source, switches, path));
    const Outcome debugged = run(source, switches, Path::Debugged);
    checkSame(exact, debugged);
    // The exact path's idle hook also ran before the command it stopped at, if any.
    if (exact.commands - (exact.instructionPointer <= exact.codeLength ? 1 : 0) !=
        debugged.commands)
        __builtin_trap();
    return 0;
}
