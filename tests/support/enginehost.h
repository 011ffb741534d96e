#pragma once

#include "u_Brainfuck.h"

#include <cstdint>
#include <string>

// Runs programs on the engine's paths and records everything a host can see: the exact path
// (a per-command idle hook), the optimised path (the default idle hook) and a coarse idle
// hook.

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
    std::string input;
    bool dataWrap = true;
    int breakAfterTransfers = 0; // 0: never; else the output or input hook sets the break flag
    long budget = 0; // 0: unlimited; else the exact run stops (and is not compared) after it
    long breakAtIdleCall = 0; // coarse path: the idle hook sets the break flag on this call
    // Exact path: the idle hook sets the break flag when the tape, output and input calls
    // match target's for the (skippedMatches + 1)-th time.
    const Outcome *target = nullptr;
    int skippedMatches = 0;
};

// Optimised and Coarse take the fastest back end (machine code where the build has it),
// Threaded and CoarseThreaded force the threaded interpreter. Debugged: run to the end under
// the debugger, on its counting optimised path at once.
enum class Path { Exact, Optimised, Threaded, Coarse, CoarseThreaded, Debugged };

// The paths without an idle hook of their own, and those with a coarse one.
inline constexpr Path PlainPaths[] = {Path::Optimised, Path::Threaded, Path::Debugged};
inline constexpr Path CoarsePaths[] = {Path::Coarse, Path::CoarseThreaded};

const char *pathName(Path path);

Outcome run(const Case &test, Path path, std::int32_t idleInterval = 1);

// Checks with GoogleTest that two runs look the same to a host, and that a debugged run
// counted the commands the exact run ran.
void expectSame(const Outcome &exact, const Outcome &other);

// Runs test on every plain path and checks each against exact.
void expectPlainPathsAgree(const Outcome &exact, const Case &test);

// The program without the moves that place the pointer near a tape end (all of it when it
// is nothing but moves), for failure messages.
std::string shownPart(const std::string &program);
