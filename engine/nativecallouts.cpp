#include "nativeframe.h"

#if defined(CEREBRIX_NATIVE) && defined(__x86_64__)

#include <algorithm>

namespace native {

// The called-out functions. Each takes the frame's state into the machine, does the threaded
// loop's work for one operation and gives the state back; a non-zero result (a Stop other
// than Ended, or Threw) ends the run with the machine's pointers as that work left them.
template<typename Work>
int callSafely(Frame *frame, Work &&work) noexcept
{
    try {
        return work(*frame->machine);
    } catch (...) {
        *frame->error = std::current_exception();
        return Threw;
    }
}

int takeOver(Frame *frame, Stop (*work)(Machine &, const Op &), std::int32_t index) noexcept
{
    return callSafely(frame, [&](Machine &machine) {
        machine.dataPointer = static_cast<std::int32_t>(frame->dataPointer);
        machine.executed = frame->executed;
        machine.commands = frame->commands;
        const Stop stop = work(machine, machine.program.ops[static_cast<std::size_t>(index)]);
        frame->dataPointer = machine.dataPointer;
        frame->executed = machine.executed;
        frame->commands = machine.commands;
        return static_cast<int>(stop);
    });
}

Stop checkFailed(Machine &machine, const Op &op)
{
    const Stretch &block = machine.program.stretches[static_cast<std::size_t>(op.index)];
    const Stop stop = runCarefully(machine, block.first, block.last);
    if (stop == Stop::Ended) {
        // The operation at resume applies the block's movement and count again.
        machine.dataPointer -= block.foldedShift;
        if (machine.countsCommands)
            machine.commands -=
                machine.program.counts[static_cast<std::size_t>(block.resume)].before;
    }
    return stop;
}

Stop loopCarefully(Machine &machine, const Op &head)
{
    const RepeatLoop &loop = machine.program.loops[static_cast<std::size_t>(head.index)];
    return runCarefully(machine, loop.first + 1, loop.last); // the "[" has run
}

Stop scanOn(Machine &machine, const Op &op)
{
    const Stretch &loop = machine.program.stretches[static_cast<std::size_t>(op.index)];
    switch (machine.program.cellMask) {
    case 0xFFFF: return runScan<std::uint16_t>(machine, op.value, loop);
    case 0xFFFFFFFF: return runScan<std::uint32_t>(machine, op.value, loop);
    default: return runScan<std::uint8_t>(machine, op.value, loop);
    }
}

Stop collapse(Machine &machine, const Op &op)
{
    switch (machine.program.cellMask) {
    case 0xFFFF: return runRepeat<std::uint16_t>(machine, op);
    case 0xFFFFFFFF: return runRepeat<std::uint32_t>(machine, op);
    default: return runRepeat<std::uint8_t>(machine, op);
    }
}

Stop settle(Machine &machine, const Op &op)
{
    switch (machine.program.cellMask) {
    case 0xFFFF: return settleNest<std::uint16_t>(machine, op);
    case 0xFFFFFFFF: return settleNest<std::uint32_t>(machine, op);
    default: return settleNest<std::uint8_t>(machine, op);
    }
}

int checkFailedAt(Frame *frame, std::int32_t index) noexcept
{
    return takeOver(frame, checkFailed, index);
}

int loopCarefullyAt(Frame *frame, std::int32_t index) noexcept
{
    return takeOver(frame, loopCarefully, index);
}

int scanAt(Frame *frame, std::int32_t index) noexcept
{
    return takeOver(frame, scanOn, index);
}

int collapseAt(Frame *frame, std::int32_t index) noexcept
{
    return takeOver(frame, collapse, index);
}

int settleAt(Frame *frame, std::int32_t index) noexcept
{
    return takeOver(frame, settle, index);
}

// Called with the frame's data pointer stale: the code passes the pointer itself, and it
// takes nothing back but the result.
int transferAt(Frame *frame, std::int32_t index, std::int64_t pointer) noexcept
{
    return callSafely(frame, [&](Machine &machine) {
        const Op &op = machine.program.ops[static_cast<std::size_t>(index)];
        const auto dataPointer = static_cast<std::int32_t>(pointer) + op.offset;
        if (machine.countsCommands) // counted with the command: the hooks see the count before it
            machine.engine.m_commandCount =
                frame->commands - machine.program.counts[static_cast<std::size_t>(index)].own;
        const bool breaks = transfer(machine, op.kind == OpKind::Output, dataPointer, op.position);
        return static_cast<int>(breaks ? Stop::Break : Stop::Ended);
    });
}

// Calls the idle hook through the threaded loop's counting with cost units not yet counted,
// the run standing before command next with the pointer at pointer.
int idleCall(Frame *frame, std::int64_t cost, std::int32_t pointer, std::int32_t next) noexcept
{
    return callSafely(frame, [&](Machine &machine) {
        machine.executed = frame->executed;
        machine.commands = frame->commands;
        const bool breaks = idleDue(machine, cost, pointer, next);
        frame->executed = machine.executed;
        return static_cast<int>(breaks ? Stop::Break : Stop::Ended);
    });
}

const Op &opAt(const Frame *frame, std::int32_t index)
{
    return frame->machine->program.ops[static_cast<std::size_t>(index)];
}

// Where a loop whose "]" tests the cell at pointer next continues: after its "[" or its "]".
std::int32_t afterTest(const Frame *frame, std::int32_t first, std::int32_t last)
{
    const std::uint32_t mask = frame->machine->program.cellMask;
    const std::size_t bytes = mask == 0xFF ? 1 : mask == 0xFFFF ? 2 : 4;
    const std::uint8_t *const cell =
        frame->tape + static_cast<std::size_t>(frame->dataPointer) * bytes;
    const bool zero = std::all_of(cell, cell + bytes, [](std::uint8_t byte) { return byte == 0; });
    return zero ? last + 1 : first + 1;
}

// The idle call at a boundary or Checkpoint fell due.
int idleAt(Frame *frame, std::int32_t index) noexcept
{
    const Op &op = opAt(frame, index);
    const std::int64_t cost = frame->machine->program.costs[static_cast<std::size_t>(index)];
    const auto pointer = static_cast<std::int32_t>(frame->dataPointer) +
        (op.kind == OpKind::Checkpoint ? op.offset : 0);
    return idleCall(frame, cost, pointer, op.position);
}

// The idle call after a Repeat round fell due; the round's "]" comes next.
int roundIdleAt(Frame *frame, std::int32_t index) noexcept
{
    const RepeatLoop &loop =
        frame->machine->program.loops[static_cast<std::size_t>(opAt(frame, index).index)];
    return idleCall(frame, loop.roundCost, static_cast<std::int32_t>(frame->dataPointer),
        afterTest(frame, loop.first, loop.last));
}

// The idle call during a scan fell due, on the cell a step just reached: the scan's "]" tests
// it next.
int scanIdleAt(Frame *frame, std::int32_t index) noexcept
{
    const Stretch &loop =
        frame->machine->program.stretches[static_cast<std::size_t>(opAt(frame, index).index)];
    return idleCall(frame, 0, static_cast<std::int32_t>(frame->dataPointer),
        afterTest(frame, loop.first, loop.last));
}

// A debugger's stop before the command of a Stop operation.
int stopAt(Frame *frame, std::int32_t index) noexcept
{
    Machine &machine = *frame->machine;
    machine.dataPointer = static_cast<std::int32_t>(frame->dataPointer);
    machine.instructionPointer = opAt(frame, index).position;
    return static_cast<int>(Stop::Break);
}

const CallOut CallOuts[CallCount] = {checkFailedAt, loopCarefullyAt, scanAt, scanIdleAt, collapseAt,
    idleAt, roundIdleAt, stopAt, settleAt};

} // namespace native

#endif
