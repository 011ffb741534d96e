#pragma once

#include "u_Brainfuck.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How often each command of a program ran, gathered on the optimised path without counting
// command by command: a run's flow through a Brainfuck program is fixed by where it started
// and stopped and by how often each bracket jumped (a "[" past its loop, a "]" back to its
// body's start), and every operation knows those jumps from the rounds it ran.
struct tProfile
{
    // Per position (0 .. length + 1): the jumps of the bracket there, and the runs that
    // started (+1) or stopped (-1) before the command there. A "]" that jumped back counts as
    // its "[" skipping the loop once fewer: commandCounts sums both alike, and a loop whose
    // rounds are known at once notes them at its "[" alone.
    std::vector<std::int64_t> jumps;
    std::vector<std::int64_t> flow;

    // Empty, for a program of length commands.
    void reset(std::int32_t length);
    bool empty() const { return jumps.empty(); }
    // A run (or a leg of one) went from the command at position to the one at stop (past the
    // program: length + 1; a failing command counts as not run).
    void started(std::int32_t position) { ++flow.at(static_cast<std::size_t>(position)); }
    void stopped(std::int32_t position) { --flow.at(static_cast<std::size_t>(position)); }
    // Per position 1 .. length of engine's program (brackets matched): the times its command
    // ran. Element 0 is unused.
    std::vector<std::int64_t> commandCounts(const tBF &engine) const;
};

// What the optimiser makes of a loop.
enum class tLoopShape {
    Loop, // runs as a loop, round by round
    Clear, // sets its cell at once
    Multiply, // adds multiples of its cell to others at once
    Scan, // looks for a zero cell
    Repeat, // one block per round, in one operation
    Collapse, // a repeat whose rounds settle, the rest added at once
};

// A loop of a profiled run.
struct tLoopProfile
{
    std::int32_t open = 0; // position of its "["
    std::int32_t close = 0; // and of its "]"
    std::int64_t entries = 0; // times its "[" ran
    std::int64_t rounds = 0; // times its "]" ran
    tLoopShape shape = tLoopShape::Loop;
};

// The loops of engine's program (brackets matched), those with the most rounds first, at
// most limit of them; counts from commandCounts.
std::vector<tLoopProfile> hottestLoops(
    const tBF &engine, const std::vector<std::int64_t> &counts, std::size_t limit);

// The word for a shape as the runner and the built-in texts name it ("clear", ...).
const char *shapeName(tLoopShape shape);

// Runs the loaded program as Run does on the optimised path (machine code where built, else the
// threaded loop), noting into
// profile; the idle hook is called coarsely, as for a debugger. Returns nothing, having run
// nothing, when the brackets are not all paired.
std::optional<int> runProfiled(tBF &engine, tProfile &profile);

// One line per command: line, column (both from 1, columns counting UTF-8 characters), the
// command and its count, separated by tabs. offsets: each command's offset in text
// (command n at offsets[n - 1]).
std::string profileTable(std::string_view text, const std::vector<std::size_t> &offsets,
    const tBF &engine, const std::vector<std::int64_t> &counts);
