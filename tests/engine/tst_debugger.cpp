#include "debugger.h"
#include "enginehost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

// Every stop of a debugged run is checked against the exact run of the same program: the
// state after the same number of commands, found by running it again command by command.

namespace {

struct Program
{
    std::string text;
    std::string input;
    bool dataWrap = true;
    tDialect dialect;
};

// Where the exact run stands after some commands, and what it has done so far.
struct State
{
    tDataArr tape;
    std::int32_t dataPointer = 0;
    std::int32_t position = 0;
    std::string output;
    std::int64_t inputs = 0;
    int result = ResultOk;
};

// A host reading the program's input (its end reported to the engine) and writing to a string.
struct Console
{
    const Program *program = nullptr;
    tBF *engine = nullptr;
    std::string output;
    std::int64_t inputs = 0;

    static void write(void *context, std::uint8_t byte)
    {
        static_cast<Console *>(context)->output.push_back(static_cast<char>(byte));
    }
    static std::uint8_t read(void *context)
    {
        auto &console = *static_cast<Console *>(context);
        const std::string &input = console.program->input;
        const auto index = static_cast<std::size_t>(console.inputs++);
        if (index < input.size())
            return static_cast<std::uint8_t>(input[index]);
        console.engine->m_inputEnded = true;
        return 0;
    }
};

void load(tBF &engine, const Program &program)
{
    engine.LoadCode(program.text);
    engine.MatchBrackets();
    engine.m_dataWrap = program.dataWrap;
    engine.m_dialect = program.dialect;
}

// The exact run stopped after commands commands (or at its end), with the positions it stood
// at before each of them when positions is given.
State exactState(
    const Program &program, std::int64_t commands, std::vector<std::int32_t> *positions = nullptr)
{
    tBF engine;
    load(engine, program);
    Console console;
    console.program = &program;
    console.engine = &engine;
    struct Counter
    {
        tBF *engine;
        std::int64_t calls = 0, stopAt = 0;
        std::vector<std::int32_t> *positions;
    } counter {&engine, 0, commands + 1, positions};
    engine.m_outputHook = {&Console::write, &console};
    engine.m_inputHook = {&Console::read, &console};
    engine.m_idleHook = {[](void *context) {
                             auto &c = *static_cast<Counter *>(context);
                             if (c.positions && c.calls < c.stopAt - 1)
                                 c.positions->push_back(c.engine->m_instructionPointer);
                             if (++c.calls == c.stopAt)
                                 c.engine->m_breakFlag = true;
                         },
        &counter};
    State state;
    state.result = engine.Run();
    state.tape = engine.m_data;
    state.dataPointer = engine.m_dataPointer;
    state.position = engine.m_instructionPointer;
    state.output = console.output;
    state.inputs = console.inputs;
    return state;
}

// A debugger over its own engine and console.
struct Session
{
    explicit Session(const Program &program, std::int64_t exactFirst = 0,
        tEnginePath path = tEnginePath::Fastest)
        : debugger(engine)
    {
        console.program = &program;
        console.engine = &engine;
        load(engine, program);
        engine.m_path = path;
        debugger.hostOutput = {&Console::write, &console};
        debugger.hostInput = {&Console::read, &console};
        debugger.exactFirst = exactFirst;
        debugger.start();
    }

    tBF engine;
    tDebugger debugger;
    Console console;
};

// The debugger's state is the exact run's after as many commands; the host saw each output
// byte once and was asked for each input byte once.
void expectExactState(const Program &program, const Session &session)
{
    const tDebugger &debugger = session.debugger;
    const State exact = exactState(program, debugger.commands());
    EXPECT_EQ(debugger.position(), exact.position) << "after " << debugger.commands();
    EXPECT_EQ(debugger.dataPointer(), exact.dataPointer) << "after " << debugger.commands();
    EXPECT_TRUE(debugger.tape() == exact.tape) << "after " << debugger.commands();
    EXPECT_EQ(debugger.inputs(), exact.inputs);
    EXPECT_EQ(static_cast<std::size_t>(debugger.outputs()), exact.output.size());
    if (debugger.lastStop() == DebugStop::Fault) { // the exact run's next command fails
        EXPECT_EQ(debugger.result(), exactState(program, debugger.commands() + 1).result);
    }
}

// ---- random programs ----------------------------------------------------------------------

// The program without the moves that place the pointer near a tape end, for failure messages
// (all of it when it is nothing but moves).
std::string shown(const std::string &program)
{
    const std::size_t start = program.find_first_not_of("<>");
    return start == std::string::npos ? program : program.substr(start);
}

// Programs with every loop shape the optimised path folds (and so must count), input and
// output inside loops, near either tape end, with and without data wrap.
class ProgramMaker
{
public:
    explicit ProgramMaker(unsigned seed)
        : m_random(seed)
    { }

    Program make()
    {
        Program program;
        program.dataWrap = pick(2) == 0;
        for (int i = pick(6); i > 0; --i)
            program.input.push_back(static_cast<char>(1 + pick(255)));
        if (pick(2) == 0) // half in the default dialect, half in one of the others
            program.dialect = dialectFor(1 + static_cast<unsigned>(pick(1000)));
        const int where = pick(4);
        if (where < 2)
            program.text = towardEnd(program.dialect, where == 0, pick(6));
        body(program.text, 0, 4 + pick(30));
        return program;
    }

    // A program of loops that reach further (multiplies, moving loops, scans over filled
    // cells), each running many rounds: long stretches for the optimised path beside cells
    // it may not reach.
    Program makeWide()
    {
        Program program = make();
        std::string &text = program.text;
        text.erase(std::min(text.find_first_not_of("<>"), text.size())); // the moves stay
        for (int i = 3 + pick(4); i > 0; --i) {
            const auto k = static_cast<std::size_t>(1 + pick(5));
            const std::string right(k, '>'), left(k, '<');
            text.append(static_cast<std::size_t>(2 + pick(12)), '+');
            switch (pick(5)) {
            case 0:
                text += "[-" + right + std::string(1 + static_cast<std::size_t>(pick(3)), '+') +
                    left + "]";
                break;
            case 1: text += "[" + right + "+>-<" + left + "-]"; break;
            case 2: text += "[->>[>]+<[<]<]"; break;
            case 3: text += "[-" + right + "+.<" + left + ">]<"; break;
            default: text += "[->+>+<<]>>[-<<+>>]" + left; break;
            }
            text.append(static_cast<std::size_t>(pick(3)), "<>"[pick(2)]);
        }
        return program;
    }

    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(m_random); }

private:
    void body(std::string &out, int depth, int length)
    {
        static const char *const Shapes[] = {"[-]", "[+]", "[->+<]", "[->>+++<<]", "[<+>-]", "[>]",
            "[<]", "[>>]", "[<<<]", "[-<+>>++<]", "[->>+++[->+<]>[-]<<<]", "[-<<]", "[>-[<<+>>-]>]",
            "[-<>]", "[->+-<]", "[+>><<]", "[<[-<>]>-]", "[-[-]>+<]", "[->[-]+<]", "[>+>]"};
        for (int i = 0; i < length; ++i) {
            const int choice = pick(20);
            if (choice < 9)
                out.append(static_cast<std::size_t>(1 + pick(5)), "+-<>"[pick(4)]);
            else if (choice < 11)
                out.push_back(".,"[pick(2)]);
            else if (choice < 16)
                out += Shapes[pick(static_cast<int>(std::size(Shapes)))];
            else if (depth < 3) {
                out.push_back('[');
                body(out, depth + 1, 1 + pick(6));
                if (pick(3) != 0)
                    out.push_back('-');
                out.push_back(']');
            }
        }
    }

