#include "fastsupport.h"

#include "loopanalysis.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

// The hooks may look at the pointers, as on the exact path.
void syncPointers(Machine &machine, std::int32_t dataPointer, std::int32_t position)
{
    machine.dataPointer = dataPointer;
    machine.instructionPointer = position;
    machine.engine.m_dataPointer = dataPointer + machine.base();
    machine.engine.m_instructionPointer = position;
    if (machine.countsCommands)
        machine.engine.m_commandCount = machine.commands;
}

// The careful path's view: a coarse idle hook counts one unit per command.
struct CountedCommands
{
    static constexpr bool BreaksAfterTransfer = true;
    Machine &machine;

    bool beforeCommand(std::int32_t position, std::int32_t dataPointer)
    {
        if (machine.window && machine.window->watch.before &&
            machine.window->watch.before(machine.window->watch.context, position, dataPointer))
            return true;
        if (machine.counted) {
            const char command = machine.engine.m_code[static_cast<std::size_t>(position)];
            if (idleDue(machine, unitsOfCommand(command), dataPointer - machine.base(), position))
                return true;
        }
        if (machine.countsCommands) // for the hooks of an output or input
            machine.engine.m_commandCount = machine.commands;
        machine.commands += machine.countsCommands; // the command runs now (a fault undoes it)
        if (machine.jumps)
            noteJump(machine.engine, machine.jumps, position, dataPointer);
        return false;
    }
};

// Steps from start by stride while the cell is not zero, at most maxSteps times and only
// while the next position is on the tape (its last cell lastCell). Returns the position reached.
template<class Cell>
std::int32_t scan(const Cell *tape, std::int32_t start, std::int32_t stride, std::int64_t maxSteps,
    std::int32_t lastCell)
{
    if constexpr (sizeof(Cell) == 1) {
        if (stride == 1) {
            const std::int64_t cells = std::min<std::int64_t>(lastCell - start, maxSteps) + 1;
            const void *zero = std::memchr(tape + start, 0, static_cast<std::size_t>(cells));
            return zero ? static_cast<std::int32_t>(static_cast<const Cell *>(zero) - tape)
                        : start + static_cast<std::int32_t>(cells) - 1;
        }
#if defined(__GLIBC__)
        if (stride == -1) {
            const std::int64_t cells = std::min<std::int64_t>(start, maxSteps) + 1;
            const std::int32_t low = start - static_cast<std::int32_t>(cells) + 1;
            const void *zero = ::memrchr(tape + low, 0, static_cast<std::size_t>(cells));
            return zero ? static_cast<std::int32_t>(static_cast<const Cell *>(zero) - tape) : low;
        }
#endif
    }
    std::int32_t position = start;
    std::int64_t steps = 0;
    // Eight cells per round while all of them are surely on the tape: no bound test and no
    // loop branch between them.
    const std::int32_t reach = 7 * stride;
    while (steps + 8 <= maxSteps && position + reach >= 0 && position + reach <= lastCell) {
        for (int i = 0; i < 8; ++i, position += stride) {
            if (tape[position] == 0)
                return position;
        }
        steps += 8;
        position -= stride; // stand on the last cell checked, as a single step would
        const std::int32_t next = position + stride;
        if (next < 0 || next > lastCell)
            return position;
        position = next;
    }
    for (; steps < maxSteps && tape[position] != 0; ++steps) {
        const std::int32_t next = position + stride;
        if (next < 0 || next > lastCell)
            break;
        position = next;
    }
    return position;
}

// Runs the rounds of a collapsible loop until its states repeat, then adds the remaining
// rounds' share to its sums at once. A loop that does not settle runs on to its end when
// runsOn, and otherwise stops after its settling rounds. Returns the rounds run one by one.
template<class Cell>
std::uint32_t collapse(
    Cell *tape, std::int32_t dataPointer, const Op &head, const RepeatLoop &loop, bool runsOn)
{
    const Op *const body = &head + 1;
    const std::uint32_t rounds = foldedRounds(tape[dataPointer], loop.stepsDown);
    std::array<Cell, 32> states {};
    std::array<Cell, 32> sums {};
    for (std::uint32_t round = 1; round <= rounds; ++round) {
        for (std::size_t i = 0; i < loop.states.size(); ++i)
            states[i] = tape[dataPointer + loop.states[i]];
        for (std::size_t i = 0; i < loop.sums.size(); ++i)
            sums[i] = tape[dataPointer + loop.sums[i]];
        runBody(tape, dataPointer, body, body + loop.bodyCount);
        bool settled = true;
        for (std::size_t i = 0; i < loop.states.size() && settled; ++i)
            settled = states[i] == tape[dataPointer + loop.states[i]];
        if (!settled && round == MostSettlingRounds) {
            // States that keep changing rarely settle later: stop comparing.
            if (!runsOn)
                return round;
            // Counted down: rounds may be the largest 32-bit value.
            for (std::uint32_t left = rounds - round; left > 0; --left)
                runBody(tape, dataPointer, body, body + loop.bodyCount);
            return rounds;
        }
        if (!settled)
            continue;
        // States that no longer change make every further round add the same to the sums.
        const std::uint32_t remaining = rounds - round;
        for (std::size_t i = 0; i < loop.sums.size(); ++i) {
            Cell &cell = tape[dataPointer + loop.sums[i]];
            cell += static_cast<Cell>(remaining * static_cast<Cell>(cell - sums[i]));
        }
        return round;
    }
    return rounds;
}

