#include "fastexec.h"

#include "fastsupport.h"
#include "nativeexec.h"
#include "optimizer.h"

#include <algorithm>

// The threaded loop jumps through a table of label addresses: one indirect jump per
// operation, predicted per site. GCC and Clang both offer it; a switch would share one
// jump between all operations and run markedly slower.
#if !defined(__GNUC__)
#error "the optimised executor needs labels as values (GCC or Clang)"
#endif

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wgnu-label-as-value"
#endif

// Each case is short; anything longer is a named helper. The helpers are lambdas over the
// loop's locals: the data pointer and the idle count stay in registers, where a member of an
// object would be reloaded after every tape store (a byte store may alias anything).
// Counts: a counting translation, whose commands the run counts as it goes (for a debugger).
// Profiles: a counting run that also notes each bracket's jumps in machine.jumps.
// Cell: the type of the program's cells, so each width gets a loop of its own.
// HandsOver: a run that hands over to machine code after machine.handOverAfter passes of a
// "]"; only such runs count the passes.
template<bool Counted, bool Counts, bool Profiles, class Cell, bool HandsOver = false>
Stop execute(Machine &machine, std::int32_t entry)
{
    static const void *const dispatch[] = {
#define CEREBRIX_OP_LABEL(name) &&op_##name,
        CEREBRIX_OP_KINDS(CEREBRIX_OP_LABEL)
#undef CEREBRIX_OP_LABEL
    };
    static_assert(std::size(dispatch) == OpKindCount);
    // Raw pointers in locals: a byte store to the tape may alias anything, so the vectors'
    // own data pointers would be loaded again after every store.
    const Program &program = machine.program;
    const Op *const ops = program.ops.data();
    const RepeatLoop *const loops = program.loops.data();
    const Stretch *const stretches = program.stretches.data();
    const std::int64_t *const costs = program.costs.data();
    const OpCount *const counts = program.counts.data();
    std::int64_t *const jumps = machine.jumps;
    const std::int32_t *const partners = machine.engine.m_jumps.data();
    Cell *const tape = reinterpret_cast<Cell *>(machine.tape);
    const std::int32_t lastCell = program.lastCell;
    // A debugger's cells watched for writes: blocks and rounds that may write them go the
    // careful way, as if they could leave the tape.
    const bool guards = program.guards();
    const CellRange guarded = program.guarded;
    std::int32_t *const nestRounds = machine.nestRounds.data();
    std::int32_t dataPointer = machine.dataPointer;
    std::int64_t executed = machine.executed;
    const std::int64_t threshold = machine.threshold;
    std::int64_t commands = machine.commands;
    // Counts down to 0 at the pass that hands over.
    std::int64_t handOver = machine.handOverAfter;
    const Op *op = ops + entry;
    Stop stop = Stop::Ended;
    // However the run stops, the count is the machine's again.
    struct Publish
    {
        std::int64_t &from, &to;
        ~Publish() { to = from; }
    } publish {commands, machine.commands};

    // Counting runs: the plain commands ahead of the operation (added before an idle call
    // there), then its own and those of the rounds a loop ran.
    const auto countBefore = [&] {
        if constexpr (Counts)
            commands += counts[op - ops].before;
    };
    const auto countOwn = [&](std::int64_t rounds) {
        if constexpr (Counts)
            commands += counts[op - ops].own + rounds * counts[op - ops].perRound;
    };
    // Profiles: a loop from open to close ran rounds rounds: its "[" skipped it, or its "]"
    // jumped back after every round but the last.
    const auto ranRounds = [&](std::int32_t open, std::int32_t close, std::int64_t rounds) {
        if constexpr (Profiles) {
            if (rounds == 0)
                ++jumps[open];
            else
                jumps[close] += rounds - 1;
        }
    };
    const auto took = [&](bool jumped, std::int32_t position) {
        if constexpr (Profiles)
            jumps[position] += jumped;
    };
    // A folded loop's rounds follow from its counter's value before it runs.
    const auto countFolded = [&](const Op *folded) {
        if constexpr (Counts) {
            const OpCount &count = counts[folded - ops];
            const std::uint32_t rounds =
                foldedRounds(tape[dataPointer + folded->offset], count.stepsDown);
            commands += count.before + count.own + std::int64_t {rounds} * count.perRound;
            const OpKind kind = folded->kind; // a body's Add stands for no loop
            if (kind == OpKind::Set || kind == OpKind::Multiply || kind == OpKind::MultiplyOne)
                ranRounds(folded->position, partners[folded->position], rounds);
        }
    };

    // Counts cost units; true when the idle call that then falls due set the break flag.
    const auto due = [&](std::int64_t cost, std::int32_t pointer, std::int32_t position) {
        if (executed + cost < threshold) {
            executed += cost;
            return false;
        }
        machine.executed = executed;
        machine.commands = commands;
        const bool breaks = idleDue(machine, cost, pointer, position);
        executed = machine.executed;
        return breaks;
    };
    // The count of the block just run is added at each loop boundary.
    const auto boundaryBreaks = [&] {
        if constexpr (Counted)
            return due(costs[op - ops], dataPointer, op->position);
        return false;
    };
    // The careful path and the loop helpers work on machine.dataPointer and machine.executed.
    const auto callOut = [&](auto &&helper) {
        machine.dataPointer = dataPointer;
        machine.executed = executed;
        machine.commands = commands;
        const Stop result = helper();
        dataPointer = machine.dataPointer;
        executed = machine.executed;
        commands = machine.commands;
        return result;
    };
    const auto carefully = [&](std::int32_t first, std::int32_t last) {
        return callOut([&] { return runCarefully(machine, first, last); });
    };
    // A block whose cells could leave the tape: its commands one by one, then its boundary.
    const auto checkFailed = [&] {
        const Stretch &block = stretches[op->index];
        const Stop result = carefully(block.first, block.last);
        dataPointer -= block.foldedShift; // the operation at resume applies it again
        op = ops + block.resume;
        if (Counts && result == Stop::Ended)
            commands -= counts[block.resume].before; // counted one by one
        return result;
    };
    // The rounds of a Repeat loop on a non-zero cell, one at a time.
    const auto spin = [&](const RepeatLoop &loop, auto &&round) {
        const CellRange cells = op->cells;
        do {
            // The rest of the loop from its body on: the "[" has run.
            if (!fits(dataPointer, cells, lastCell) ||
                (guards && mayWrite(dataPointer, loop.writes, guarded)))
                return carefully(loop.first + 1, loop.last);
            round();
            dataPointer += loop.shift;
            if constexpr (Counts)
                commands += counts[op - ops].perRound; // the round's body and "]"
            took(tape[dataPointer] != 0, loop.last);
            if constexpr (Counted) {
                // The round's "]" comes next; where it leads depends on the cell.
                const std::int32_t next = tape[dataPointer] != 0 ? loop.first + 1 : loop.last + 1;
                if (due(loop.roundCost, dataPointer, next))
                    return Stop::Break;
            }
        } while (tape[dataPointer] != 0);
        return Stop::Ended;
    };
    const auto repeat = [&] {
        const RepeatLoop &loop = loops[op->index];
        if (tape[dataPointer] != 0 && loop.collapsible) {
            // With a coarse idle hook a loop that does not settle comes back to run on below.
            const Stop result = callOut([&] { return runRepeat<Cell>(machine, *op); });
            if (result != Stop::Ended)
                return result;
        }
        if (tape[dataPointer] == 0) {
            took(true, loop.first);
            return Stop::Ended;
        }
        // Rounds run right here: entering through a call costs more than the few rounds of a
        // typical moving loop. One-operation bodies get a loop of their own.
        const Op *const body = op + 1;
        if (loop.bodyCount == 1 && body->kind == OpKind::Add) {
            const auto value = static_cast<Cell>(body->value);
            return spin(loop, [&] { tape[dataPointer + body->offset] += value; });
        }
        if (loop.bodyCount == 1 && body->kind == OpKind::MultiplyOne) {
            return spin(loop, [&] {
                countFolded(body);
                multiplyOne(tape, dataPointer, *body);
            });
        }
        if constexpr (Counts) {
            // Each folded loop counts its rounds from its counter as the round reaches it.
            return spin(loop, [&] {
                for (const Op *inner = body; inner != body + loop.bodyCount;) {
                    countFolded(inner);
                    const Op *const next =
                        inner + 1 + (inner->kind == OpKind::Multiply ? inner->value : 0);
                    runBody(tape, dataPointer, inner, next);
                    inner = next;
                }
            });
        }
        return spin(loop, [&] { runBody(tape, dataPointer, body, body + loop.bodyCount); });
    };
    // Most scans end within a few steps: those end here, without a call (their work units
    // are in the boundary's cost).
    const auto scan = [&] {
        std::int32_t next = dataPointer;
        bool onTape = true;
        for (int step = 0; step < InlineScanSteps && onTape && tape[next] != 0; ++step) {
            next += op->value;
            onTape = static_cast<std::uint32_t>(next) <= static_cast<std::uint32_t>(lastCell);
        }
        if (onTape && tape[next] == 0) {
            countOwn((next - dataPointer) / op->value);
            ranRounds(op->position, stretches[op->index].last, (next - dataPointer) / op->value);
            dataPointer = next;
            return Stop::Ended;
        }
        countOwn(0); // the rounds are counted where they run
        const Stretch &loop = stretches[op->index];
        return callOut([&] { return runScan<Cell>(machine, op->value, loop); });
    };

#define OP_NEXT goto *dispatch[static_cast<std::size_t>(op->kind)]
#define OP_STOP_UNLESS_ENDED(call)                                                                 \
    if ((stop = (call)) != Stop::Ended)                                                            \
    return stop
    OP_NEXT;

op_Add:
    tape[dataPointer + op->offset] += static_cast<Cell>(op->value);
    ++op;
    OP_NEXT;
op_Set:
    countFolded(op);
    tape[dataPointer + op->offset] = static_cast<Cell>(op->value);
    ++op;
    OP_NEXT;
op_Multiply:
    countFolded(op);
    op = multiply(tape, dataPointer, op);
    OP_NEXT;
op_Term: // only read through its Multiply
    ++op;
    OP_NEXT;
op_MultiplyOne:
    countFolded(op);
    multiplyOne(tape, dataPointer, *op);
    ++op;
    OP_NEXT;
op_Output:
op_Input:
    countBefore();
    if constexpr (Counts) // the hooks may ask where in time the command stands
        machine.engine.m_commandCount = commands;
    if (transfer(machine, op->kind == OpKind::Output, dataPointer + op->offset, op->position)) {
        countOwn(0);
        return Stop::Break;
    }
    countOwn(0);
    ++op;
    OP_NEXT;
op_Check:
    if (fits(dataPointer, op->cells, lastCell) &&
        !(guards && mayWrite(dataPointer, stretches[op->index].writes, guarded))) {
        ++op;
        OP_NEXT;
    }
    OP_STOP_UNLESS_ENDED(checkFailed());
    OP_NEXT;
op_Move:
    dataPointer += op->value;
    ++op;
    OP_NEXT;
op_Open:
    dataPointer += op->value;
    countBefore();
    if (boundaryBreaks())
        return Stop::Break;
    countOwn(0);
    took(tape[dataPointer] == 0, op->position);
    if (op->index > 0)
        nestRounds[op->index - 1] = NestSettlingRounds;
    op = tape[dataPointer] == 0 ? ops + op->jump : op + 1 + fits(dataPointer, op->cells, lastCell);
    OP_NEXT;
op_Close:
    dataPointer += op->value;
    countBefore();
    if (boundaryBreaks())
        return Stop::Break;
    countOwn(0);
    took(tape[dataPointer] != 0, op->position);
    if (op->index > 0 && tape[dataPointer] != 0 && nestRounds[op->index - 1] > 0)
        OP_STOP_UNLESS_ENDED(callOut([&] { return settleNest<Cell>(machine, *op); }));
    op = tape[dataPointer] != 0 ? ops + op->jump + fits(dataPointer, op->cells, lastCell) : op + 1;
    if (HandsOver && --handOver == 0) {
        // Machine code takes over where the "]" leads, which its code jumps to as well.
        machine.dataPointer = dataPointer;
        machine.executed = executed;
        machine.handOverAt = static_cast<std::int32_t>(op - ops);
        return Stop::Break;
    }
    OP_NEXT;
op_Repeat:
    dataPointer += op->value;
    countBefore();
    if (boundaryBreaks())
        return Stop::Break;
    countOwn(0);
    OP_STOP_UNLESS_ENDED(repeat());
    op += 1 + loops[op->index].bodyCount;
    OP_NEXT;
op_Scan:
    countBefore();
    if (boundaryBreaks())
        return Stop::Break;
    OP_STOP_UNLESS_ENDED(scan());
    ++op;
    OP_NEXT;
op_Checkpoint:
    countBefore();
    if (Counted && due(costs[op - ops], dataPointer + op->offset, op->position))
        return Stop::Break;
    ++op;
    OP_NEXT;
op_Stop:
    dataPointer += op->value;
    countBefore();
    machine.dataPointer = dataPointer;
    machine.instructionPointer = op->position;
    return Stop::Break;
op_End:
    countBefore();
    machine.dataPointer = dataPointer + op->value;
    machine.instructionPointer = machine.engine.m_codeLength + 1;
    return Stop::Ended;
#undef OP_STOP_UNLESS_ENDED
#undef OP_NEXT
}

