#pragma once

#include "u_Brainfuck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The optimised path's instruction set, and the translation of a compiled program into it.
//
// A program flows: text -> planProgram (loop shapes, checkpoints; loopanalysis.h) ->
// translateProgram (operations) -> countIdleCosts (work units; idlecost.h) -> the threaded
// loop (fastexec.cpp). A block is a stretch of commands between loop brackets that stay
// loops; its operations address cells relative to the data pointer p at the block's start,
// and its pointer movement is applied once, at the boundary operation that ends it.
//
// Words used here, and what compilers elsewhere call them:
// - careful path: the slow path, a bailout that runs commands one by one with every
//   tape-end test, taken when a guard fails;
// - stretch: the bailout range, the commands first .. last the careful path runs;
// - held cells: cells a loop keeps in registers across its rounds (register allocation);
// - settle, collapse: a loop's states reach a fixed point, and the rounds left are then
//   applied at once, in closed form;
// - units: the fuel a coarse idle hook is paid in (idlecost.h).

// The last cell of the default tape.
inline constexpr std::int32_t LastCell = tBF::TapeCells - 1;

// The cells low .. high relative to p, both included.
struct CellRange
{
    std::int32_t low = 0;
    std::int32_t high = 0;

    bool operator==(const CellRange &) const = default;
};

// A range no pointer reaches: a guard over it always sends the block to the careful path.
inline constexpr CellRange Nowhere {-(1 << 30), -(1 << 30)};
// No cells at all (low above high).
inline constexpr CellRange NoCells {1 << 30, -(1 << 30)};

// Every operation may touch or point at the cells of its range and no other; a guard tests a
// block's whole range once, and a block whose range could leave the tape runs its commands
// one by one instead. With c(k) the cell p + k and n a loop counter's value on entry:
//
// kind         effect                                               cells (relative to p)
// Add          c(offset) += value                                   offset
// Set          c(offset) = value (a clear loop, maybe with an add)  the loop's path, or offset
// Multiply     n = c(offset); c(offset) = 0; each of the `value`    the loop's path
//              Terms after it: c(term.offset) += term.value * n
// Term         read only by its Multiply                            offset
// MultiplyOne  n = c(offset); c(offset) = 0; c(target) += value*n   the loop's path
// Output       output hook(c(offset))                               offset
// Input        c(offset) = input hook()                             offset
// Check        guard: when its cells are not all on the tape (or    the block after it: its
//              the block may write a guarded cell), run the        operations' cells and
//              commands of stretches[index] one by one and         every cell p passes
//              continue at the stretch's resume operation
// Move         p += value                                           0 .. value
// Open         p += value; if c(0) == 0 go to jump, else enter the  the body's first block
//              body, skipping its Check when cells fit
// Close        p += value; if c(0) != 0 go to jump, skipping the    the body's first block
//              body's Check when cells fit. With index > 0 the loop
//              may settle as a whole (nests[index - 1]): Open
//              starts its settling afresh, Close compares the
//              round's cells and may end the loop at once
// Repeat       p += value; while c(0) != 0: one round of the body   one round of the body
//              (the next loops[index].bodyCount operations) under
//              the guard cells, then p += loops[index].shift
// Scan         while c(0) != 0: p += value (stretches[index] past   0
//              the tape ends)
// Checkpoint   a coarse idle hook may run: p + offset, next command offset
// Stop         p += value; a debugger's stop before the command     0
//              at position (a breakpoint, a target)
// End          p += value; the program has ended                    0
//
// `position` is the command an operation stands for: the command itself for Output and
// Input, the bracket for Open, Close, Repeat and Scan, the next command for Checkpoint, the
// first command of the block for Check, and one past the program for End.

// The operation kinds, in one list from which the enum, the name table and the threaded
// loop's dispatch table are made: each follows this order. Kept out of the formatter, which
// reflows the list differently on every run.
// clang-format off
#define CEREBRIX_OP_KINDS(X) \
    X(Add) X(Set) X(Multiply) X(Term) X(MultiplyOne) X(Output) X(Input) X(Check) X(Move) \
    X(Open) X(Close) X(Repeat) X(Scan) X(Checkpoint) X(Stop) X(End)
// clang-format on

enum class OpKind : std::int32_t {
#define CEREBRIX_OP_ENUMERATOR(name) name,
    CEREBRIX_OP_KINDS(CEREBRIX_OP_ENUMERATOR)
#undef CEREBRIX_OP_ENUMERATOR
};

inline constexpr const char *OpKindNames[] = {
#define CEREBRIX_OP_NAME(name) #name,
    CEREBRIX_OP_KINDS(CEREBRIX_OP_NAME)
#undef CEREBRIX_OP_NAME
};
inline constexpr std::size_t OpKindCount = std::size(OpKindNames);
static_assert(static_cast<std::size_t>(OpKind::End) + 1 == OpKindCount);

