#pragma once

#include "u_Brainfuck.h"

#include <cstdint>
#include <string>

// Runs programs on the engine's paths and records everything a host can see: the exact path
// (a per-command idle hook), the optimised path on each back end (the default idle hook), a
// coarse idle hook, and the debugger. Free of any test framework: tests (enginecheck.h) and
// the differential fuzzer share it.

enum class Path;

// What a host sees of one run.
struct Outcome
{
    Path path {};
    int bracketResult = 0;
    int result = 0;
    std::string output;
    int inputCalls = 0;
    long commands = 0; // exact path: idle calls, one per command; coarse: idle calls;
                       // debugged: the debugger's count of the commands run
    std::int32_t codeLength = 0;
    bool finished = true; // false when the exact path ran out of its command budget
    bool reachedTarget = false; // exact path: stopped at Case::target
    std::int32_t dataPointer = 0;
    std::int32_t instructionPointer = 0;
    tDataArr tape;
};

struct Case
{
    std::string program;
    std::string input; // its end is reported to the engine as the end of input
    bool dataWrap = true;
    tDialect dialect;
    int breakAfterTransfers = 0; // 0: never; else the output or input hook sets the break flag
    long budget = 0; // 0: unlimited; else the exact run stops (and is not compared) after it
    long breakAtIdleCall = 0; // coarse path: the idle hook sets the break flag on this call
    // Exact path: the idle hook sets the break flag when the tape, output and input calls
    // match target's for the (skippedMatches + 1)-th time.
    const Outcome *target = nullptr;
    int skippedMatches = 0;
    // Debugged path: a breakpoint at this position (0: none), and the commands each leg runs
    // one by one before it hands over to the counting optimised path.
    std::int32_t breakpoint = 0;
    std::int64_t exactFirst = 0;
    bool settlesNests = true; // the optimised path may settle loops holding loops at once
    bool closesConstantRounds = true; // and solve loops whose rounds all do the same
    bool testsOneEnd = true; // machine code tests some ranges at one end of the tape
    bool movesUntested = true; // and, coarse, runs moving rounds without budget tests
    bool coversClosedLoops = true; // a block's test covers a loop solved at once after it
    // Machine code paths: the passes of a "]" the threaded loop makes before machine code
    // takes over (tBF::m_handOverAfter).
    std::int64_t handOverAfter = -1;
};

// Optimised and Coarse take the fastest back end (machine code where the build has it),
// Threaded and CoarseThreaded force the threaded interpreter. Debugged: run to the end under
// the debugger, on its counting optimised path at once (DebuggedThreaded: on the threaded
// interpreter).
enum class Path { Exact, Optimised, Threaded, Coarse, CoarseThreaded, Debugged, DebuggedThreaded };

// The paths without an idle hook of their own, and those with a coarse one.
inline constexpr Path PlainPaths[] = {
    Path::Optimised, Path::Threaded, Path::Debugged, Path::DebuggedThreaded};
inline constexpr Path CoarsePaths[] = {Path::Coarse, Path::CoarseThreaded};

const char *pathName(Path path);

Outcome run(const Case &test, Path path, std::int32_t idleInterval = 1);

// What a host could tell apart between the exact run and another (empty when nothing):
// results, output, input calls, pointers, the tape, and a debugged run's count of commands.
std::string differenceBetween(const Outcome &exact, const Outcome &other);

// A dialect for every number, 0 the default one: width, end of input, start and tape size
// (65,536, 7, 300, 2 or 1 cells, where off-by-ones at the ends show) all change with it.
tDialect dialectFor(unsigned number);

// The dialect in words, for failure messages: "16 bits, eof all-ones, 7 cells from the left".
std::string describe(const tDialect &dialect);

// The moves that put the pointer distance cells from the low or the high end of dialect's
// tape (none where the start is that close already).
std::string towardEnd(const tDialect &dialect, bool lowEnd, int distance);

// The program without the moves that place the pointer near a tape end (all of it when it
// is nothing but moves), for failure messages.
std::string shownPart(const std::string &program);
