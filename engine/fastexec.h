#pragma once

#include "interpreter.h"
#include "optimizer.h"
#include "u_Brainfuck.h"

#include <optional>

// Runs the loaded program on the optimised path when no host can tell it from the
// exact one: the idle hook is the engine's default, or the host declared it coarse
// (m_idleInterval > 1; it is then called at least once every m_idleInterval work units).
// Expects Run's set-up (fresh tape, pointers at their start). Returns nothing, having
// changed nothing, when the exact path must run instead: a per-command idle hook, brackets
// not all paired, or an idle interval too short for the program's longest straight stretch.
std::optional<int> runOptimised(tBF &engine);

// Whether hook is the do-nothing idle hook that the constructor installs.
bool isDefaultIdleHook(const tIdleHook &hook);

// How a counted run stopped: ended, at a Stop operation or by the break flag (Break, the
// engine's instruction pointer saying where), or at a failing command; and its count.
struct CountedRun
{
    Stop stop = Stop::Ended;
    int result = ResultOk;
    std::int64_t commands = 0;
};

class NativeCode;
struct CellWindow;

// Runs program, a counting translation of the engine's program, from the state the engine
// holds (tape, pointers) with commands executed so far, on the optimised path with a coarse
// idle hook (every m_idleInterval units, or as often as the program's blocks allow): as
// native, machine code for program, when given, else on the threaded loop. The instruction
// pointer must name a position with an entry. Leaves the engine's pointers where the run
// stopped. With a window, program was translated for the window's cells only (see CellWindow).
// With jumps (per position), a profiled run: it notes each bracket's jumps there
// (Machine::jumps), in machine code when native notes them (NativeCode::profiles), else on the
// threaded loop.
CountedRun runCounted(tBF &engine, const Program &program, std::int64_t commands,
    const NativeCode *native = nullptr, CellWindow *window = nullptr,
    std::int64_t *jumps = nullptr);
