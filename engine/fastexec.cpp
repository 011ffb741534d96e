#include "fastexec.h"

#include "optimizer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::int32_t LastCell = tBF::TapeCells - 1;

enum class Stop { Ended, Break, Fault };

// The run's state shared by the threaded loop and the careful path. The byte tape holds
// the same values as the engine's int cells would (they never leave 0..255).
struct Machine
{
    tBF &engine;
    const Program &program;
    std::uint8_t *tape;
    std::int32_t dataPointer;
    std::int32_t instructionPointer;
    int result = ResultOk;
    // Coarse idle hook only: commands counted (from above) since the last idle call, and
    // the count at which the next call is due.
    std::int64_t executed = 0;
    std::int64_t threshold = 0;
};

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

// The hooks may look at the pointers, as on the exact path.
void syncPointers(Machine &machine, std::int32_t dataPointer, std::int32_t position)
{
    machine.dataPointer = dataPointer;
    machine.instructionPointer = position;
    machine.engine.m_dataPointer = dataPointer;
    machine.engine.m_instructionPointer = position;
}

// Output or input of the command at position on cell dataPointer; true when a hook set the
// break flag, which stops the run before the next command.
bool transfer(Machine &machine, bool isOutput, std::int32_t dataPointer, std::int32_t position)
{
    syncPointers(machine, dataPointer, position);
    std::uint8_t &cell = machine.tape[dataPointer];
    if (isOutput)
        machine.engine.m_outputHook(cell);
    else
        cell = machine.engine.m_inputHook();
    if (!machine.engine.m_breakFlag)
        return false;
    machine.instructionPointer = position + 1;
    return true;
}

// Counts cost commands for the coarse idle hook and calls it when due; true when the break
// flag is then set. position is the command the run would continue with.
bool idleDue(Machine &machine, std::int64_t cost, std::int32_t dataPointer, std::int32_t position)
{
    machine.executed += cost;
    if (machine.executed < machine.threshold)
        return false;
    machine.executed = 0;
    syncPointers(machine, dataPointer, position);
    machine.engine.m_idleHook();
    return machine.engine.m_breakFlag;
}

// Runs commands first .. last one by one under the exact wrap and fault rules. Blocks that
// could leave the tape and scans that reach an end come here, so programs that live near
// an end stay exact.
template<bool Counted>
Stop runCarefully(Machine &machine, std::int32_t first, std::int32_t last)
{
    const char *const code = machine.engine.m_code.data();
    const std::int32_t *const jumps = machine.engine.m_jumps.data();
    std::uint8_t *const tape = machine.tape;
    std::int32_t dataPointer = machine.dataPointer;
    for (std::int32_t position = first; position <= last; ++position) {
        if constexpr (Counted) {
            if (idleDue(machine, 1, dataPointer, position))
                return Stop::Break;
        }
        std::uint8_t &cell = tape[dataPointer];
        switch (code[position]) {
        case '+': ++cell; break;
        case '-': --cell; break;
        case '>':
            if (dataPointer < LastCell) {
                ++dataPointer;
            } else if (machine.engine.m_dataWrap) {
                dataPointer = 1; // the wrap lands on cell 1, not cell 0
            } else {
                syncPointers(machine, dataPointer, position);
                machine.result = ResultAboveDataArea;
                return Stop::Fault;
            }
            break;
        case '<':
            if (dataPointer > 0) {
                --dataPointer;
            } else if (machine.engine.m_dataWrap) {
                dataPointer = LastCell;
            } else {
                syncPointers(machine, dataPointer, position);
                machine.result = ResultBelowDataArea;
                return Stop::Fault;
            }
            break;
        case '.':
        case ',':
            if (transfer(machine, code[position] == '.', dataPointer, position))
                return Stop::Break;
            break;
        case '[':
            if (cell == 0)
                position = jumps[position];
            break;
        case ']':
            if (cell != 0)
                position = jumps[position];
            break;
        }
    }
    machine.dataPointer = dataPointer;
    return Stop::Ended;
}

// Steps from start by stride while the cell is not zero, at most maxSteps times and only
// while the next position is on the tape. Returns the position reached.
std::int32_t scan(
    const std::uint8_t *tape, std::int32_t start, std::int32_t stride, std::int64_t maxSteps)
{
    if (stride == 1) {
        const std::int64_t cells = std::min<std::int64_t>(LastCell - start, maxSteps) + 1;
        const void *zero = std::memchr(tape + start, 0, static_cast<std::size_t>(cells));
        return zero ? static_cast<std::int32_t>(static_cast<const std::uint8_t *>(zero) - tape)
                    : start + static_cast<std::int32_t>(cells) - 1;
    }
#if defined(__GLIBC__)
    if (stride == -1) {
        const std::int64_t cells = std::min<std::int64_t>(start, maxSteps) + 1;
        const std::int32_t low = start - static_cast<std::int32_t>(cells) + 1;
        const void *zero = ::memrchr(tape + low, 0, static_cast<std::size_t>(cells));
        return zero ? static_cast<std::int32_t>(static_cast<const std::uint8_t *>(zero) - tape)
                    : low;
    }
#endif
    std::int32_t position = start;
    for (std::int64_t step = 0; step < maxSteps && tape[position] != 0; ++step) {
        const std::int32_t next = position + stride;
        if (next < 0 || next > LastCell)
            break;
        position = next;
    }
    return position;
}