#pragma GCC diagnostic pop

// execute at the width of the program's cells, chosen once per run.
template<bool Counted, bool Counts, bool Profiles = false, bool HandsOver = false>
Stop executeCells(Machine &machine, std::int32_t entry)
{
    switch (machine.program.cellMask) {
    case 0xFFFF:
        return execute<Counted, Counts, Profiles, std::uint16_t, HandsOver>(machine, entry);
    case 0xFFFFFFFF:
        return execute<Counted, Counts, Profiles, std::uint32_t, HandsOver>(machine, entry);
    default: return execute<Counted, Counts, Profiles, std::uint8_t, HandsOver>(machine, entry);
    }
}

// Programs whose machine code takes at least HandOverBytes start on the threaded loop: making
// it takes milliseconds, more than many a whole run of such a program. The threaded loop hands
// over after a pass of a "]" per BytesPerPass bytes of code, about as long as making them takes.
constexpr std::size_t HandOverBytes = std::size_t {256} << 10;
constexpr std::size_t BytesPerPass = 4;

std::int64_t automaticHandOver(const Program &program, bool counted)
{
    const std::size_t bytes = leastNativeCodeBytes(program, counted);
    return bytes < HandOverBytes ? 0 : static_cast<std::int64_t>(bytes / BytesPerPass);
}

} // namespace