    std::mt19937 m_random;
};

// Programs whose exact run ends within a budget, with the positions it stood at.
struct TracedProgram
{
    Program program;
    std::vector<std::int32_t> positions; // before each command
    State end;
};

std::vector<TracedProgram> tracedPrograms(unsigned seed, int count)
{
    constexpr std::int64_t Budget = 100000;
    ProgramMaker maker(seed);
    std::vector<TracedProgram> programs;
    while (static_cast<int>(programs.size()) < count) {
        TracedProgram traced;
        traced.program = maker.make();
        traced.end = exactState(traced.program, Budget, &traced.positions);
        if (traced.end.position > static_cast<std::int32_t>(traced.positions.size()) &&
            static_cast<std::int64_t>(traced.positions.size()) < Budget)
            programs.push_back(std::move(traced));
        else if (traced.end.result != ResultOk)
            programs.push_back(std::move(traced)); // a fault ends it too
    }
    return programs;
}

struct LegRow
{
    const char *name;
    std::int64_t exactFirst;
    tEnginePath path;
};

class RandomPrograms : public testing::TestWithParam<std::tuple<unsigned, LegRow>>
{ };

// Breakpoints at random commands stop the run before them on every pass, at the exact
// state, whichever path runs between them; the run ends as the exact run does.
TEST_P(RandomPrograms, BreakpointsStopOnEveryPass)
{
    const auto [seed, leg] = GetParam();
    ProgramMaker random(seed * 7919);
    for (TracedProgram &traced : tracedPrograms(seed, 60)) {
        SCOPED_TRACE(shown(traced.program.text) + " (" + describe(traced.program.dialect) + ")");
        Session session(traced.program, leg.exactFirst, leg.path);
        const auto length = static_cast<std::int32_t>(session.engine.m_codeLength);
        std::vector<bool> isBreakpoint(static_cast<std::size_t>(length) + 2, false);
        for (int i = 1 + random.pick(4); i > 0; --i) {
            // Mostly on commands the run passes, so that it stops at all.
            const std::int32_t position = traced.positions.empty() || random.pick(3) == 0
                ? 1 + random.pick(length)
                : traced.positions[static_cast<std::size_t>(
                      random.pick(static_cast<int>(traced.positions.size())))];
            session.debugger.setBreakpoint(position, true);
            isBreakpoint[static_cast<std::size_t>(position)] = true;
        }
        std::vector<std::int64_t> expected; // counts at which the run stands on a breakpoint
        for (std::size_t count = 1; count < traced.positions.size(); ++count) {
            if (isBreakpoint[static_cast<std::size_t>(traced.positions[count])])
                expected.push_back(static_cast<std::int64_t>(count));
        }
        std::vector<std::int64_t> stops;
        for (;;) {
            const DebugStop stop = session.debugger.resume();
            if (stop != DebugStop::Breakpoint)
                break;
            stops.push_back(session.debugger.commands());
            if (stops.size() <= 3)
                expectExactState(traced.program, session);
        }
        EXPECT_EQ(stops, expected);
        EXPECT_EQ(session.debugger.commands(),
            static_cast<std::int64_t>(traced.positions.size()) -
                (traced.end.result != ResultOk ? 1 : 0));
        EXPECT_EQ(session.console.output, traced.end.output);
        expectExactState(traced.program, session);
        if (HasFailure())
            return;
    }
}

// Steps forward, then back, then forward again: every state is the exact run's, and the host
// sees each output byte once and is asked for each input byte once.
TEST_P(RandomPrograms, StepsBackToTheExactEarlierState)
{
    const auto [seed, leg] = GetParam();
    ProgramMaker random(seed * 104729);
    for (TracedProgram &traced : tracedPrograms(seed + 100, 25)) {
        SCOPED_TRACE(shown(traced.program.text) + " (" + describe(traced.program.dialect) + ")");
        Session session(traced.program, leg.exactFirst, leg.path);
        tDebugger &debugger = session.debugger;
        const auto total = static_cast<std::int64_t>(traced.positions.size());
        // Snapshots a few times a run: a step back restores one, with cells near a tape end.
        debugger.snapshotSpacing = std::max<std::int64_t>(1, total / (2 + random.pick(20)));
        const std::int64_t goal = total > 1 ? 1 + random.pick(static_cast<int>(total - 1)) : 0;
        debugger.runTo(traced.positions[static_cast<std::size_t>(goal)]);
        for (int back = random.pick(6); back > 0 && debugger.commands() > 0; --back) {
            EXPECT_EQ(debugger.stepBack(), DebugStop::Step);
            expectExactState(traced.program, session);
        }
        for (int forward = random.pick(4); forward > 0 && debugger.isLive(); --forward)
            debugger.stepInto();
        expectExactState(traced.program, session);
        while (debugger.isLive())
            debugger.resume();
        EXPECT_EQ(session.console.output, traced.end.output);
        EXPECT_EQ(session.console.inputs, traced.end.inputs);
        // From the end all the way back: every input byte comes from the history. (A run
        // that failed at its first command, as on a one-cell tape, has nothing to go back to.)
        if (debugger.commands() > 0) {
            EXPECT_EQ(debugger.stepBack(), DebugStop::Step);
            expectExactState(traced.program, session);
            EXPECT_EQ(session.console.inputs, traced.end.inputs);
        }
        if (HasFailure())
            return;
    }
}

const LegRow Legs[] = {{"OptimisedAtOnce", 0, tEnginePath::Fastest},
    {"ThreadedAtOnce", 0, tEnginePath::Threaded}, {"OneByOneFirst", 50, tEnginePath::Fastest}};