// The first rounds r >= 1 after which counter + r * step is zero at the cells' width (mask),
// for a counter that is not zero; 0 when no count of rounds gets there.
std::uint64_t roundsToZero(std::uint32_t counter, std::uint32_t step, std::uint32_t mask)
{
    if (step == 0)
        return 0;
    // step = 2^twos * odd: the counter must be a multiple of 2^twos, and then
    // r * odd = -counter / 2^twos modulo 2^bits / 2^twos, solved by odd's inverse.
    const int twos = std::countr_zero(step);
    const std::uint64_t modulus = std::uint64_t {mask} + 1;
    if ((counter & ((std::uint64_t {1} << twos) - 1)) != 0)
        return 0;
    const std::uint64_t odd = step >> twos;
    std::uint64_t inverse = odd; // right in 3 bits; each Newton step doubles them
    for (int i = 0; i < 5; ++i)
        inverse *= 2 - odd * inverse;
    const std::uint64_t reduced = modulus >> twos;
    return ((modulus - counter) >> twos) * inverse & (reduced - 1);
}

} // namespace

bool transfer(Machine &machine, bool isOutput, std::int32_t dataPointer, std::int32_t position)
{
    transferByte(machine.engine, isOutput, position, dataPointer + machine.base());
    machine.dataPointer = dataPointer;
    machine.instructionPointer = position + 1;
    return machine.engine.m_breakFlag;
}

bool idleDue(Machine &machine, std::int64_t cost, std::int32_t dataPointer, std::int32_t position)
{
    machine.executed += cost;
    if (machine.executed < machine.threshold)
        return false;
    machine.unitsCalled += machine.executed;
    machine.executed = 0;
    syncPointers(machine, dataPointer, position);
    machine.engine.m_idleHook();
    return machine.engine.m_breakFlag;
}

Stop runCarefully(Machine &machine, std::int32_t first, std::int32_t last)
{
    CountedCommands observer {machine};
    const std::int32_t base = machine.base();
    const Halt halt =
        interpretCommands(machine.engine, first, last, machine.dataPointer + base, observer);
    if (halt.stop == Stop::Fault && machine.countsCommands)
        --machine.commands; // a failing command has not run
    machine.dataPointer = halt.dataPointer - base;
    machine.instructionPointer = halt.position;
    machine.result = halt.result;
    if (halt.stop == Stop::Ended && machine.window) {
        // The stretch's last command is still to be judged, and the operations that follow
        // may run only where the window holds the pointer.
        CellWindow &window = *machine.window;
        if (window.watch.after && window.watch.after(window.watch.context, halt.dataPointer))
            return Stop::Break;
        if (!fits(machine.dataPointer, {0, 0}, machine.program.lastCell)) {
            window.left = true;
            return Stop::Break;
        }
    }
    return halt.stop;
}

template<class Cell>
Stop runScan(Machine &machine, std::int32_t stride, const Stretch &loop)
{
    const std::int64_t stepCost = 1; // a cell looked at
    const auto *const tape = reinterpret_cast<const Cell *>(machine.tape);
    const std::int32_t lastCell = machine.program.lastCell;
    for (;;) {
        std::int64_t maxSteps = std::int64_t {1} << 25; // more than any tape holds
        if (machine.counted) {
            maxSteps = (machine.threshold - machine.executed) / stepCost;
            if (maxSteps < 1) {
                // On a zero cell the run stands before "[", which skips the loop.
                const std::int32_t next =
                    tape[machine.dataPointer] != 0 ? loop.first + 1 : loop.first;
                if (idleDue(machine, stepCost, machine.dataPointer, next))
                    return Stop::Break;
                continue;
            }
        }
        const std::int32_t start = machine.dataPointer;
        const std::int32_t reached = scan(tape, start, stride, maxSteps, lastCell);
        machine.dataPointer = reached;
        if (machine.counted)
            machine.executed += (reached - start) / stride * stepCost;
        if (machine.countsCommands)
            machine.commands += (reached - start) / stride * (loop.last - loop.first);
        // Entered on a non-zero cell: every step's "]" jumped back but one onto a zero cell.
        if (machine.jumps)
            machine.jumps[loop.last] += (reached - start) / stride - (tape[reached] == 0 ? 1 : 0);
        if (tape[reached] == 0)
            return Stop::Ended;
        const std::int32_t next = reached + stride;
        if (next < 0 || next > lastCell)
            return runCarefully(machine, loop.first + 1, loop.last); // the "[" has run
    }
}