std::optional<int> runOptimised(tBF &engine)
{
    const bool defaultIdle = isDefaultIdleHook(engine.m_idleHook);
    if (!defaultIdle && engine.m_idleInterval <= 1)
        return std::nullopt; // every idle call is observable
    const std::optional<Program> program =
        translateProgram(engine.m_code, engine.m_jumps, engine.m_codeLength, optionsFor(engine));
    if (!program)
        return std::nullopt;
    // The idle call is due once the count since the last call could pass the interval
    // before the next boundary adds its block.
    const std::int64_t threshold = std::int64_t {engine.m_idleInterval} - program->largestCost;
    if (!defaultIdle && threshold < 1)
        return std::nullopt;

    Machine machine {
        engine, *program, engine.m_data.data(), engine.m_dataPointer, engine.m_instructionPointer};
    machine.counted = !defaultIdle;
    machine.threshold = threshold;
    const bool makesCode = engine.m_path == tEnginePath::Fastest && nativeCodeAvailable();
    const std::int64_t handOver = !makesCode ? 0
        : engine.m_handOverAfter >= 0        ? engine.m_handOverAfter
                                             : automaticHandOver(*program, !defaultIdle);
    const auto threaded = [&](std::int32_t entry) {
        if (machine.handOverAfter > 0) {
            return defaultIdle ? executeCells<false, false, false, true>(machine, entry)
                               : executeCells<true, false, false, true>(machine, entry);
        }
        return defaultIdle ? executeCells<false, false>(machine, entry)
                           : executeCells<true, false>(machine, entry);
    };
    std::unique_ptr<NativeCode> native =
        makesCode && handOver == 0 ? compileNative(*program, !defaultIdle) : nullptr;
    Stop stop = Stop::Ended;
    if (native) {
        stop = native->run(machine);
    } else {
        machine.handOverAfter = handOver;
        stop = threaded(0);
        if (stop == Stop::Break && machine.handOverAt >= 0) {
            const std::int32_t at = machine.handOverAt;
            machine.handOverAt = -1;
            machine.handOverAfter = 0;
            native = compileNative(*program, !defaultIdle);
            stop = native ? native->run(machine, at) : threaded(at);
        }
    }
    // A hook that throws leaves the pointers it was shown, as on the exact path.
    engine.m_dataPointer = machine.dataPointer;
    engine.m_instructionPointer = machine.instructionPointer;
    return stop == Stop::Fault ? machine.result : ResultOk;
}

