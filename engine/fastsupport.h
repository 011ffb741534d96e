#pragma once

#include "interpreter.h"
#include "optimizer.h"
#include "u_Brainfuck.h"

#include <array>
#include <cstdint>
#include <vector>

// The pieces of the optimised executor that run outside its threaded loop: hooks, the
// careful command-by-command path near the tape ends, scans and whole loops.

// A debugger's watch over cells and the data pointer, told of every command the careful path
// runs (the optimised path runs there whatever can reach the watched cells).
struct CarefulWatch
{
    void *context = nullptr;
    // Before the command at position (absolute data pointer): true stops the run there.
    bool (*before)(void *context, std::int32_t position, std::int32_t dataPointer) = nullptr;
    // After the last command of a stretch: true stops the run before the next one.
    bool (*after)(void *context, std::int32_t dataPointer) = nullptr;
};

// A part of the tape the optimised path runs in as if it were the whole tape: the program
// was translated for a tape of its length, and cell 0 of the run is cell base of the engine.
struct CellWindow
{
    std::int32_t base = 0;
    CarefulWatch watch;
    // Set when a careful stretch left the pointer outside the window: the run stopped before
    // the next command, for the host to choose another window.
    bool left = false;
};

// The run's state. The tape is the engine's own, so hooks see the cells as they are; the
// program says how wide its cells are and where it ends.
struct Machine
{
    tBF &engine;
    const Program &program;
    std::uint8_t *tape; // its bytes: cells of the program's width
    std::int32_t dataPointer;
    std::int32_t instructionPointer;
    int result = ResultOk;
    // Coarse idle hook only: work units counted (from above) since the last idle call, and
    // the count at which the next call is due.
    bool counted = false;
    std::int64_t executed = 0;
    std::int64_t threshold = 0;
    // A counting translation's run: the commands executed so far.
    bool countsCommands = false;
    std::int64_t commands = 0;
    // A profiled counting run: per position, the times its "[" jumped past its loop or its
    // "]" jumped back (profile.h maps these to each command's count); null otherwise.
    std::int64_t *jumps = nullptr;
    // A debugger's window, if any: dataPointer is then relative to its base.
    CellWindow *window = nullptr;
    std::int32_t base() const { return window ? window->base : 0; }
    // Coarse idle hook: the units counted before the last idle call, all of them, so that a
    // settling loop can tell what its rounds cost.
    std::int64_t unitsCalled = 0;
    // The threaded loop's passes of a loop's "]" before it hands the run over to machine code
    // (0: never): it then stops after that "]", handOverAt naming the operation it leads to.
    std::int64_t handOverAfter = 0;
    std::int32_t handOverAt = -1;
    // Per settling loop (Program::nests): the rounds it may still try to settle in, set as it
    // is entered (NestSettlingRounds: none tried yet), and how its cells stood as its last
    // round began.
    std::vector<std::int32_t> nestRounds = std::vector<std::int32_t>(program.nests.size());
    struct NestStart
    {
        std::int32_t dataPointer = 0;
        std::int64_t units = 0;
        std::array<std::uint32_t, MostNestCells> cells {};
    };
    std::vector<NestStart> nestStarts = std::vector<NestStart>(program.nests.size());
};

// The rounds a settling loop's Open gives it: one to take its cells, then MostSettlingRounds
// to find a round that leaves its states as they were.
inline constexpr std::int32_t NestSettlingRounds = MostSettlingRounds + 1;

// MultiplyOne: the counter's value times the factor added to the target, the counter cleared.
// Cell is the cells' type; the products are unsigned, so they wrap at every width.
template<class Cell>
inline void multiplyOne(Cell *tape, std::int32_t dataPointer, const Op &op)
{
    Cell &counter = tape[dataPointer + op.offset];
    tape[dataPointer + op.target] +=
        static_cast<Cell>(counter * static_cast<std::uint32_t>(op.value));
    counter = 0;
}