INSTANTIATE_TEST_SUITE_P(Seeds, RandomPrograms,
    testing::Combine(testing::Range(1u, 5u), testing::ValuesIn(Legs)), [](const auto &row) {
        return std::get<1>(row.param).name + std::to_string(std::get<0>(row.param));
    });

// ---- where a cell's value came from and goes ------------------------------------------------

// The exact run, one command at a time, with the pointers before each command; an edit of a
// cell (as the debugger's setCell) made once the given number of commands ran.
struct CellEdit
{
    std::int64_t at = -1; // none
    std::int32_t cell = 0;
    std::uint32_t value = 0;
};
struct Trace
{
    std::vector<std::int32_t> positions, pointers; // before each command, and after the last
    std::vector<std::uint32_t> underPointer; // the pointer's cell then
    // The cells keptFirst .. keptLast then, one row after the other.
    std::int32_t keptFirst = 0, keptLast = -1;
    std::vector<std::uint32_t> kept;
    bool ended = false; // within the budget, without a fault

    std::uint32_t keptCell(std::int64_t count, std::int32_t cell) const
    {
        return kept[static_cast<std::size_t>(
            count * (keptLast - keptFirst + 1) + cell - keptFirst)];
    }
};

Trace traceRun(const Program &program, const CellEdit &edit, std::int64_t budget,
    std::int32_t keptFirst = 0, std::int32_t keptLast = -1)
{
    tBF engine;
    load(engine, program);
    Console console;
    console.program = &program;
    console.engine = &engine;
    struct Tracer
    {
        tBF *engine;
        const CellEdit *edit;
        Trace trace;
        std::int64_t budget;
        void (*note)(Trace &, const tBF &);
    } tracer {&engine, &edit, {}, budget, nullptr};
    tracer.trace.keptFirst = keptFirst;
    tracer.trace.keptLast = keptLast;
    const auto note = [](Trace &trace, const tBF &run) {
        trace.positions.push_back(run.m_instructionPointer);
        trace.pointers.push_back(run.m_dataPointer);
        trace.underPointer.push_back(run.cellValue(run.m_dataPointer));
        for (std::int32_t cell = trace.keptFirst; cell <= trace.keptLast; ++cell)
            trace.kept.push_back(run.cellValue(cell));
    };
    tracer.note = note;
    engine.m_outputHook = {&Console::write, &console};
    engine.m_inputHook = {&Console::read, &console};
    engine.m_idleHook = {[](void *context) {
                             auto &t = *static_cast<Tracer *>(context);
                             const auto count = static_cast<std::int64_t>(t.trace.positions.size());
                             if (count == t.edit->at)
                                 t.engine->setCellValue(t.edit->cell, t.edit->value);
                             t.note(t.trace, *t.engine);
                             if (count == t.budget)
                                 t.engine->m_breakFlag = true;
                         },
        &tracer};
    const int result = engine.Run();
    tracer.trace.ended = result == ResultOk && !engine.m_breakFlag;
    if (tracer.trace.ended) // the state after the last command
        note(tracer.trace, engine);
    return tracer.trace;
}

// Moves the session on to the state after count commands (one the run reaches).
void runToCount(tDebugger &debugger, const Trace &trace, std::int64_t count)
{
    while (debugger.commands() < count && debugger.isLive())
        debugger.runTo(trace.positions[static_cast<std::size_t>(count)]);
}

// "Last change" and "first read after", asked again and again for cells around the pointer,
// land where a search of the exact run's trace says, also after a cell was edited (the
// history, and so the search back, then starts there).
TEST(CellSearch, FindsTheWritesAndReadsOfTheTrace)
{
    constexpr std::int64_t Budget = 100000;
    for (unsigned seed = 1; seed <= 3; ++seed) {
        ProgramMaker random(seed * 15485863);
        for (TracedProgram &traced : tracedPrograms(seed + 300, 20)) {
            if (traced.end.result != ResultOk || traced.positions.size() < 2)
                continue;
            const Program &program = traced.program;
            SCOPED_TRACE(shown(program.text) + " (" + describe(program.dialect) + ")");
            Session session(program, random.pick(2) == 0 ? 0 : 50);
            tDebugger &debugger = session.debugger;
            const auto total = static_cast<int>(traced.positions.size());
            // A cell at most spread cells from the pointer's.
            const auto near = [&](int spread) {
                return std::clamp(debugger.dataPointer() + random.pick(2 * spread + 1) - spread, 0,
                    session.engine.m_lastCell);
            };
            CellEdit edit;
            if (random.pick(2) == 0) {
                edit.at = random.pick(total);
                runToCount(debugger, traceRun(program, {}, Budget), edit.at);
                edit.cell = near(1);
                edit.value = static_cast<std::uint32_t>(random.pick(4));
                debugger.setCell(edit.cell, edit.value);
            }
            const Trace trace = traceRun(program, edit, Budget);
            if (!trace.ended)
                continue; // the edit made it run on (and on)
            const auto last = static_cast<std::int64_t>(trace.positions.size()) - 1;
            const std::int64_t historyStart = std::max<std::int64_t>(edit.at, 0);
            runToCount(debugger, trace,
                historyStart + random.pick(static_cast<int>(last - historyStart + 1)));
            const tCodeArr &code = session.engine.m_code;
            const auto touches = [&](std::int64_t count, std::int32_t cell, bool writes) {
                const auto at = static_cast<std::size_t>(count);
                const char command = code[static_cast<std::size_t>(trace.positions[at])];
                const bool reads = command == '.' || command == '[' || command == ']';
                return trace.pointers[at] == cell &&
                    (command == '+' || command == '-' || (writes ? command == ',' : reads));
            };
            std::int32_t cell = near(2);
            // Where the last search that found something left the run: asked again there for
            // the same cell, a search goes past what it found.
            struct
            {
                bool change = false;
                std::int32_t cell = -1;
                std::int64_t count = -1;
            } mark;
            for (int ask = 0; ask < 8; ++ask) {
                const bool change = random.pick(2) == 0;
                const std::int64_t now = debugger.commands();
                const bool again = mark.change == change && mark.cell == cell && mark.count == now;
                std::int64_t expected = -1; // the count before the command found
                if (change) {
                    for (std::int64_t k = (again ? now - 1 : now) - 1; k >= historyStart; --k) {
                        if (touches(k, cell, true)) {
                            expected = k;
                            break;
                        }
                    }
                    EXPECT_EQ(debugger.lastChange(cell),
                        expected >= 0 ? DebugStop::Target : DebugStop::HistoryStart);
                    EXPECT_EQ(debugger.commands(), expected >= 0 ? expected + 1 : now);
                } else {
                    for (std::int64_t r = again ? now + 1 : now; r < last; ++r) {
                        if (touches(r, cell, false)) {
                            expected = r;
                            break;
                        }
                    }
                    EXPECT_EQ(debugger.firstReadAfter(cell),
                        expected >= 0 ? DebugStop::Target : DebugStop::Ended);
                    EXPECT_EQ(debugger.commands(), expected >= 0 ? expected : last);
                }
                const auto at = static_cast<std::size_t>(debugger.commands());
                EXPECT_EQ(debugger.position(), trace.positions[at]) << "after " << at;
                EXPECT_EQ(debugger.dataPointer(), trace.pointers[at]) << "after " << at;
                if (HasFailure())
                    return;
                if (expected >= 0)
                    mark = {change, cell, debugger.commands()};
                if (random.pick(3) == 0) // now and then another cell
                    cell = near(2);
            }
            if (edit.at < 0)
                expectExactState(program, session);
        }
    }
}

