#pragma once

#include "interpreter.h"
#include "optimizer.h"
#include "u_Brainfuck.h"

#include <cstdint>

// The pieces of the optimised executor that run outside its threaded loop: hooks, the
// careful command-by-command path near the tape ends, scans and whole loops.

// The run's state. The tape is the engine's own, so hooks see the cells as they are.
struct Machine
{
    tBF &engine;
    const Program &program;
    std::uint8_t *tape;
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
};

// MultiplyOne: the counter's value times the factor added to the target, the counter cleared.
inline void multiplyOne(std::uint8_t *tape, std::int32_t dataPointer, const Op &op)
{
    std::uint8_t &counter = tape[dataPointer + op.offset];
    tape[dataPointer + op.target] +=
        static_cast<std::uint8_t>(counter * static_cast<unsigned>(op.value));
    counter = 0;
}

// Multiply with its Terms; returns the operation after the last Term.
inline const Op *multiply(std::uint8_t *tape, std::int32_t dataPointer, const Op *op)
{
    std::uint8_t &counter = tape[dataPointer + op->offset];
    const unsigned rounds = counter; // zero rounds change nothing: no branch
    const Op *const terms = op + 1;
    for (std::int32_t term = 0; term < op->value; ++term)
        tape[dataPointer + terms[term].offset] +=
            static_cast<std::uint8_t>(rounds * static_cast<unsigned>(terms[term].value));
    counter = 0;
    return terms + op->value;
}

// One round of a Repeat body: the operations a block without input or output holds.
inline void runBody(std::uint8_t *tape, std::int32_t dataPointer, const Op *op, const Op *end)
{
    while (op != end) {
        std::uint8_t *const cell = tape + dataPointer + op->offset;
        switch (op->kind) {
        case OpKind::Add: *cell += static_cast<std::uint8_t>(op->value); break;
        case OpKind::Set: *cell = static_cast<std::uint8_t>(op->value); break;
        case OpKind::MultiplyOne: multiplyOne(tape, dataPointer, *op); break;
        case OpKind::Multiply: op = multiply(tape, dataPointer, op) - 1; break;
        default: break;
        }
        ++op;
    }
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

// A scan loop of the given stride at machine.dataPointer; loop holds its commands.
Stop runScan(Machine &machine, std::int32_t stride, const Stretch &loop);

// The collapsible Repeat operation head with its body behind it, entered on a non-zero
// cell at machine.dataPointer. With a coarse idle hook a loop that does not settle within
// MostSettlingRounds returns with its cell still non-zero, for the caller to run on round by
// round; the rounds run are counted, and the hook called when due.
Stop runRepeat(Machine &machine, const Op &head);
