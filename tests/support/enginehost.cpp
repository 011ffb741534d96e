#include "enginehost.h"

#include "debugger.h"

#include <algorithm>
#include <iterator>
#include <sstream>

namespace {

struct Host
{
    tBF *engine = nullptr;
    const Case *test = nullptr;
    Outcome *outcome = nullptr;
    std::size_t inputPosition = 0;
    int transfers = 0;
    int matches = 0;

    void countTransfer()
    {
        if (++transfers == test->breakAfterTransfers)
            engine->m_breakFlag = true;
    }
    static void output(void *context, std::uint8_t byte)
    {
        auto *host = static_cast<Host *>(context);
        host->outcome->output.push_back(static_cast<char>(byte));
        host->countTransfer();
    }
    static std::uint8_t input(void *context)
    {
        auto *host = static_cast<Host *>(context);
        ++host->outcome->inputCalls;
        host->countTransfer();
        const std::string &text = host->test->input;
        if (host->inputPosition < text.size())
            return static_cast<std::uint8_t>(text[host->inputPosition++]);
        host->engine->m_inputEnded = true;
        return 0;
    }
    // The exact path's idle hook: counts commands, enforces the budget and stops at target.
    static void idle(void *context)
    {
        auto *host = static_cast<Host *>(context);
        if (++host->outcome->commands > host->test->budget && host->test->budget > 0) {
            host->outcome->finished = false;
            host->engine->m_breakFlag = true;
        }
        const Outcome *target = host->test->target;
        if (target && target->output.size() == host->outcome->output.size() &&
            target->inputCalls == host->outcome->inputCalls &&
            target->tape == host->engine->m_data && host->matches++ == host->test->skippedMatches) {
            host->outcome->reachedTarget = true;
            host->engine->m_breakFlag = true;
        }
    }
    // A coarse idle hook: counts its calls and breaks when told to.
    static void countIdle(void *context)
    {
        auto *host = static_cast<Host *>(context);
        if (++host->outcome->commands == host->test->breakAtIdleCall)
            host->engine->m_breakFlag = true;
    }
};

} // namespace

Outcome run(const Case &test, Path path, std::int32_t idleInterval)
{
    tBF engine;
    Outcome outcome;
    outcome.path = path;
    Host host {&engine, &test, &outcome};
    engine.LoadCode(test.program);
    outcome.bracketResult = engine.MatchBrackets();
    engine.m_dataWrap = test.dataWrap;
    engine.m_dialect = test.dialect;
    engine.m_settlesNests = test.settlesNests;
    engine.m_closesConstantRounds = test.closesConstantRounds;
    engine.m_testsOneEnd = test.testsOneEnd;
    engine.m_movesUntested = test.movesUntested;
    engine.m_coversClosedLoops = test.coversClosedLoops;
    engine.m_handOverAfter = test.handOverAfter;
    engine.m_outputHook = {Host::output, &host};
    engine.m_inputHook = {Host::input, &host};
    if (path == Path::Exact)
        engine.m_idleHook = {Host::idle, &host};
    const bool debugged = path == Path::Debugged || path == Path::DebuggedThreaded;
    if (path == Path::Threaded || path == Path::CoarseThreaded || path == Path::DebuggedThreaded)
        engine.m_path = tEnginePath::Threaded;
    if (path == Path::Coarse || path == Path::CoarseThreaded) {
        engine.m_idleHook = {Host::countIdle, &host};
        engine.m_idleInterval = idleInterval;
    }
    outcome.codeLength = engine.m_codeLength;
    if (debugged) {
        tDebugger debugger(engine);
        debugger.hostOutput = engine.m_outputHook;
        debugger.hostInput = engine.m_inputHook;
        debugger.exactFirst = test.exactFirst;
        debugger.start();
        if (test.breakpoint > 0 && test.breakpoint <= engine.m_codeLength)
            debugger.setBreakpoint(test.breakpoint, true);
        outcome.result = debugger.runToEnd();
        outcome.commands = static_cast<long>(debugger.commands());
    } else {
        outcome.result = engine.Run();
    }
    outcome.dataPointer = engine.m_dataPointer;
    outcome.instructionPointer = engine.m_instructionPointer;
    outcome.tape = engine.m_data;
    return outcome;
}

std::string differenceBetween(const Outcome &exact, const Outcome &other)
{
    std::ostringstream differences;
    const auto compare = [&](const char *what, const auto &expected, const auto &actual) {
        if (!(expected == actual))
            differences << what << " differs; ";
    };
    compare("bracket result", exact.bracketResult, other.bracketResult);
    compare("result", exact.result, other.result);
    compare("output", exact.output, other.output);
    compare("input calls", exact.inputCalls, other.inputCalls);
    compare("data pointer", exact.dataPointer, other.dataPointer);
    compare("instruction pointer", exact.instructionPointer, other.instructionPointer);
    compare("tape", exact.tape, other.tape);
    // The exact path's idle hook also ran before the command it stopped at, if any.
    if (other.path == Path::Debugged || other.path == Path::DebuggedThreaded) {
        compare("command count",
            exact.commands - (exact.instructionPointer <= exact.codeLength ? 1 : 0),
            other.commands);
    }
    std::string text = differences.str();
    if (!text.empty())
        text += std::string("on the ") + pathName(other.path) + " path";
    return text;
}

const char *pathName(Path path)
{
    switch (path) {
    case Path::Exact: return "exact";
    case Path::Optimised: return "optimised";
    case Path::Threaded: return "threaded";
    case Path::Coarse: return "coarse";
    case Path::CoarseThreaded: return "coarse threaded";
    case Path::Debugged: return "debugged";
    case Path::DebuggedThreaded: return "debugged threaded";
    }
    return "?";
}

tDialect dialectFor(unsigned number)
{
    static constexpr std::int32_t Tapes[] = {65536, 7, 300, 65536, 1, 300, 7, 2};
    tDialect dialect;
    dialect.cellBits = 8 << (number % 3);
    dialect.endOfInput = static_cast<tEndOfInput>(number / 3 % 3);
    dialect.start = static_cast<tTapeStart>(number / 9 % 2);
    dialect.tapeCells = Tapes[(number + number / 18) % std::size(Tapes)];
    return dialect;
}

std::string describe(const tDialect &dialect)
{
    static const char *const Ends[] = {"zero", "all-ones", "unchanged"};
    return std::to_string(dialect.cellBits) + " bits, eof " +
        Ends[static_cast<int>(dialect.endOfInput)] + ", " + std::to_string(dialect.tapeCells) +
        " cells from the " + (dialect.start == tTapeStart::Left ? "left" : "middle");
}

std::string towardEnd(const tDialect &dialect, bool lowEnd, int distance)
{
    const std::int32_t last = dialect.tapeCells - 1;
    const std::int32_t start = dialect.start == tTapeStart::Left ? 0 : last / 2;
    const std::int32_t moves = lowEnd ? start - distance : last - start - distance;
    return std::string(static_cast<std::size_t>(std::max(0, moves)), lowEnd ? '<' : '>');
}

std::string shownPart(const std::string &program)
{
    const std::size_t start = program.find_first_not_of("<>");
    return start == std::string::npos ? program : program.substr(start);
}