struct Op
{
    OpKind kind = OpKind::End;
    std::int32_t offset = 0; // the cell it works on, relative to p
    std::int32_t value = 0; // its constant: an amount, a factor, a count or a pointer step
    std::int32_t target = 0; // a second cell, relative to p
    std::int32_t jump = 0; // the operation it may continue at
    std::int32_t index = 0; // its entry in Program::loops or Program::stretches
    std::int32_t position = 0; // the command it stands for
    CellRange cells; // every cell it may touch or point at
};

// Commands first .. last run one by one when a block or scan could leave the tape; the
// operation at resume follows, and foldedShift is the pointer movement it applies again.
struct Stretch
{
    std::int32_t first = 0;
    std::int32_t last = 0;
    std::int32_t resume = 0;
    std::int32_t foldedShift = 0;
    // A Check's block: every cell one of its commands may write ("+", "-", ","), relative to
    // the pointer at the Check, in order. Where it may reach a guarded cell the block runs one
    // by one.
    std::vector<std::int32_t> writes;
};

// A loop whose body is one block without input or output, run by one operation.
struct RepeatLoop
{
    std::int32_t bodyCount = 0; // operations after the Repeat
    std::int32_t shift = 0; // pointer movement per round
    std::int32_t first = 0; // position of "["
    std::int32_t last = 0; // position of "]"
    std::int64_t roundCost = 0; // work units of one round, set by countIdleCosts
    // Every cell a round's commands may write, relative to the loop's cell as the round begins,
    // in order: a round that may reach a guarded cell runs, with the rest of the loop, one by
    // one.
    std::vector<std::int32_t> writes;
    // A loop that steps its own cell by one and otherwise only adds to cells (sums) or
    // rewrites cells from themselves and constants (states) repeats its last round once the
    // states stop changing, so the remaining rounds collapse into multiplied sums.
    bool collapsible = false;
    bool stepsDown = false;
    // Its states come out of every round alike, whatever they went in as: the loop settles in
    // its first round, and machine code tries to collapse it at once.
    bool settlesAtOnce = false;
    std::vector<std::int32_t> states;
    std::vector<std::int32_t> sums;
    // Every round leaves each state at the same value and adds the same to each sum, whatever
    // the cells held before it: machine code runs no round at all, it sets the states and
    // multiplies the sums' steps by the rounds (TranslationOptions::closesConstantRounds).
    bool closesAtOnce = false;
    // Its cells are tested by the Check of the block before it (coversClosedLoops).
    bool covered = false;
    std::vector<std::pair<std::int32_t, std::uint32_t>> roundStates; // cell, value it is left at
    std::vector<std::pair<std::int32_t, std::uint32_t>> roundSteps; // sum but its own, its step
};

// A loop that stays a loop (Open .. Close) whose body, inner loops and all, comes back to
// the same pointer and holds no input, output, scan or stop. Its cells are sums (only ever
// added to: by adds, multiply terms or inner loops' adds, never read in the body; its own
// cell among them) and states (everything else). A round that leaves the states as it found
// them is repeated by every round after it, adding to each sum what it added; the rounds left
// follow from its counter at once (by the modular inverse of its step at the cells' width),
// and where no count of rounds reaches zero the loop runs on, round by round, forever.
struct NestLoop
{
    CellRange cells; // every cell a round may touch or point at, relative to the loop's cell
    std::vector<std::int32_t> sums; // relative to the loop's cell, 0 among them
    std::int32_t first = 0; // position of "["
    std::int32_t last = 0; // position of "]"
};

// The cells a settling loop may span: its snapshot is taken and compared every early round.
inline constexpr std::int32_t MostNestCells = 64;
// The operations a settling loop's body may hold.
inline constexpr std::size_t MostNestOperations = 2048;

// Rounds a collapsible loop gets to settle before it simply runs on.
inline constexpr unsigned MostSettlingRounds = 4;
// Steps a Scan takes inline before it calls out; they are counted in advance.
inline constexpr std::int32_t InlineScanSteps = 8;

// The commands a counting translation adds to the count at an operation: before runs ahead
// of any idle call there, own after it, and a loop adds perRound for every round it ran
// (a folded loop's rounds follow from its counter: n stepping down, 256 - n stepping up).
struct OpCount
{
    std::int64_t before = 0;
    std::int32_t own = 0;
    std::int32_t perRound = 0;
    bool stepsDown = true;
};