CountedRun runCounted(tBF &engine, const Program &program, std::int64_t commands,
    const NativeCode *native, CellWindow *window, std::int64_t *jumps)
{
    const std::int32_t position = engine.m_instructionPointer;
    const std::int32_t entry = program.entries[static_cast<std::size_t>(position)];
    const std::int32_t base = window ? window->base : 0;
    std::int32_t dataPointer = engine.m_dataPointer - base;
    const Op &first = program.ops[static_cast<std::size_t>(entry)];
    if (first.kind == OpKind::Open || first.kind == OpKind::Close) {
        // The boundary applies its block's movement and count once more: take them off.
        dataPointer -= first.value;
        commands -= program.counts[static_cast<std::size_t>(entry)].before;
    }
    const std::size_t cellBytes = program.cellMask == 0xFF ? 1 : program.cellMask == 0xFFFF ? 2 : 4;
    Machine machine {engine, program,
        engine.m_data.data() + static_cast<std::size_t>(base) * cellBytes, dataPointer, position};
    machine.window = window;
    machine.counted = true;
    // A block longer than the interval delays the idle call; a debugger's hook only keeps the
    // window live, so it is called as often as the program allows.
    machine.threshold =
        std::max<std::int64_t>(std::int64_t {engine.m_idleInterval} - program.largestCost, 1);
    machine.countsCommands = true;
    machine.commands = commands;
    machine.jumps = jumps;
    // A profiled run takes machine code only when that notes the jumps.
    Stop stop = Stop::Ended;
    if (native && (!jumps || native->profiles()))
        stop = native->run(machine, entry);
    else
        stop = jumps ? executeCells<true, true, true>(machine, entry)
                     : executeCells<true, true>(machine, entry);
    engine.m_dataPointer = machine.dataPointer + base;
    engine.m_instructionPointer = machine.instructionPointer;
    return {stop, stop == Stop::Fault ? machine.result : ResultOk, machine.commands};
}