// Multiply with its Terms; returns the operation after the last Term.
template<class Cell>
inline const Op *multiply(Cell *tape, std::int32_t dataPointer, const Op *op)
{
    Cell &counter = tape[dataPointer + op->offset];
    const std::uint32_t rounds = counter; // zero rounds change nothing: no branch
    const Op *const terms = op + 1;
    for (std::int32_t term = 0; term < op->value; ++term)
        tape[dataPointer + terms[term].offset] +=
            static_cast<Cell>(rounds * static_cast<std::uint32_t>(terms[term].value));
    counter = 0;
    return terms + op->value;
}

// One round of a Repeat body: the operations a block without input or output holds.
template<class Cell>
inline void runBody(Cell *tape, std::int32_t dataPointer, const Op *op, const Op *end)
{
    while (op != end) {
        Cell *const cell = tape + dataPointer + op->offset;
        switch (op->kind) {
        case OpKind::Add: *cell += static_cast<Cell>(op->value); break;
        case OpKind::Set: *cell = static_cast<Cell>(op->value); break;
        case OpKind::MultiplyOne: multiplyOne(tape, dataPointer, *op); break;
        case OpKind::Multiply: op = multiply(tape, dataPointer, op) - 1; break;
        default: break;
        }
        ++op;
    }
}

// The rounds a folded loop runs from its counter's value: counter stepping down, 2^bits -
// counter stepping up (0 for a zero counter either way).
template<class Cell>
inline std::uint32_t foldedRounds(Cell counter, bool stepsDown)
{
    return stepsDown ? counter : static_cast<Cell>(0u - counter);
}

// Output or input of the command at position on cell dataPointer; true when a hook set the
// break flag, which stops the run before the next command.
bool transfer(Machine &machine, bool isOutput, std::int32_t dataPointer, std::int32_t position);

// Counts cost work units for the coarse idle hook and calls it when due; true when the break
// flag is then set. position is the command the run would continue with.
bool idleDue(Machine &machine, std::int64_t cost, std::int32_t dataPointer, std::int32_t position);

// Runs commands first .. last one by one under the exact wrap and fault rules, from and
// into machine.dataPointer, counting one unit per command for a coarse idle hook (and the
// commands that ran, in a counting run).
Stop runCarefully(Machine &machine, std::int32_t first, std::int32_t last);

// A scan loop of the given stride at machine.dataPointer; loop holds its commands. Cell is the
// type of the program's cells (as for runRepeat).
template<class Cell>
Stop runScan(Machine &machine, std::int32_t stride, const Stretch &loop);

// The collapsible Repeat operation head with its body behind it, entered on a non-zero
// cell at machine.dataPointer. With a coarse idle hook a loop that does not settle within
// MostSettlingRounds returns with its cell still non-zero, for the caller to run on round by
// round; the rounds run are counted, and the hook called when due.
template<class Cell>
Stop runRepeat(Machine &machine, const Op &head);

// At the "]" of a settling loop (the Close head) on a non-zero cell at machine.dataPointer,
// with rounds left to settle in: takes the cells as the next round begins, or, when the round
// just run left the states as they were, runs the rounds left at once (its cell then zero).
// With a coarse idle hook those rounds cost what the round did each.
template<class Cell>
Stop settleNest(Machine &machine, const Op &head);

#define CEREBRIX_CELL_TYPES(X) X(std::uint8_t) X(std::uint16_t) X(std::uint32_t)
#define CEREBRIX_DECLARE_SUPPORT(Cell)                                                             \
    extern template Stop runScan<Cell>(Machine &, std::int32_t, const Stretch &);                  \
    extern template Stop runRepeat<Cell>(Machine &, const Op &);                                   \
    extern template Stop settleNest<Cell>(Machine &, const Op &);
CEREBRIX_CELL_TYPES(CEREBRIX_DECLARE_SUPPORT)
#undef CEREBRIX_DECLARE_SUPPORT