// What a debugger asks of a translation beyond speed.
struct TranslationOptions
{
    // Per position (empty: none), whether the run stops before that command: a Stop
    // operation each, and a loop that holds one stays a loop.
    std::vector<bool> stops;
    // Whether the run counts the commands it executes: every clear loop becomes its own Set
    // and no loop collapses its rounds, so every operation's count follows from the cells it
    // sees.
    bool countsCommands = false;
    // The tape the run has: its last cell, and the largest value of a cell (its width), by
    // which amounts wrap and loops count their rounds.
    std::int32_t lastCell = LastCell;
    std::uint32_t cellMask = 0xFF;
    // Whether loops that hold loops may settle as a whole (NestLoop); off, they run round by
    // round, which tells a difference this transformation makes from all others.
    bool settlesNests = true;
    // Whether loops in place whose rounds all do the same (RepeatLoop::closesAtOnce) are solved
    // without running a round; off, they settle as other loops do.
    bool closesConstantRounds = true;
    // Whether machine code tests a range with no cell above the pointer at the low end of the
    // tape alone (the pointer is on the tape wherever a range is tested), and a moving loop's
    // rounds after the first at the end they move towards alone (the round before stayed on
    // the tape); off, at both ends.
    bool testsOneEnd = true;
    // Whether machine code under a coarse idle hook runs a moving loop's rounds without testing
    // the budget while it covers a move across the whole tape (spending the distance moved at
    // once); off, every round tests it.
    bool movesUntested = true;
    // Whether the Check before a loop solved at once (RepeatLoop::closesAtOnce) also tests the
    // loop's cells and the block after it, which then test nothing themselves; off, each tests
    // its own.
    bool coversClosedLoops = true;
    // Cells (absolute; NoCells: none) a debugger watches for writes, in a counting
    // translation: every block and Repeat round that may write one of them runs its commands
    // one by one, as a block that could leave the tape does; all others run as usual.
    CellRange guarded = NoCells;
};

// The options for a run of engine's program in its dialect.
TranslationOptions optionsFor(const tBF &engine);

struct Program
{
    // The tape it was made for (TranslationOptions).
    std::int32_t lastCell = LastCell;
    std::uint32_t cellMask = 0xFF;
    CellRange guarded = NoCells;
    bool testsOneEnd = true; // TranslationOptions::testsOneEnd
    bool movesUntested = true; // TranslationOptions::movesUntested
    bool guards() const { return guarded.low <= guarded.high; }
    std::vector<Op> ops;
    std::vector<Stretch> stretches;
    std::vector<RepeatLoop> loops;
    std::vector<NestLoop> nests; // loops that may settle as a whole, by their Open's index - 1
    // Per operation, for hosts with a coarse idle hook (countIdleCosts): the work units run
    // since the previous loop boundary or Checkpoint, non-zero only at those; inside a loop
    // most boundaries leave theirs to the loop's "]", which counts them once a round.
    std::vector<std::int64_t> costs;
    // The largest count the idle hook's counter can grow by between two tests.
    std::int64_t largestCost = 0;
    // Counting translations only: per operation (countCommands), and for each position the
    // operation a run standing before that command may start at (-1: none).
    std::vector<OpCount> counts;
    std::vector<std::int32_t> entries;
};

// Returns nothing when the brackets of code (positions 1 .. length) are not all paired
// exactly as jumps says; such programs run on the exact path.
std::optional<Program> translateProgram(const tCodeArr &code, const tJmpArr &jumps,
    std::int32_t length, const TranslationOptions &options = {});

// The operations of program, one line each, as cerebrix-run --ops prints them: the index,
// the kind, its fields, the cells it may touch and the command it stands for.
std::string describeOperations(const Program &program);

// Written cells up to this many are tested one by one against guarded cells; more, as the
// range from the lowest to the highest.
inline constexpr std::size_t MostTestedWrites = 8;

// Whether cells written (relative to dataPointer, on the tape; in order) may include a
// guarded cell.
inline bool mayWrite(
    std::int32_t dataPointer, const std::vector<std::int32_t> &writes, CellRange guarded)
{
    const auto reaches = [&](std::int32_t low, std::int32_t high) {
        return std::int64_t {dataPointer} + low <= guarded.high &&
            std::int64_t {dataPointer} + high >= guarded.low;
    };
    if (writes.size() > MostTestedWrites)
        return reaches(writes.front(), writes.back());
    return std::any_of(
        writes.begin(), writes.end(), [&](std::int32_t cell) { return reaches(cell, cell); });
}

// Whether every cell of range lies on a tape whose last cell is lastCell when the pointer is at
// dataPointer. A translation makes no range wider than its tape (Nowhere instead).
inline bool fits(std::int32_t dataPointer, CellRange range, std::int32_t lastCell = LastCell)
{
    // One unsigned compare: a range that starts below cell 0 wraps to a huge start.
    const auto start = static_cast<std::uint32_t>(dataPointer + range.low);
    const auto lastStart = static_cast<std::uint32_t>(lastCell - (range.high - range.low));
    return start <= lastStart;
}
