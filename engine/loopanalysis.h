#pragma once

#include "optimizer.h"
#include "u_Brainfuck.h"

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

// The loop shapes the optimiser folds, read straight from the program text, and the plan
// of how each loop of a program runs.

// A loop body without nested loops: a Scan (moves only, all one way, by stride), a Clear or
// Multiply loop (no net move, steps its own cell by one; terms add to other cells), or none
// of these. path holds every cell the body's pointer reaches, relative to the loop's cell.
struct LoopShape
{
    enum class Kind { General, Clear, Multiply, Scan } kind = Kind::General;
    std::int32_t stride = 0;
    bool stepsDown = false;
    std::vector<std::pair<std::int32_t, std::int32_t>> terms; // (offset, factor)
    CellRange path;
};

// The shape of the loop from open to its partner close, on cells whose largest value is
// cellMask (amounts wrap there).
LoopShape classifyLoop(
    const tCodeArr &code, std::int32_t open, std::int32_t close, std::uint32_t cellMask);

// Each bracket's partner, when every bracket of positions 1 .. length is paired exactly as
// jumps says; nothing otherwise.
std::optional<std::vector<std::int32_t>> pairBrackets(
    const tCodeArr &code, const tJmpArr &jumps, std::int32_t length);

// Fills loop's collapse fields from its body operations (loop.shift must be set);
// closesConstant allows RepeatLoop::closesAtOnce.
void analyseCollapse(
    RepeatLoop &loop, const std::vector<Op> &ops, std::uint32_t cellMask, bool closesConstant);

// Work units a straight stretch may hold before a coarse idle hook gets a Checkpoint in it;
// a loop body with more stays a loop instead of running as one Repeat operation.
inline constexpr std::int64_t CheckpointCost = 16384;

// The units of an output or input command: its hook call costs far more than a command, and
// a loop that does little else must still reach the idle hook often.
inline constexpr std::int64_t TransferUnits = 64;

// The units of a command run one by one.
inline constexpr std::int64_t unitsOfCommand(char command)
{
    return command == '.' || command == ',' ? TransferUnits : 1;
}

// How each loop of a program runs, and what its commands cost a coarse idle hook.
struct ProgramPlan
{
    enum class Role : std::uint8_t {
        Command, // not a "[" that starts a loop of its own
        Folded, // a clear or multiply loop: one operation inside a block
        Scan,
        Repeat, // a loop whose body is one block: one operation
        Open, // a loop that stays a loop; its "]" becomes a Close
    };
    std::vector<std::int32_t> partner; // each bracket's partner
    std::vector<Role> roles; // at each "["
    std::unordered_map<std::int32_t, LoopShape> shapes; // folded and scan loops, at their "["
    // Work units of the commands before each position: unitsOfCommand per command, a folded
    // loop's (one, plus one per cell it adds to) at its "[", nothing for the brackets of
    // loops.
    std::vector<std::int64_t> unitsBefore;
    std::vector<bool> checkpointBefore; // a coarse idle hook's Checkpoint goes before it

    std::int64_t unitsOf(std::int32_t first, std::int32_t last) const
    {
        return first > last ? 0
                            : unitsBefore[static_cast<std::size_t>(last) + 1] -
                unitsBefore[static_cast<std::size_t>(first)];
    }
};

// The plan of code (positions 1 .. length), whose brackets partner pairs; a loop that holds
// one of options' stops stays a loop.
ProgramPlan planProgram(const tCodeArr &code, std::vector<std::int32_t> partner,
    std::int32_t length, const TranslationOptions &options = {});