// ---- the profile ----------------------------------------------------------------------------

// The times each command ran, as the exact run's positions say (a failing command did not).
std::vector<std::int64_t> tracedCounts(const TracedProgram &traced, std::int32_t length)
{
    std::vector<std::int64_t> counts(static_cast<std::size_t>(length) + 2, 0);
    for (const std::int32_t position : traced.positions)
        ++counts[static_cast<std::size_t>(position)];
    if (traced.end.result != ResultOk && !traced.positions.empty())
        --counts[static_cast<std::size_t>(traced.positions.back())];
    return counts;
}

// The counts of a profiled run, whole or in legs between breakpoints, on either path, are
// the exact run's; so are those of the runner's profiled run. Each byte the run printed leads
// back (or on) to the '.' that printed it.
TEST(Profile, CountsEveryCommandAsTheExactRunRanIt)
{
    for (unsigned seed = 1; seed <= 2; ++seed) {
        ProgramMaker random(seed * 7537);
        for (const TracedProgram &traced : tracedPrograms(seed + 500, 30)) {
            const Program &program = traced.program;
            SCOPED_TRACE(shown(program.text) + " (" + describe(program.dialect) + ")");
            Session session(program, random.pick(2) == 0 ? 0 : 30,
                random.pick(2) == 0 ? tEnginePath::Fastest : tEnginePath::Threaded);
            tDebugger &debugger = session.debugger;
            const std::int32_t length = session.engine.m_codeLength;
            for (int i = random.pick(3); i > 0; --i)
                debugger.setBreakpoint(1 + random.pick(length), true);
            if (random.pick(2) == 0) { // a watch near the start: legs then run in a cell window
                const std::int32_t cell = std::clamp(
                    debugger.dataPointer() + random.pick(5) - 2, 0, session.engine.m_lastCell);
                debugger.setWatch({.first = cell, .last = cell}, true);
            }
            while (debugger.isLive())
                debugger.profiledResume();
            const std::vector<std::int64_t> expected = tracedCounts(traced, length);
            EXPECT_EQ(debugger.profile().commandCounts(session.engine), expected);
            EXPECT_EQ(session.console.output, traced.end.output);

            // Each printed byte leads to just after the '.' that printed it, forwards and back.
            EXPECT_EQ(debugger.printed(), traced.end.output);
            std::vector<std::int64_t> dots; // the count before each '.'
            for (std::size_t k = 0; k < traced.positions.size(); ++k) {
                if (session.engine.m_code[static_cast<std::size_t>(traced.positions[k])] == '.')
                    dots.push_back(static_cast<std::int64_t>(k));
            }
            for (int jump = dots.empty() ? 0 : 3; jump > 0; --jump) {
                const auto index = static_cast<std::size_t>(random.pick(int(dots.size())));
                EXPECT_EQ(debugger.travelToOutput(index), DebugStop::Target);
                EXPECT_EQ(debugger.commands(), dots[index] + 1);
                EXPECT_EQ(debugger.foundCommand(), traced.positions[std::size_t(dots[index])]);
                EXPECT_EQ(debugger.outputs(), std::int64_t(index) + 1);
                if (jump == 1)
                    expectExactState(program, session);
            }
            EXPECT_EQ(debugger.printed(), traced.end.output);

            Session runner(program);
            runner.engine.m_outputHook = {&Console::write, &runner.console};
            runner.engine.m_inputHook = {&Console::read, &runner.console};
            if (random.pick(2) == 0) { // idle calls within loops and scans
                runner.engine.m_idleHook = {[](void *) {}, nullptr};
                runner.engine.m_idleInterval = 2 + random.pick(40);
            }
            tProfile profile;
            EXPECT_EQ(runProfiled(runner.engine, profile), traced.end.result);
            EXPECT_EQ(profile.commandCounts(runner.engine), expected);
            EXPECT_EQ(runner.console.output, traced.end.output);
            if (HasFailure())
                return;
        }
    }
}

// ---- watchpoints and the loop stack ------------------------------------------------------

// The loops around the command the trace stands before after count commands, innermost
// first, found by looking back through the trace for each enclosing "[" (as the user would).
std::vector<DebugLoop> tracedLoops(const tBF &engine, const Trace &trace, std::int64_t count)
{
    std::vector<DebugLoop> loops;
    const std::int32_t position = trace.positions[static_cast<std::size_t>(count)];
    for (std::int32_t at = 1; at < position && position <= engine.m_codeLength; ++at) {
        const std::int32_t close = engine.m_jumps[static_cast<std::size_t>(at)];
        if (engine.m_code[static_cast<std::size_t>(at)] != '[' || close < position)
            continue;
        DebugLoop loop {at};
        for (std::int64_t k = count - 1; k >= 0 && loop.entryValue < 0; --k) {
            if (trace.positions[static_cast<std::size_t>(k)] == at)
                loop.entryValue = trace.underPointer[static_cast<std::size_t>(k)];
            else if (trace.positions[static_cast<std::size_t>(k)] == close)
                loop.rounds = std::max<std::int64_t>(loop.rounds, 0) + 1;
        }
        loop.rounds = std::max<std::int64_t>(loop.rounds, 0);
        loops.insert(loops.begin(), loop);
    }
    return loops;
}

