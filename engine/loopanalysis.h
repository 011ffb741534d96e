#pragma once

#include "optimizer.h"
#include "u_Brainfuck.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// The loop shapes the optimiser folds, read straight from the program text.

// A loop body without nested loops: a Scan (moves only, all one way, by stride), a Clear or
// Multiply loop (no net move, steps its own cell by one; terms add to other cells), or none
// of these.
struct LoopShape
{
    enum class Kind { General, Clear, Multiply, Scan } kind = Kind::General;
    std::int32_t stride = 0;
    bool stepsDown = false;
    std::vector<std::pair<std::int32_t, std::int32_t>> terms; // (offset, factor)
    std::int32_t low = 0;
    std::int32_t high = 0;
};

// The shape of the loop from open to its partner close.
LoopShape classifyLoop(const tCodeArr &code, std::int32_t open, std::int32_t close);

// Each bracket's partner, when every bracket of positions 1 .. length is paired exactly as
// jumps says; nothing otherwise.
std::optional<std::vector<std::int32_t>> pairBrackets(
    const tCodeArr &code, const tJmpArr &jumps, std::int32_t length);

// Whether the loop's body is one block: cell arithmetic, moves, clear and multiply loops.
bool hasBlockBody(const tCodeArr &code, const std::vector<std::int32_t> &partner, std::int32_t open,
    std::int32_t close);

// Fills loop's collapse fields from its body operations (loop.shift must be set).
void analyseCollapse(RepeatLoop &loop, const std::vector<Op> &ops);