// A scan loop "[>]", "[<<]" ...; falls back to the careful path at a tape end.
template<bool Counted>
Stop runScan(Machine &machine, std::int32_t stride, const CarefulRange &loop)
{
    const std::int64_t stepCost = std::abs(stride) + 1;
    for (;;) {
        std::int64_t maxSteps = std::int64_t {1} << 20; // more than the tape holds
        if constexpr (Counted) {
            maxSteps = (machine.threshold - machine.executed) / stepCost;
            if (maxSteps < 1) {
                if (idleDue(machine, stepCost, machine.dataPointer, loop.first + 1))
                    return Stop::Break;
                continue;
            }
        }
        const std::int32_t start = machine.dataPointer;
        const std::int32_t reached = scan(machine.tape, start, stride, maxSteps);
        machine.dataPointer = reached;
        if constexpr (Counted)
            machine.executed += (reached - start) / stride * stepCost;
        if (machine.tape[reached] == 0)
            return Stop::Ended;
        const std::int32_t next = reached + stride;
        if (next < 0 || next > LastCell)
            return runCarefully<Counted>(machine, loop.first, loop.last);
    }
}

// Whether the loop body behind op stays on the tape, so that its Check can be skipped.
inline std::int32_t fits(std::int32_t dataPointer, const Op &op)
{
    return static_cast<std::uint32_t>(dataPointer + op.offset) <=
            static_cast<std::uint32_t>(op.limit)
        ? 1
        : 0;
}

// The threaded loop uses computed goto where the compiler offers it (one indirect jump
// per operation, predicted per site) and a plain switch elsewhere.
#if defined(__GNUC__)
#define CEREBRIX_THREADED 1
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

template<bool Counted>
Stop execute(Machine &machine)
{
    const Op *const ops = machine.program.ops.data();
    const CarefulRange *const blocks = machine.program.blocks.data();
    const std::int64_t *const costs = machine.program.costs.data();
    const std::int32_t *const positions = machine.program.positions.data();
    std::uint8_t *const tape = machine.tape;
    std::int32_t dataPointer = machine.dataPointer;
    const Op *op = ops;

    // Coarse idle hook: the count of the block just run is added at each loop boundary.
    const auto boundaryBreaks = [&] {
        if constexpr (Counted) {
            const auto index = static_cast<std::size_t>(op - ops);
            return idleDue(machine, costs[index], dataPointer, positions[index]);
        }
        return false;
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
        &&op_Scan,
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
        if (counter != 0) {
            // Stepping down from v takes v rounds, stepping up takes 256 - v.
            const unsigned rounds = op->extra != 0 ? counter : 256u - counter;
            for (std::int32_t term = 0; term < op->value; ++term)
                tape[dataPointer + terms[term].offset] +=
                    static_cast<std::uint8_t>(rounds * static_cast<unsigned>(terms[term].value));
            counter = 0;
        }
        op = terms + op->value;
        OP_NEXT;
    }
    OP_CASE(MultiplyOne)
    {
        std::uint8_t &counter = tape[dataPointer + op->offset];
        const unsigned rounds = op->extra != 0 ? counter : 256u - counter;
        tape[dataPointer + op->limit] +=
            static_cast<std::uint8_t>(rounds * static_cast<unsigned>(op->value));
        counter = 0; // a zero counter makes rounds a multiple of 256: no change, no branch
        ++op;
        OP_NEXT;
    }
    OP_CASE(Term)
    {
        ++op; // only read through its Multiply
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
        if (static_cast<std::uint32_t>(dataPointer + op->offset) <=
            static_cast<std::uint32_t>(op->value)) {
            ++op;
            OP_NEXT;
        }
        const CarefulRange &block = blocks[op->extra];
        machine.dataPointer = dataPointer;
        const Stop stop = runCarefully<Counted>(machine, block.first, block.last);
        if (stop != Stop::Ended)
            return stop;
        dataPointer = machine.dataPointer - block.foldedShift;
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
        op = tape[dataPointer] == 0 ? ops + op->extra : op + 1 + fits(dataPointer, *op);
        OP_NEXT;
    }
    OP_CASE(Close)
    {
        dataPointer += op->value;
        if (boundaryBreaks())
            return Stop::Break;
        op = tape[dataPointer] != 0 ? ops + op->extra + fits(dataPointer, *op) : op + 1;
        OP_NEXT;
    }
    OP_CASE(Scan)
    {
        if (boundaryBreaks())
            return Stop::Break;
        machine.dataPointer = dataPointer;
        const Stop stop = runScan<Counted>(machine, op->value, blocks[op->extra]);
        if (stop != Stop::Ended)
            return stop;
        dataPointer = machine.dataPointer;
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
    machine.threshold = threshold;
    const WriteBack writeBack(machine, tape);
    const Stop stop = defaultIdle ? execute<false>(machine) : execute<true>(machine);
    return stop == Stop::Fault ? machine.result : ResultOk;
}