// Watchpoints of every kind on cells near where the run goes stop it forwards and back
// exactly after the commands the trace says meet them, also after a cell edit; at each stop
// the loop stack is the one the trace shows.
TEST(Watchpoints, StopWhereTheTraceSays)
{
    constexpr std::int64_t Budget = 100000;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        ProgramMaker random(seed * 2750159);
        for (int made = 0; made < 30;) {
            const Program program = random.pick(2) == 0 ? random.makeWide() : random.make();
            const Trace plain = traceRun(program, {}, Budget);
            if (!plain.ended || plain.positions.size() < 2)
                continue;
            ++made;
            SCOPED_TRACE(shown(program.text) + " (" + describe(program.dialect) + ")");
            // The optimised path from the first command on, where it can run.
            Session session(
                program, 0, random.pick(2) == 0 ? tEnginePath::Fastest : tEnginePath::Threaded);
            tDebugger &debugger = session.debugger;
            const tBF &engine = session.engine;
            CellEdit edit;
            if (random.pick(2) == 0) {
                edit.at = random.pick(static_cast<int>(plain.positions.size()));
                runToCount(debugger, plain, edit.at);
                edit.cell = debugger.dataPointer();
                edit.value = static_cast<std::uint32_t>(random.pick(3));
                debugger.setCell(edit.cell, edit.value);
            }
            // One or two watches around a cell the run writes (or its pointer passes).
            std::vector<DebugWatch> watches;
            std::vector<std::int32_t> written;
            for (std::size_t at = 0; at + 1 < plain.positions.size(); ++at) {
                const char command = engine.m_code[static_cast<std::size_t>(plain.positions[at])];
                if (command == '+' || command == '-')
                    written.push_back(plain.pointers[at]);
            }
            const std::vector<std::int32_t> &cells = written.empty() ? plain.pointers : written;
            const std::int32_t around =
                cells[static_cast<std::size_t>(random.pick(static_cast<int>(cells.size())))];
            for (int i = 1 + random.pick(3) / 2; i > 0; --i) {
                DebugWatch watch;
                watch.kind = static_cast<DebugWatch::Kind>(random.pick(4));
                watch.first = std::clamp(around + random.pick(9) - 4, 0, engine.m_lastCell);
                watch.last = std::min(watch.first + random.pick(3) / 2, engine.m_lastCell);
                watch.relation = static_cast<DebugWatch::Relation>(random.pick(4));
                watch.isSigned = random.pick(2) == 0;
                watch.value = random.pick(5) - 2;
                watches.push_back(watch);
                debugger.setWatch(watch, true);
            }
            std::int32_t low = engine.m_lastCell, high = 0;
            for (const DebugWatch &watch : watches) {
                low = std::min(low, watch.first);
                high = std::max(high, watch.last);
            }
            std::string described = "watches";
            for (const DebugWatch &watch : watches)
                described += " " + std::to_string(static_cast<int>(watch.kind)) + ":" +
                    std::to_string(watch.first) + ".." + std::to_string(watch.last) + " " +
                    "=!<>"[static_cast<int>(watch.relation)] + std::to_string(watch.value) +
                    (watch.isSigned ? "s" : "u");
            SCOPED_TRACE(described + ", edit " + std::to_string(edit.at));
            const Trace trace = traceRun(program, edit, Budget, low, high);
            if (!trace.ended)
                continue; // the edit made it run on (and on)
            const auto last = static_cast<std::int64_t>(trace.positions.size()) - 1;
            const std::int64_t historyStart = std::max<std::int64_t>(edit.at, 0);
            const std::uint32_t mask = program.dialect.cellMask();
            // Whether the command after count - 1 commands met a watch.
            const auto meets = [&](std::int64_t count) {
                const auto before = static_cast<std::size_t>(count - 1);
                const std::int32_t from = trace.pointers[before];
                const std::int32_t to = trace.pointers[before + 1];
                for (const DebugWatch &watch : watches) {
                    if (!watch.onCells()) {
                        if (watch.holds(from) != watch.holds(to) &&
                            watch.holds(to) == (watch.kind == DebugWatch::Kind::Enter))
                            return true;
                        continue;
                    }
                    if (!watch.holds(from))
                        continue;
                    const std::uint32_t now = trace.keptCell(count, from);
                    if (now == trace.keptCell(count - 1, from))
                        continue;
                    const std::int64_t value = watch.isSigned && now > mask / 2
                        ? std::int64_t {now} - mask - 1
                        : std::int64_t {now};
                    if (watch.kind == DebugWatch::Kind::Change ||
                        (watch.relation == DebugWatch::Relation::Equal && value == watch.value) ||
                        (watch.relation == DebugWatch::Relation::NotEqual &&
                            value != watch.value) ||
                        (watch.relation == DebugWatch::Relation::Less && value < watch.value) ||
                        (watch.relation == DebugWatch::Relation::Greater && value > watch.value))
                        return true;
                }
                return false;
            };
            const auto expectAt = [&](std::int64_t count) {
                const auto at = static_cast<std::size_t>(count);
                EXPECT_EQ(debugger.position(), trace.positions[at]) << "after " << at;
                EXPECT_EQ(debugger.dataPointer(), trace.pointers[at]) << "after " << at;
                for (std::int32_t cell = low; cell <= high; ++cell)
                    EXPECT_EQ(debugger.cellValue(cell), trace.keptCell(count, cell)) << cell;
            };
            const auto expectLoops = [&] {
                EXPECT_EQ(debugger.loopStack(), tracedLoops(engine, trace, debugger.commands()))
                    << "after " << debugger.commands();
            };
            // Forwards over the first stops (each a leg that copies the tape: a few will do),
            // then back over them and on to where the history begins.
            constexpr std::size_t Stops = 12;
            const std::int64_t from = debugger.commands();
            std::vector<std::int64_t> expected, stops;
            for (std::int64_t count = from + 1; count < last && expected.size() < Stops; ++count) {
                if (meets(count))
                    expected.push_back(count);
            }
            while (stops.size() < Stops && debugger.resume() == DebugStop::Watchpoint) {
                stops.push_back(debugger.commands());
                EXPECT_TRUE(debugger.lastWatch().has_value());
                expectAt(debugger.commands());
                if (stops.size() <= 3)
                    expectLoops();
            }
            EXPECT_EQ(stops, expected);
            if (stops.size() < Stops) {
                EXPECT_EQ(debugger.commands(), last);
            }
            expected.clear();
            stops.clear();
            for (std::int64_t count = debugger.commands() - 1; count > historyStart; --count) {
                if (meets(count))
                    expected.push_back(count);
            }
            while (debugger.reverseResume() == DebugStop::Watchpoint) {
                stops.push_back(debugger.commands());
                expectAt(debugger.commands());
                if (stops.size() <= 3)
                    expectLoops();
            }
            EXPECT_EQ(stops, expected);
            EXPECT_EQ(debugger.commands(), historyStart);
            expectLoops();
            if (HasFailure())
                return;
        }
    }
}

