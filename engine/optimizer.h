#pragma once

#include "u_Brainfuck.h"

#include <cstdint>
#include <optional>
#include <vector>

// Translation of a compiled program into the operation list of the optimised executor.
// A block is a stretch of commands between loop brackets that cannot stay loops (scans and
// general loops); its operations address cells relative to the data pointer at the block's
// start, and its pointer movement is applied once at its end.

enum class OpKind : std::int32_t {
    Add, // cell[offset] += value (mod 256)
    Set, // cell[offset] = value
    Multiply, // loop that steps cell[offset] down to zero, v rounds from v (loops that step
              // up run as if stepping down with negated factors); the value Term operations
              // that follow add factor x v to their cells
    Term, // cell[offset] += value x v; only read by the Multiply in front of it
    MultiplyOne, // the common Multiply with one Term: cell[limit] += value x v
    Output, // hook(cell[offset]); extra is the command's position
    Input, // cell[offset] = hook(); extra is the command's position
    Check, // starts a block that moves: taken only when cells offset .. offset + span stay on
           // the tape; value = last cell - span, extra indexes Program::blocks
    Move, // data pointer += value
    Open, // data pointer += value, then to operation extra when the cell is 0
    Close, // data pointer += value, then back to the loop body (operation extra) when the
           // cell is not 0. Both also run the Check that starts the loop body (offset, limit)
           // and skip it when it passes: one dispatch less per round.
    Repeat, // data pointer += value, then the loop Program::loops[extra] whose body is the
            // operations that follow; (offset, limit) check the body's cells like a Check
    Scan, // loop of pointer moves only: data pointer steps by value until a zero cell;
          // extra indexes Program::blocks (the loop's commands, for the careful path)
    Checkpoint, // coarse idle hook only: value work units were run; the pointer stands at
                // offset, the next command at position extra
    End, // data pointer += value; the program has ended
};

struct Op
{
    OpKind kind;
    std::int32_t offset = 0;
    std::int32_t value = 0;
    std::int32_t extra = 0;
    std::int32_t limit = 0;
};

// What the careful path needs when a block or scan could leave the tape: the commands to
// run one by one (positions first .. last), where to continue, and the pointer movement
// that the operation at resume applies again.
struct CarefulRange
{
    std::int32_t first = 0;
    std::int32_t last = 0;
    std::int32_t resume = 0;
    std::int32_t foldedShift = 0;
};

// A loop whose body is one block without input or output, run by one operation.
struct RepeatLoop
{
    std::int32_t bodyCount = 0; // operations after the Repeat
    std::int32_t shift = 0; // pointer movement per round
    std::int32_t first = 0; // position of "["
    std::int32_t last = 0; // position of "]"
    std::int64_t roundCost = 0; // work units of one round
    // A loop that steps its own cell by one and otherwise only adds to cells (sums) or
    // rewrites cells from themselves and constants (states) repeats its last round once the
    // states stop changing, so the remaining rounds collapse into multiplied sums.
    bool collapsible = false;
    bool stepsDown = false;
    std::vector<std::int32_t> states;
    std::vector<std::int32_t> sums;
};

// Rounds a collapsible loop gets to settle before it simply runs on.
inline constexpr unsigned MostSettlingRounds = 4;
// Steps a Scan takes inline before it calls out; they are counted in advance.
inline constexpr std::int32_t InlineScanSteps = 8;

struct Program
{
    std::vector<Op> ops;
    std::vector<CarefulRange> blocks;
    std::vector<RepeatLoop> loops;
    // Per operation, for hosts with a coarse idle hook: an upper bound of the work units run
    // since the previous loop boundary or Checkpoint (non-zero only at Open, Close, Repeat,
    // Scan and End), and the bracket position the operation stands for.
    std::vector<std::int64_t> costs;
    std::vector<std::int32_t> positions;
    // The largest count the idle hook's counter can grow by between two tests: costs,
    // Checkpoint values, the round cost of Repeat loops and the settling of collapsing ones.
    std::int64_t largestCost = 0;
};

// Returns nothing when the brackets of code (positions 1 .. length) are not all paired
// exactly as jumps says; such programs run on the exact path.
std::optional<Program> translateProgram(
    const tCodeArr &code, const tJmpArr &jumps, std::int32_t length);
