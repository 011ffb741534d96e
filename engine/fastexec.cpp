#include "fastexec.h"

#include "fastsupport.h"
#include "optimizer.h"

#include <algorithm>

namespace {

// Copies the byte tape and the pointers into the engine however the run ends, so that a
// hook that throws leaves the same picture as on the exact path.
class WriteBack
{
public:
    WriteBack(Machine &machine, std::vector<std::uint8_t> &tape)
        : m_machine(machine)
        , m_tape(tape)
    { }
    WriteBack(const WriteBack &) = delete;
    WriteBack &operator=(const WriteBack &) = delete;
    ~WriteBack()
    {
        tBF &engine = m_machine.engine;
        std::copy(m_tape.begin(), m_tape.end(), engine.m_data.begin());
        engine.m_dataPointer = m_machine.dataPointer;
        engine.m_instructionPointer = m_machine.instructionPointer;
    }

private:
    Machine &m_machine;
    std::vector<std::uint8_t> &m_tape;
};

// The threaded loop uses computed goto where the compiler offers it (one indirect jump
// per operation, predicted per site) and a plain switch elsewhere.
#if defined(__GNUC__)
#define CEREBRIX_THREADED 1
#else
#define CEREBRIX_THREADED 0
#endif

#if CEREBRIX_THREADED
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wgnu-label-as-value"
#endif
#define OP_CASE(name) op_##name:
#define OP_NEXT goto *dispatch[static_cast<std::size_t>(op->kind)]
#else
#define OP_CASE(name) case OpKind::name:
#define OP_NEXT continue
#endif

// Counted: the host's idle hook is coarse and gets called from the loop boundaries.
template<bool Counted>
Stop execute(Machine &machine)
{
    const Op *const ops = machine.program.ops.data();
    const CarefulRange *const blocks = machine.program.blocks.data();
    const RepeatLoop *const loops = machine.program.loops.data();
    const std::int64_t *const costs = machine.program.costs.data();
    const std::int32_t *const positions = machine.program.positions.data();
    std::uint8_t *const tape = machine.tape;
    std::int32_t dataPointer = machine.dataPointer;
    const Op *op = ops;
    // The count lives here between calls: in the machine, every tape store (a byte store
    // may alias anything) would force it back to memory.
    std::int64_t executed = machine.executed;
    const std::int64_t threshold = machine.threshold;

    // Counts cost units; true when the idle call that then falls due set the break flag.
    const auto due = [&](std::int64_t cost, std::int32_t pointer, std::int32_t position) {
        if (executed + cost < threshold) {
            executed += cost;
            return false;
        }
        machine.executed = executed;
        const bool breaks = idleDue(machine, cost, pointer, position);
        executed = machine.executed;
        return breaks;
    };
    // The count of the block just run is added at each loop boundary.
    const auto boundaryBreaks = [&] {
        if constexpr (Counted) {
            const auto index = static_cast<std::size_t>(op - ops);
            return due(costs[index], dataPointer, positions[index]);
        }
        return false;
    };
    // The careful path and the loop helpers work on machine.dataPointer and machine.executed.
    const auto callOut = [&](auto &&helper) {
        machine.dataPointer = dataPointer;
        machine.executed = executed;
        const Stop stop = helper();
        dataPointer = machine.dataPointer;
        executed = machine.executed;
        return stop;
    };

#if CEREBRIX_THREADED
    static const void *const dispatch[] = {
        &&op_Add,
        &&op_Set,
        &&op_Multiply,
        &&op_Term,
        &&op_MultiplyOne,
        &&op_Output,
        &&op_Input,
        &&op_Check,
        &&op_Move,
        &&op_Open,
        &&op_Close,
        &&op_Repeat,
        &&op_Scan,
        &&op_Checkpoint,
        &&op_End,
    };
    OP_NEXT;
#else
    for (;;) {
        switch (op->kind) {
#endif
    OP_CASE(Add)
    {
        tape[dataPointer + op->offset] += static_cast<std::uint8_t>(op->value);
        ++op;
        OP_NEXT;
    }
    OP_CASE(Set)
    {
        tape[dataPointer + op->offset] = static_cast<std::uint8_t>(op->value);
        ++op;
        OP_NEXT;
    }
    OP_CASE(Multiply)
    {
        std::uint8_t &counter = tape[dataPointer + op->offset];
        const Op *const terms = op + 1;
        const unsigned rounds = counter; // zero rounds change nothing: no branch
        for (std::int32_t term = 0; term < op->value; ++term)
            tape[dataPointer + terms[term].offset] +=
                static_cast<std::uint8_t>(rounds * static_cast<unsigned>(terms[term].value));
        counter = 0;
        op = terms + op->value;
        OP_NEXT;
    }
    OP_CASE(Term)
    {
        ++op; // only read through its Multiply
        OP_NEXT;
    }
    OP_CASE(MultiplyOne)
    {
        std::uint8_t &counter = tape[dataPointer + op->offset];
        tape[dataPointer + op->limit] +=
            static_cast<std::uint8_t>(counter * static_cast<unsigned>(op->value));
        counter = 0;
        ++op;
        OP_NEXT;
    }
    OP_CASE(Output)
    OP_CASE(Input)
    {
        if (transfer(machine, op->kind == OpKind::Output, dataPointer + op->offset, op->extra))
            return Stop::Break;
        ++op;
        OP_NEXT;
    }
    OP_CASE(Check)
    {
        if (fits(dataPointer, op->offset, op->value)) {
            ++op;
            OP_NEXT;
        }
        const CarefulRange &block = blocks[op->extra];
        const Stop stop = callOut([&] { return runCarefully(machine, block.first, block.last); });
        if (stop != Stop::Ended)
            return stop;
        dataPointer -= block.foldedShift; // the operation at resume applies it again
        op = ops + block.resume;
        OP_NEXT;
    }
    OP_CASE(Move)
    {
        dataPointer += op->value;
        ++op;
        OP_NEXT;
    }
    OP_CASE(Open)
    {
        dataPointer += op->value;
        if (boundaryBreaks())
            return Stop::Break;
        op = tape[dataPointer] == 0 ? ops + op->extra
                                    : op + 1 + fits(dataPointer, op->offset, op->limit);
        OP_NEXT;
    }
    OP_CASE(Close)
    {
        dataPointer += op->value;
        if (boundaryBreaks())
            return Stop::Break;
        op = tape[dataPointer] != 0 ? ops + op->extra + fits(dataPointer, op->offset, op->limit)
                                    : op + 1;
        OP_NEXT;
    }
    OP_CASE(Repeat)
    {
        dataPointer += op->value;
        if (boundaryBreaks())
            return Stop::Break;
        const RepeatLoop &loop = loops[op->extra];
        if (tape[dataPointer] != 0 && loop.collapsible) {
            // With a coarse idle hook a loop that does not settle comes back to run on below.
            const Stop stop = callOut([&] { return runRepeat(machine, *op); });
            if (stop != Stop::Ended)
                return stop;
        }
        if (tape[dataPointer] != 0) {
            // Rounds run right here: entering through a call costs more than the few
            // rounds of a typical moving loop.
            const Op *const body = op + 1;
            const auto spin = [&](auto &&round) {
                do {
                    if (!fits(dataPointer, op->offset, op->limit))
                        return callOut(
                            [&] { return runCarefully(machine, loop.first, loop.last); });
                    round();
                    dataPointer += loop.shift;
                    if constexpr (Counted) {
                        // The round's "]" comes next; where it leads depends on the cell.
                        const std::int32_t next =
                            tape[dataPointer] != 0 ? loop.first + 1 : loop.last + 1;
                        if (due(loop.roundCost, dataPointer, next))
                            return Stop::Break;
                    }
                } while (tape[dataPointer] != 0);
                return Stop::Ended;
            };
            // One-operation bodies get a loop of their own: no switch per round.
            Stop stop = Stop::Ended;
            if (loop.bodyCount == 1 && body->kind == OpKind::Add) {
                const auto value = static_cast<std::uint8_t>(body->value);
                stop = spin([&] { tape[dataPointer + body->offset] += value; });
            } else if (loop.bodyCount == 1 && body->kind == OpKind::MultiplyOne) {
                const auto factor = static_cast<unsigned>(body->value);
                stop = spin([&] {
                    std::uint8_t &counter = tape[dataPointer + body->offset];
                    tape[dataPointer + body->limit] += static_cast<std::uint8_t>(counter * factor);
                    counter = 0;
                });
            } else {
                stop = spin([&] { runBody(tape, dataPointer, body, body + loop.bodyCount); });
            }
            if (stop != Stop::Ended)
                return stop;
        }
        op += 1 + loop.bodyCount;
        OP_NEXT;
    }
    OP_CASE(Scan)
    {
        if (boundaryBreaks())
            return Stop::Break;
        // Most scans end within a few steps: take those here, without a call (their work
        // units are in the boundary's cost).
        std::int32_t next = dataPointer;
        bool onTape = true;
        for (int step = 0; step < InlineScanSteps && onTape && tape[next] != 0; ++step) {
            next += op->value;
            onTape = static_cast<std::uint32_t>(next) <= static_cast<std::uint32_t>(LastCell);
        }
        if (onTape && tape[next] == 0) {
            dataPointer = next;
            ++op;
            OP_NEXT;
        }
        const Stop stop = callOut([&] { return runScan(machine, op->value, blocks[op->extra]); });
        if (stop != Stop::Ended)
            return stop;
        ++op;
        OP_NEXT;
    }
    OP_CASE(Checkpoint)
    {
        if constexpr (Counted) {
            if (due(op->value, dataPointer + op->offset, op->extra))
                return Stop::Break;
        }
        ++op;
        OP_NEXT;
    }
    OP_CASE(End)
    {
        machine.dataPointer = dataPointer + op->value;
        machine.instructionPointer = machine.engine.m_codeLength + 1;
        return Stop::Ended;
    }
#if !CEREBRIX_THREADED
}
}
#endif
}

#if CEREBRIX_THREADED
#pragma GCC diagnostic pop
#endif
#undef OP_CASE
#undef OP_NEXT

} // namespace

std::optional<int> runOptimised(tBF &engine)
{
    const bool defaultIdle = isDefaultIdleHook(engine.m_idleHook);
    if (!defaultIdle && engine.m_idleInterval <= 1)
        return std::nullopt; // every idle call is observable
    const std::optional<Program> program =
        translateProgram(engine.m_code, engine.m_jumps, engine.m_codeLength);
    if (!program)
        return std::nullopt;
    // The idle call is due once the count since the last call could pass the interval
    // before the next boundary adds its block.
    const std::int64_t threshold = std::int64_t {engine.m_idleInterval} - program->largestCost;
    if (!defaultIdle && threshold < 1)
        return std::nullopt;

    std::vector<std::uint8_t> tape(engine.m_data.size(), 0);
    Machine machine {
        engine, *program, tape.data(), engine.m_dataPointer, engine.m_instructionPointer};
    machine.counted = !defaultIdle;
    machine.threshold = threshold;
    const WriteBack writeBack(machine, tape);
    const Stop stop = defaultIdle ? execute<false>(machine) : execute<true>(machine);
    return stop == Stop::Fault ? machine.result : ResultOk;
}