// Watches on cells alone send only what may write a watched cell the careful way: every step
// of a folded loop counts, also one whose sum leaves its cell as it was. The optimised path
// (in a loop that stays one, alone or round a Repeat) stops exactly where one by one does.
TEST(Watchpoints, SeeEveryStepOfAFoldedLoop)
{
    ProgramMaker random(65537);
    for (int made = 0; made < 40; ++made) {
        // The folded loop's counter is the start cell + 8; its body steps cells 6 .. 10 from
        // the start and comes back.
        std::string folded = "-";
        std::int32_t cursor = 0;
        for (int i = 1 + random.pick(4); i > 0; --i) {
            const std::int32_t to = random.pick(2) == 0 ? -1 - random.pick(2) : 1 + random.pick(2);
            folded +=
                std::string(static_cast<std::size_t>(std::abs(to - cursor)), "<>"[to > cursor]);
            static const char *const Steps[] = {"+", "-", "+-", "-+"}; // some cancel out
            folded += Steps[random.pick(4)];
            cursor = to;
        }
        folded += std::string(static_cast<std::size_t>(std::abs(cursor)), "<>"[cursor < 0]);
        const std::string counter(static_cast<std::size_t>(1 + random.pick(3)), '+');
        const std::string inner = random.pick(2) == 0
            ? ">>>>" + counter + "[" + folded + "]<<<<"
            : ">+[>>>" + counter + "[" + folded + "]<<<-]<"; // a Repeat round the folded loop
        const Program program {">>>>+[" + inner + ".-]", "", true, {}};
        SCOPED_TRACE(program.text);
        const std::int32_t offset = 6 + random.pick(5);
        const auto stops = [&](std::int64_t exactFirst, tEnginePath path) {
            Session session(program, exactFirst, path);
            const std::int32_t cell = session.debugger.dataPointer() + offset;
            session.debugger.setWatch({.first = cell, .last = cell}, true);
            std::vector<std::pair<std::int64_t, std::int32_t>> seen;
            while (seen.size() < 100 && session.debugger.resume() == DebugStop::Watchpoint)
                seen.emplace_back(session.debugger.commands(), session.debugger.position());
            seen.emplace_back(session.debugger.commands(), session.debugger.position());
            return seen;
        };
        const auto exact = stops(std::int64_t {1} << 40, tEnginePath::Fastest);
        EXPECT_EQ(stops(0, tEnginePath::Fastest), exact);
        EXPECT_EQ(stops(0, tEnginePath::Threaded), exact);
    }
}

// The loop stack is exact wherever the run travels back to, however many snapshots lie
// between there and the last one whose loops were worked out: nested loops of random
// counts, a snapshot at every idle call, the run taken to the '.'s of random rounds.
TEST(LoopStack, ExactAcrossSnapshots)
{
    ProgramMaker random(104729);
    for (int made = 0; made < 3; ++made) {
        std::string text;
        for (int depth = 0; depth < 4; ++depth)
            text += std::string(static_cast<std::size_t>(8 + random.pick(5)), '+') + "[>";
        text += "+++[>+<-].<-]<-]<-]<-]";
        const Program program {text, "", true, {}};
        SCOPED_TRACE(text);
        const Trace trace = traceRun(program, {}, 1'000'000);
        ASSERT_TRUE(trace.ended);
        Session session(
            program, 0, random.pick(2) == 0 ? tEnginePath::Fastest : tEnginePath::Threaded);
        tDebugger &debugger = session.debugger;
        debugger.snapshotSpacing = 1;
        EXPECT_EQ(debugger.resume(), DebugStop::Ended);
        EXPECT_GT(debugger.historyBytes(), 4 * sizeof(DebugSnapshot)); // several snapshots
        for (int jump = 0; jump < 4; ++jump) {
            const auto index =
                static_cast<std::size_t>(random.pick(static_cast<int>(debugger.printed().size())));
            EXPECT_EQ(debugger.travelToOutput(index), DebugStop::Target);
            EXPECT_EQ(debugger.loopStack(), tracedLoops(session.engine, trace, debugger.commands()))
                << "after " << debugger.commands();
        }
    }
}

// ---- run control at nesting edges ---------------------------------------------------------

struct ControlRow
{
    const char *name;
    const char *program;
    int stepsFirst; // single steps before the command under test
    enum Command { Over, Out, To } command;
    std::int32_t argument; // run to: the position
    std::int32_t expectedPosition;
    DebugStop expectedStop;
};

void PrintTo(const ControlRow &row, std::ostream *stream)
{
    *stream << row.name;
}

class RunControl : public testing::TestWithParam<ControlRow>
{ };

TEST_P(RunControl, StopsWhereTheCommandSays)
{
    const ControlRow &row = GetParam();
    for (const std::int64_t exactFirst : {std::int64_t {0}, tDebugger::NoLimit}) {
        Program program {row.program, "ab", true, {}};
        Session session(program, exactFirst);
        for (int i = 0; i < row.stepsFirst; ++i)
            session.debugger.stepInto();
        DebugStop stop = DebugStop::Started;
        switch (row.command) {
        case ControlRow::Over: stop = session.debugger.stepOver(); break;
        case ControlRow::Out: stop = session.debugger.stepOut(); break;
        case ControlRow::To: stop = session.debugger.runTo(row.argument); break;
        }
        EXPECT_EQ(stop, row.expectedStop);
        EXPECT_EQ(session.debugger.position(), row.expectedPosition);
        expectExactState(program, session);
    }
}