template<class Cell>
Stop runRepeat(Machine &machine, const Op &head)
{
    const RepeatLoop &loop = machine.program.loops[static_cast<std::size_t>(head.index)];
    // Only loops that do not move collapse, so one range test covers every round.
    if (!fits(machine.dataPointer, head.cells, machine.program.lastCell))
        return runCarefully(machine, loop.first + 1, loop.last); // the "[" has run
    auto *const tape = reinterpret_cast<Cell *>(machine.tape);
    const std::uint32_t rounds = collapse(tape, machine.dataPointer, head, loop, !machine.counted);
    if (!machine.counted)
        return Stop::Ended;
    const std::int32_t next = tape[machine.dataPointer] == 0 ? loop.last + 1 : loop.first + 1;
    return idleDue(machine, rounds * loop.roundCost + 1, machine.dataPointer, next) ? Stop::Break
                                                                                    : Stop::Ended;
}

template<class Cell>
Stop settleNest(Machine &machine, const Op &head)
{
    const auto number = static_cast<std::size_t>(head.index - 1);
    const NestLoop &nest = machine.program.nests[number];
    std::int32_t &rounds = machine.nestRounds[number];
    Machine::NestStart &start = machine.nestStarts[number];
    const bool began = rounds < NestSettlingRounds; // a round since the cells were taken
    --rounds;
    const std::int32_t dataPointer = machine.dataPointer;
    if (!fits(dataPointer, nest.cells, machine.program.lastCell)) {
        rounds = 0; // near a tape end the rounds run one by one
        return Stop::Ended;
    }
    auto *const tape = reinterpret_cast<Cell *>(machine.tape);
    Cell *const low = tape + dataPointer + nest.cells.low;
    const auto width = static_cast<std::size_t>(nest.cells.high - nest.cells.low + 1);
    const std::int64_t units = machine.unitsCalled + machine.executed;
    if (began && start.dataPointer == dataPointer) {
        // Sums may differ; every other cell must be as the round found it.
        std::array<bool, MostNestCells> isSum {};
        for (const std::int32_t sum : nest.sums)
            isSum[static_cast<std::size_t>(sum - nest.cells.low)] = true;
        bool settled = true;
        for (std::size_t i = 0; i < width && settled; ++i)
            settled = isSum[i] || low[i] == static_cast<Cell>(start.cells[i]);
        if (settled) {
            const std::size_t own = static_cast<std::size_t>(-nest.cells.low);
            const std::uint64_t left = roundsToZero(tape[dataPointer],
                static_cast<Cell>(low[own] - static_cast<Cell>(start.cells[own])),
                machine.program.cellMask);
            rounds = 0;
            if (left == 0)
                return Stop::Ended; // the counter never reaches zero: round by round, forever
            for (const std::int32_t sum : nest.sums) {
                Cell &cell = tape[dataPointer + sum];
                const auto added = static_cast<Cell>(cell -
                    static_cast<Cell>(start.cells[static_cast<std::size_t>(sum - nest.cells.low)]));
                cell = static_cast<Cell>(cell + static_cast<Cell>(left * added));
            }
            if (!machine.counted)
                return Stop::Ended;
            // Each round left costs what this one did; a run of rounds too long to count
            // is simply due.
            const std::int64_t perRound = units - start.units;
            const std::int64_t most = std::int64_t {1} << 40;
            const std::int64_t cost =
                perRound > 0 && left > static_cast<std::uint64_t>(most / perRound)
                ? most
                : static_cast<std::int64_t>(left) * perRound;
            return idleDue(machine, cost, dataPointer, nest.last + 1) ? Stop::Break : Stop::Ended;
        }
    }
    start.dataPointer = dataPointer;
    start.units = units;
    for (std::size_t i = 0; i < width; ++i)
        start.cells[i] = low[i];
    return Stop::Ended;
}

#define CEREBRIX_DEFINE_SUPPORT(Cell)                                                              \
    template Stop runScan<Cell>(Machine &, std::int32_t, const Stretch &);                         \
    template Stop runRepeat<Cell>(Machine &, const Op &);                                          \
    template Stop settleNest<Cell>(Machine &, const Op &);
CEREBRIX_CELL_TYPES(CEREBRIX_DEFINE_SUPPORT)
#undef CEREBRIX_DEFINE_SUPPORT