// Positions: "++[>+[-]<-]>." has "[" at 3 and 6, "]" at 8 and 11, "." at 13.
INSTANTIATE_TEST_SUITE_P(Rows, RunControl,
    testing::Values(ControlRow {"OverOuterLoop", "++[>+[-]<-]>.", 2, ControlRow::Over, 0, 12,
                        DebugStop::Target},
        ControlRow {"OverInnerLoop", "++[>+[-]<-]>.", 5, ControlRow::Over, 0, 9, DebugStop::Target},
        ControlRow {
            "OverPlainCommand", "++[>+[-]<-]>.", 0, ControlRow::Over, 0, 2, DebugStop::Step},
        ControlRow {"OverSkippedLoop", "[>+<]+.", 0, ControlRow::Over, 0, 6, DebugStop::Target},
        ControlRow {"OverLoopToTheEnd", "+[-]", 1, ControlRow::Over, 0, 5, DebugStop::Ended},
        ControlRow {"OutOfInnerLoop", "++[>+[-]<-]>.", 6, ControlRow::Out, 0, 9, DebugStop::Target},
        ControlRow {
            "OutFromInnerClose", "++[>+[-]<-]>.", 7, ControlRow::Out, 0, 9, DebugStop::Target},
        ControlRow {
            "OutFromInnerOpen", "++[>+[-]<-]>.", 5, ControlRow::Out, 0, 12, DebugStop::Target},
        ControlRow {"OutAtTopLevel", "++[>+[-]<-]>.", 0, ControlRow::Out, 0, 14, DebugStop::Ended},
        ControlRow {"ToALoopBody", "++[>+[-]<-]>.", 0, ControlRow::To, 7, 7, DebugStop::Target},
        ControlRow {"ToTheEnd", "++[>+[-]<-]>.", 0, ControlRow::To, 14, 14, DebugStop::Ended},
        ControlRow {"ToAFault", "<<+", 0, ControlRow::To, 3, 3, DebugStop::Target}));

// ---- pause, faults, bad requests ----------------------------------------------------------

TEST(Pause, StopsMidLoopAtAnExactState)
{
    // Counts a cell down from 255 many times over: long enough for several idle calls.
    const Program program {"+[>-[-<+>>+<]>[-<+>]<<[->+<]>]", "", true, {}};
    for (const std::int64_t exactFirst : {std::int64_t {0}, tDebugger::NoLimit}) {
        Session session(program, exactFirst);
        struct Pauser
        {
            tDebugger *debugger;
            int calls = 0;
        } pauser {&session.debugger};
        session.debugger.hostIdle = {[](void *context) {
                                         auto &p = *static_cast<Pauser *>(context);
                                         if (++p.calls == 3)
                                             p.debugger->requestPause();
                                     },
            &pauser};
        EXPECT_EQ(session.debugger.resume(), DebugStop::Paused);
        EXPECT_GT(session.debugger.commands(), 0);
        EXPECT_TRUE(session.debugger.isLive());
        expectExactState(program, session);
        EXPECT_EQ(session.debugger.stepInto(), DebugStop::Step);
        expectExactState(program, session);
    }
}

// The host's break ends the run even when a pause was asked for at the same time; input the
// host broke off is asked for again after a step back.
TEST(Pause, TheHostsBreakWinsAndItsInputIsNotKept)
{
    const Program program {"+[,.]", "", true, {}};
    Session session(program, 0);
    struct Host
    {
        tDebugger *debugger;
        tBF *engine;
        int reads = 0;
        bool breakOff = true;
    } host {&session.debugger, &session.engine};
    session.debugger.hostInput = {[](void *context) -> std::uint8_t {
                                      auto &h = *static_cast<Host *>(context);
                                      ++h.reads;
                                      if (h.breakOff) {
                                          h.debugger->requestPause();
                                          h.engine->m_breakFlag = true; // the host's stop
                                          return 0;
                                      }
                                      return h.reads < 4 ? 'x' : 0;
                                  },
        &host};
    EXPECT_EQ(session.debugger.resume(), DebugStop::Stopped);
    EXPECT_FALSE(session.debugger.isLive());
    EXPECT_EQ(session.debugger.stepBack(), DebugStop::Step);
    host.breakOff = false;
    EXPECT_EQ(session.debugger.resume(), DebugStop::Ended);
    EXPECT_EQ(host.reads, 4); // the broken-off read was asked again
    EXPECT_EQ(session.console.output, std::string("xx\0", 3));
}

// An input wait the user broke off (pause or stop) leaves the run before the "," that waited,
// with what the leg read before kept, and neither a replay nor going on asks for a byte that
// was never given.
TEST(Pause, ABrokenOffWaitStandsBeforeItsInput)
{
    const Program program {"+.,.,.", "", true, {}};
    for (const bool pause : {true, false}) {
        for (const std::int64_t exactFirst : {std::int64_t {0}, tDebugger::NoLimit})
            for (const bool profiled : {false, true}) {
                Session session(program, exactFirst);
                struct Host
                {
                    tDebugger *debugger;
                    bool pause;
                    int reads = 0;
                } host {&session.debugger, pause};
                session.debugger.hostInput = {[](void *context) -> std::uint8_t {
                                                  auto &h = *static_cast<Host *>(context);
                                                  if (++h.reads == 2)
                                                      h.debugger->breakOffInput(h.pause);
                                                  return 'a';
                                              },
                    &host};
                session.debugger.stepInto();
                EXPECT_EQ(profiled ? session.debugger.profiledResume() : session.debugger.resume(),
                    pause ? DebugStop::Paused : DebugStop::Stopped);
                // The profile counts what ran, up to the wait: the '+' stepped over had none.
                if (profiled) {
                    EXPECT_EQ(session.debugger.profile().commandCounts(session.engine),
                        (std::vector<std::int64_t> {0, 0, 1, 1, 1, 0, 0, 0}));
                }
                EXPECT_EQ(session.debugger.isLive(), pause);
                EXPECT_EQ(session.debugger.commands(), 4);
                EXPECT_EQ(session.debugger.position(), 5);
                EXPECT_EQ(session.debugger.tape()[32767], 'a');
                session.debugger.reverseResume();
                EXPECT_EQ(host.reads, 2); // the replay asked nothing
                EXPECT_EQ(session.debugger.resume(), DebugStop::Ended);
                EXPECT_EQ(host.reads, 3);
                EXPECT_EQ(session.console.output,
                    std::string("\x01"
                                "aa"));
            }
    }
}

// A hook that throws leaves the run where the leg began, paused, with nothing lost.
TEST(Faults, AThrowingHookTakesTheRunBackToTheLegsStart)
{
    const Program program {"++[>,.<-]", "", true, {}};
    for (const std::int64_t exactFirst : {std::int64_t {0}, tDebugger::NoLimit}) {
        Session session(program, exactFirst);
        int reads = 0;
        session.debugger.hostInput = {[](void *context) -> std::uint8_t {
                                          if (++*static_cast<int *>(context) == 2)
                                              throw std::runtime_error("bad input");
                                          return 'a';
                                      },
            &reads};
        session.debugger.runTo(4);
        const std::int64_t before = session.debugger.commands();
        EXPECT_THROW(session.debugger.resume(), std::runtime_error);
        EXPECT_TRUE(session.debugger.isLive());
        EXPECT_EQ(session.debugger.lastStop(), DebugStop::Paused);
        EXPECT_EQ(session.debugger.commands(), before);
        EXPECT_EQ(session.debugger.position(), 4);
        EXPECT_EQ(session.debugger.resume(), DebugStop::Ended);
        EXPECT_EQ(session.console.output, std::string("aa"));
        EXPECT_EQ(reads, 3);
    }
}

TEST(Faults, StopWithTheExactRunsResult)
{
    Program program {"<<+[->+<]", "", false, {}};
    program.text = std::string(32767, '<') + "[-]<";
    for (const std::int64_t exactFirst : {std::int64_t {0}, tDebugger::NoLimit}) {
        Session session(program, exactFirst);
        EXPECT_EQ(session.debugger.resume(), DebugStop::Fault);
        EXPECT_EQ(session.debugger.result(), ResultBelowDataArea);
        EXPECT_FALSE(session.debugger.isLive());
        expectExactState(program, session);
        // Further requests change nothing; a step back revives the run before the fault.
        EXPECT_EQ(session.debugger.stepInto(), DebugStop::Fault);
        EXPECT_EQ(session.debugger.stepBack(), DebugStop::Step);
        EXPECT_TRUE(session.debugger.isLive());
        expectExactState(program, session);
    }
}

TEST(Requests, OnNothingOrNowhereChangeNothing)
{
    tBF engine;
    tDebugger debugger(engine);
    EXPECT_EQ(debugger.stepInto(), DebugStop::Started); // never started: nothing runs
    EXPECT_EQ(debugger.stepBack(), DebugStop::Started);
    EXPECT_EQ(debugger.commands(), 0);

    engine.LoadCode("+.");
    engine.MatchBrackets();
    debugger.start();
    debugger.setBreakpoint(0, true);
    debugger.setBreakpoint(3, true); // past the program, as after an edit that shortened it
    debugger.setBreakpoint(-5, true);
    EXPECT_TRUE(debugger.breakpoints().empty());
    EXPECT_EQ(debugger.stepBack(), DebugStop::HistoryStart);
    EXPECT_EQ(debugger.resume(), DebugStop::Ended);
    EXPECT_EQ(debugger.commands(), 2);
    debugger.setCell(-1, 1);
    debugger.setCell(tBF::TapeCells, 1);
    EXPECT_EQ(debugger.stepBack(), DebugStop::Step);
    EXPECT_EQ(debugger.commands(), 1);
}

TEST(Requests, UnpairedBracketsRunOneByOne)
{
    const Program program {"+++[>+<-]]>.", "", true, {}};
    Session session(program, 0);
    session.debugger.setBreakpoint(12, true);
    EXPECT_EQ(session.debugger.resume(), DebugStop::Breakpoint);
    expectExactState(program, session);
}

// Watches kept from a run on a larger tape, past this tape's end or reaching it, watch
// nothing there: the run goes as without them.
TEST(Requests, WatchesPastTheTapeEndWatchNothing)
{
    const Program program {"++++++++[->++++++++<]>+.[>+<-]>.", "", true, {}};
    const State exact = exactState(program, 1 << 20);
    Session session(program, 0);
    const std::int32_t last = session.engine.m_lastCell;
    session.debugger.setWatch({.first = last + 10, .last = last + 20}, true);
    session.debugger.setWatch(
        {.kind = DebugWatch::Kind::Enter, .first = last, .last = last + 5}, true);
    EXPECT_EQ(session.debugger.runToEnd(), ResultOk);
    EXPECT_EQ(session.console.output, exact.output);
    EXPECT_EQ(session.debugger.lastStop(), DebugStop::Ended);
}

// ---- history ------------------------------------------------------------------------------

TEST(History, ReverseResumeFindsTheLastBreakpointPass)
{
    const Program program {"+++++[>++<-]>[-<+>]<.", "", true, {}};
    Session session(program);
    session.debugger.setBreakpoint(8, true); // "+" inside the first loop: five passes
    while (session.debugger.resume() == DebugStop::Breakpoint) { }
    std::vector<std::int64_t> passes;
    while (session.debugger.reverseResume() == DebugStop::Breakpoint) {
        passes.push_back(session.debugger.commands());
        EXPECT_EQ(session.debugger.position(), 8);
        expectExactState(program, session);
    }
    EXPECT_EQ(passes.size(), 5u);
    EXPECT_TRUE(std::is_sorted(passes.rbegin(), passes.rend()));
    EXPECT_EQ(session.debugger.lastStop(), DebugStop::HistoryStart);
    EXPECT_EQ(session.debugger.commands(), 0);
    EXPECT_EQ(session.console.output.size(), 1u);
}

// Past several snapshots: stepping back restores the one before and replays from it.
TEST(History, StepsBackAcrossSnapshotsOfALongRun)
{
    // About 3 * 2^24 commands: a counter of three nested 256-round loops.
    const Program program {"-[>-[>-[-]<-]<-]>>+.", "", true, {}};
    Session session(program);
    EXPECT_EQ(session.debugger.resume(), DebugStop::Ended);
    const std::int64_t total = session.debugger.commands();
    EXPECT_GT(total, 3 * tDebugger::SnapshotSpacing);
    EXPECT_EQ(session.debugger.stepBack(), DebugStop::Step);
    EXPECT_EQ(session.debugger.commands(), total - 1);
    expectExactState(program, session);
    EXPECT_LT(session.debugger.historyBytes(), std::size_t {64} << 20);
    EXPECT_EQ(session.console.output.size(), 1u);
}

TEST(History, AnEditedCellTakesTheRunsWidth)
{
    Program program {"+>+<[.>]", "", true, {}};
    program.dialect.cellBits = 16;
    Session session(program);
    session.debugger.runTo(5);
    session.debugger.setCell(session.debugger.dataPointer() + 1, 70000);
    EXPECT_EQ(session.debugger.cellValue(session.debugger.dataPointer() + 1), 70000u & 0xFFFF);
    session.debugger.setCell(session.debugger.dataPointer(), 0xFFFFFFFF);
    session.debugger.resume(); // "." writes each cell's low byte
    EXPECT_EQ(session.console.output, std::string("\xFF\x70"));
}

TEST(History, AnEditedCellStartsTheHistoryAgain)
{
    const Program program {"+>+>+<<[.>]", "", true, {}};
    Session session(program);
    session.debugger.runTo(8);
    session.debugger.setCell(session.debugger.dataPointer() + 1, 7);
    EXPECT_EQ(session.debugger.stepBack(), DebugStop::HistoryStart);
    EXPECT_EQ(
        session.debugger.tape()[static_cast<std::size_t>(session.debugger.dataPointer() + 1)], 7);
    session.debugger.resume();
    EXPECT_EQ(session.console.output, std::string("\x01\x07\x01"));
}

} // namespace
