#include "nativeexec.h"

#if defined(CEREBRIX_NATIVE) && defined(__x86_64__)

#include <asmjit/x86.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

// AsmJit rather than Xbyak, though both are packaged: AsmJit reports every encoding error
// through a handler rather than an exception (the engine lets only hooks throw), hands over
// flattened code to copy into memory we map and protect ourselves, and its package also
// assembles AArch64, which a second generator could use; Xbyak's covers x86 alone.
namespace {

namespace x86 = asmjit::x86;

struct Frame;
using CallOut = int (*)(Frame *, std::int32_t) noexcept;

// The functions the code calls out to, by their place in Frame::calls: one short indirect
// call each, where an address in the code would take a ten-byte move first.
enum Call : std::uint8_t {
    CheckFailed,
    LoopCarefully,
    ScanOn,
    ScanIdle,
    Collapse,
    Idle,
    RoundIdle,
    StopAt,
    CallCount,
};

// What the generated code and the functions it calls share. Standard layout: the code
// addresses its fields by offset.
struct Frame
{
    std::uint8_t *tape;
    std::int64_t dataPointer;
    std::int64_t executed;
    std::int64_t threshold;
    std::int64_t commands;
    Machine *machine;
    std::exception_ptr *error;
    CallOut calls[CallCount];
    int (*transfer)(Frame *, std::int32_t, std::int64_t) noexcept;
};

// Returned by a called-out function when a hook threw: the code unwinds by returning, and
// the exception travels on from C++.
constexpr int Threw = 3;
static_assert(static_cast<int>(Stop::Ended) == 0);

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
    return runScan(
        machine, op.value, machine.program.stretches[static_cast<std::size_t>(op.index)]);
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
    return takeOver(frame, runRepeat, index);
}

// Called with the frame's data pointer stale: the code passes the pointer itself, and it
// takes nothing back but the result.
int transferAt(Frame *frame, std::int32_t index, std::int64_t pointer) noexcept
{
    return callSafely(frame, [&](Machine &machine) {
        const Op &op = machine.program.ops[static_cast<std::size_t>(index)];
        const auto dataPointer = static_cast<std::int32_t>(pointer) + op.offset;
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
    return frame->tape[frame->dataPointer] != 0 ? first + 1 : last + 1;
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

using HeldCells = std::vector<std::pair<std::int32_t, x86::Gp>>;

class Failures : public asmjit::ErrorHandler
{
public:
    bool failed = false;
    void handleError(asmjit::Error, const char *, asmjit::BaseEmitter *) override { failed = true; }
};

// Registers the code keeps its state in (callee-saved, so they survive the calls out).
const x86::Gp Tape = x86::rbx; // the tape's first cell
const x86::Gp Pointer = x86::r12; // the data pointer, an index into the tape
// Coarse idle hook: the work units left before the idle call falls due, that is the
// threshold less the units counted since the last call; due once it reaches zero or less.
const x86::Gp Budget = x86::r13;
const x86::Gp State = x86::r14; // the Frame
const x86::Gp Threshold = x86::r15;
const x86::Gp RoundsLeft = x86::ebp; // rounds a collapsible loop runs before it collapses
// A counting translation's commands run so far (such a translation collapses no loop).
const x86::Gp Commands = x86::rbp;

constexpr std::int32_t RoundsBeforeCollapsing = 8;

// The stack below the saved registers: a slot for each held cell (the values before a round
// that may settle), and the padding that aligns the calls.
constexpr std::int32_t FrameBytes = 8 + 64;

class Generator
{
public:
    Generator(const Program &program, bool counted, std::size_t mostBytes, asmjit::CodeHolder &code,
        const Failures &failures)
        : m_program(program)
        , m_counted(counted)
        , m_counts(!program.counts.empty())
        , m_mostBytes(mostBytes)
        , m_failures(failures)
        , m_asm(&code)
    {
        // Labels only where code jumps to: most operations are no target, and a label
        // costs as much to make and bind as the operation's code. They are made as the code
        // reaches them, so that code that outgrows its bound has made few.
        m_labels.resize(program.ops.size() + 1);
        m_isTarget.resize(program.ops.size() + 1);
        const auto target = [&](std::int32_t index) {
            m_isTarget[static_cast<std::size_t>(index)] = true;
        };
        for (std::size_t i = 0; i < program.ops.size(); ++i) {
            const Op &op = program.ops[i];
            const auto index = static_cast<std::int32_t>(i);
            switch (op.kind) {
            case OpKind::Open:
                target(op.jump);
                target(index + 2);
                break;
            case OpKind::Close:
                target(op.jump);
                target(op.jump + 1);
                break;
            case OpKind::Check:
                target(program.stretches[static_cast<std::size_t>(op.index)].resume);
                break;
            case OpKind::Repeat:
                target(index + 1 + program.loops[static_cast<std::size_t>(op.index)].bodyCount);
                break;
            case OpKind::Scan: target(index + 1); break;
            default: break;
            }
        }
        target(static_cast<std::int32_t>(program.ops.size()));
        // Where a run may start: the first operation, and a debugger's entries.
        target(0);
        for (const std::int32_t entry : program.entries) {
            if (entry >= 0)
                target(entry);
        }
        m_exit = m_asm.newLabel();
        code.newSection(&m_cold, ".cold", SIZE_MAX, asmjit::SectionFlags::kExecutable, 16);
    }

    // Each operation's label, where it has one (an entry among them), to find addresses by.
    const std::vector<asmjit::Label> &labels() const { return m_labels; }

    // The label of the operation at index, made when first wanted.
    asmjit::Label label(std::int32_t index)
    {
        asmjit::Label &made = m_labels[static_cast<std::size_t>(index)];
        if (!made.isValid())
            made = m_asm.newLabel();
        return made;
    }

    // False when a counting translation comes without a coarse idle hook or with a loop to
    // collapse (none does), or the code grew past its bound.
    bool emit()
    {
        if ((m_counts && !m_counted) || !m_cold)
            return false;
        for (const RepeatLoop &loop : m_program.loops) {
            if (m_counts && loop.collapsible)
                return false; // a counting translation collapses nothing: its register counts
        }
        prologue();
        const auto &ops = m_program.ops;
        // Room for the usual size of an operation's code, grown rarely.
        if (m_asm.code()->reserveBuffer(&m_asm.code()->textSection()->buffer(),
                std::min(ops.size() * 16 + 4096, m_mostBytes)) != asmjit::kErrorOk)
            return false;
        for (std::size_t i = 0; i < ops.size();) {
            // The first error ends the code: AsmJit would go on, failing at every instruction.
            if (emitted() > m_mostBytes || m_failures.failed)
                return false;
            if (m_isTarget[i])
                m_asm.bind(label(static_cast<std::int32_t>(i)));
            const auto index = static_cast<std::int32_t>(i);
            const Op &op = ops[i];
            i += 1;
            switch (op.kind) {
            case OpKind::Add:
            case OpKind::Set:
            case OpKind::Multiply:
            case OpKind::MultiplyOne: i = static_cast<std::size_t>(blockOperation(index)); break;
            case OpKind::Term: break; // emitted with its Multiply
            case OpKind::Output:
            case OpKind::Input: transfer(index); break;
            case OpKind::Check: check(index); break;
            case OpKind::Move: move(op.value); break;
            case OpKind::Open:
            case OpKind::Close: boundary(index); break;
            case OpKind::Repeat: i = static_cast<std::size_t>(repeat(index)); break;
            case OpKind::Scan: scan(index); break;
            case OpKind::Checkpoint:
                countBefore(index);
                dueAt(index);
                break;
            case OpKind::End:
                countBefore(index);
                end(op.value);
                break;
            case OpKind::Stop:
                move(op.value);
                countBefore(index);
                callOut(StopAt, index); // always stops
                break;
            }
        }
        m_asm.bind(label(static_cast<std::int32_t>(ops.size())));
        end(0); // the last operation is an End; nothing runs past it
        epilogue();
        return emitted() <= m_mostBytes && !m_failures.failed;
    }

private:
    // The bytes of code so far, in both sections (the one not current has its size synced).
    std::size_t emitted() const
    {
        return m_asm.offset() + (m_inCold ? m_asm.code()->textSection() : m_cold)->bufferSize();
    }

    // Emits an out-of-line path in the cold section, which follows all other code, so that
    // the hot path runs straight. A path opened within another jumps around itself there.
    template<typename Emit>
    void outOfLine(Emit &&emit)
    {
        if (m_inCold) {
            const asmjit::Label skip = m_asm.newLabel();
            m_asm.jmp(skip);
            emit();
            m_asm.bind(skip);
            return;
        }
        m_inCold = true;
        m_asm.section(m_cold);
        emit();
        m_asm.section(m_asm.code()->textSection());
        m_inCold = false;
    }

    static x86::Mem cell(std::int32_t offset) { return x86::byte_ptr(Tape, Pointer, 0, offset); }

    // Emits use(operand) on the cell at offset: its register while a loop holds it, else its
    // byte on the tape.
    template<typename Use>
    void onCell(std::int32_t offset, Use &&use)
    {
        for (const auto &[heldOffset, reg] : m_held) {
            if (heldOffset == offset)
                return use(reg);
        }
        use(cell(offset));
    }

    void prologue()
    {
        for (const x86::Gp &saved : {x86::rbx, x86::rbp, x86::r12, x86::r13, x86::r14, x86::r15})
            m_asm.push(saved);
        m_asm.sub(x86::rsp, FrameBytes); // calls need a 16-byte aligned stack
        m_asm.mov(State, x86::rdi);
        m_asm.mov(Tape, x86::qword_ptr(State, offsetof(Frame, tape)));
        m_asm.mov(Pointer, x86::qword_ptr(State, offsetof(Frame, dataPointer)));
        m_asm.mov(Threshold, x86::qword_ptr(State, offsetof(Frame, threshold)));
        loadBudget();
        loadCommands();
        m_asm.jmp(x86::rsi); // the entry's address
    }

    void loadCommands()
    {
        if (m_counts)
            m_asm.mov(Commands, x86::qword_ptr(State, offsetof(Frame, commands)));
    }

    void storeCommands()
    {
        if (m_counts)
            m_asm.mov(x86::qword_ptr(State, offsetof(Frame, commands)), Commands);
    }

    void addCommands(std::int64_t count)
    {
        if (count == 0)
            return;
        if (count == static_cast<std::int32_t>(count)) {
            m_asm.add(Commands, static_cast<std::int32_t>(count));
            return;
        }
        m_asm.mov(x86::rax, count);
        m_asm.add(Commands, x86::rax);
    }

    const OpCount &countAt(std::int32_t index) const
    {
        return m_program.counts[static_cast<std::size_t>(index)];
    }

    // A counting translation's commands ahead of the operation at index (added before an idle
    // call there), and its own after it.
    void countBefore(std::int32_t index)
    {
        if (m_counts)
            addCommands(countAt(index).before);
    }

    void countOwn(std::int32_t index)
    {
        if (m_counts)
            addCommands(countAt(index).own);
    }

    // A folded loop's commands, its rounds following from its counter before it runs.
    void countFolded(std::int32_t index)
    {
        if (!m_counts)
            return;
        const OpCount &count = countAt(index);
        if (count.perRound != 0) {
            onCell(m_program.ops[static_cast<std::size_t>(index)].offset,
                [&](const auto &at) { m_asm.movzx(x86::eax, at); });
            if (!count.stepsDown) {
                m_asm.neg(x86::eax);
                m_asm.and_(x86::eax, 0xFF);
            }
            m_asm.imul(x86::rax, x86::rax, count.perRound);
            m_asm.add(Commands, x86::rax);
        }
        addCommands(count.before + count.own);
    }

    // The frame keeps the units counted, as the threaded loop does; the code, the units left.
    void loadBudget()
    {
        if (!m_counted)
            return;
        m_asm.mov(Budget, Threshold);
        m_asm.sub(Budget, x86::qword_ptr(State, offsetof(Frame, executed)));
    }

    void storeBudget()
    {
        if (!m_counted)
            return;
        m_asm.mov(x86::rax, Threshold);
        m_asm.sub(x86::rax, Budget);
        m_asm.mov(x86::qword_ptr(State, offsetof(Frame, executed)), x86::rax);
    }

    void epilogue()
    {
        m_asm.bind(m_exit);
        m_asm.add(x86::rsp, FrameBytes);
        for (const x86::Gp &saved : {x86::r15, x86::r14, x86::r13, x86::r12, x86::rbp, x86::rbx})
            m_asm.pop(saved);
        m_asm.ret();
    }

    // Calls function(frame, index) with the state in the frame, takes the state back and
    // leaves the run on a non-zero result.
    void callOut(Call function, std::int32_t index)
    {
        storeHeldCells();
        m_asm.mov(x86::qword_ptr(State, offsetof(Frame, dataPointer)), Pointer);
        storeBudget();
        storeCommands();
        m_asm.mov(x86::rdi, State);
        m_asm.mov(x86::esi, index);
        m_asm.call(x86::qword_ptr(
            State, static_cast<std::int32_t>(offsetof(Frame, calls) + function * sizeof(CallOut))));
        m_asm.test(x86::eax, x86::eax);
        m_asm.jnz(m_exit);
        m_asm.mov(Pointer, x86::qword_ptr(State, offsetof(Frame, dataPointer)));
        loadBudget();
        loadCommands();
        loadHeldCells();
    }

    // Output and input: the hooks change nothing the code holds in registers.
    void transfer(std::int32_t index)
    {
        if (m_counts) {
            // Counted whether or not the hook then breaks.
            addCommands(countAt(index).before + countAt(index).own);
            storeCommands();
        }
        m_asm.mov(x86::rdi, State);
        m_asm.mov(x86::esi, index);
        m_asm.mov(x86::rdx, Pointer);
        m_asm.call(x86::qword_ptr(State, offsetof(Frame, transfer)));
        m_asm.test(x86::eax, x86::eax);
        m_asm.jnz(m_exit);
    }

    // Cells a loop keeps in registers live in memory wherever anything else may look.
    void storeHeldCells()
    {
        for (const auto &[offset, reg] : m_held)
            m_asm.mov(cell(offset), reg);
    }

    void loadHeldCells()
    {
        for (const auto &[offset, reg] : m_held)
            m_asm.mov(reg, cell(offset));
    }

    // Compares as the threaded loop's fits does: every cell of range lies on the tape when
    // the start is below or at the last start, unsigned.
    void compareRange(CellRange range)
    {
        const auto lastStart = static_cast<std::uint32_t>(LastCell - (range.high - range.low));
        if (range.low == 0) {
            m_asm.cmp(Pointer.r32(), static_cast<std::int32_t>(lastStart));
            return;
        }
        m_asm.lea(x86::eax, x86::ptr(Pointer, range.low));
        m_asm.cmp(x86::eax, static_cast<std::int32_t>(lastStart));
    }

    void jumpIfFits(CellRange range, const asmjit::Label &onTape)
    {
        compareRange(range);
        m_asm.jbe(onTape);
    }

    void jumpUnlessFits(CellRange range, const asmjit::Label &offTape)
    {
        compareRange(range);
        m_asm.ja(offTape);
    }

    // Adds cost work units; when the idle call falls due, an out-of-line call made with the
    // cost not yet counted.
    void countCost(std::int64_t cost, Call whenDue, std::int32_t index)
    {
        if (!m_counted)
            return;
        const asmjit::Label due = m_asm.newLabel();
        const asmjit::Label back = m_asm.newLabel();
        spend(cost);
        m_asm.jle(due);
        m_asm.bind(back);
        outOfLine([&] {
            m_asm.bind(due);
            spend(-cost); // the function counts it
            callOut(whenDue, index);
            m_asm.jmp(back);
        });
    }

    // Takes cost units off the budget, setting the flags for jle (due).
    void spend(std::int64_t cost)
    {
        if (cost == static_cast<std::int32_t>(cost)) {
            m_asm.sub(Budget, static_cast<std::int32_t>(cost));
            return;
        }
        m_asm.mov(x86::rax, cost);
        m_asm.sub(Budget, x86::rax);
    }

    void dueAt(std::int32_t index)
    {
        countCost(m_program.costs[static_cast<std::size_t>(index)], Idle, index);
    }

    void move(std::int32_t value)
    {
        if (value != 0)
            m_asm.add(Pointer, value);
    }

    // Emits the block operation at index (with its Terms); returns the index after it.
    std::int32_t blockOperation(std::int32_t index)
    {
        const Op &op = m_program.ops[static_cast<std::size_t>(index)];
        countFolded(index);
        switch (op.kind) {
        case OpKind::Add:
            onCell(op.offset,
                [&](const auto &at) { m_asm.add(at, static_cast<std::uint8_t>(op.value)); });
            return index + 1;
        case OpKind::Set:
            onCell(op.offset,
                [&](const auto &at) { m_asm.mov(at, static_cast<std::uint8_t>(op.value)); });
            return index + 1;
        case OpKind::MultiplyOne:
            loadCounter(op.offset);
            addMultiple(op.target, op.value);
            return index + 1;
        case OpKind::Multiply: {
            loadCounter(op.offset);
            const Op *terms = &op + 1;
            for (std::int32_t term = 0; term < op.value; ++term)
                addMultiple(terms[term].offset, terms[term].value);
            return index + 1 + op.value;
        }
        default: return index + 1;
        }
    }

    // eax = c(offset), and c(offset) cleared at once: in loops that shift a value along the
    // tape the next round adds to the cell just cleared, and the store is then long done.
    void loadCounter(std::int32_t offset)
    {
        onCell(offset, [&](const auto &at) {
            m_asm.movzx(x86::eax, at);
            m_asm.mov(at, 0);
        });
    }

    // c(offset) += eax * factor, modulo 256.
    void addMultiple(std::int32_t offset, std::int32_t factor)
    {
        const auto low = static_cast<std::uint8_t>(factor);
        if (low == 1) {
            onCell(offset, [&](const auto &at) { m_asm.add(at, x86::al); });
        } else if (low == 255) {
            onCell(offset, [&](const auto &at) { m_asm.sub(at, x86::al); });
        } else if (low != 0) {
            m_asm.imul(x86::ecx, x86::eax, low);
            onCell(offset, [&](const auto &at) { m_asm.add(at, x86::cl); });
        }
    }

    void check(std::int32_t index)
    {
        const Op &op = m_program.ops[static_cast<std::size_t>(index)];
        const asmjit::Label failed = m_asm.newLabel();
        jumpUnlessFits(op.cells, failed);
        const std::int32_t resume = m_program.stretches[static_cast<std::size_t>(op.index)].resume;
        outOfLine([&] {
            m_asm.bind(failed);
            callOut(CheckFailed, index);
            m_asm.jmp(label(resume));
        });
    }

    // Open and Close: the block's movement and cost, then the test of the cell; entering the
    // body skips its Check when the body's cells fit.
    void boundary(std::int32_t index)
    {
        const Op &op = m_program.ops[static_cast<std::size_t>(index)];
        move(op.value);
        countBefore(index);
        dueAt(index);
        countOwn(index);
        m_asm.cmp(cell(0), 0);
        const std::int32_t body = op.kind == OpKind::Open ? index + 1 : op.jump;
        if (op.kind == OpKind::Open) {
            m_asm.je(label(op.jump));
        } else {
            const asmjit::Label stay = m_asm.newLabel();
            m_asm.je(stay);
            jumpIfFits(op.cells, label(body + 1));
            m_asm.jmp(label(body));
            m_asm.bind(stay);
            return;
        }
        jumpIfFits(op.cells, label(body + 1));
        // Otherwise on into the body's Check, which follows.
    }

    // A Repeat loop, rounds inline; returns the index after its body. A loop without movement
    // keeps its cells in registers where it can (repeatHeld). Any other collapsible loop still
    // running after a few rounds is handed to the threaded loop's collapsing, which settles
    // the rounds left at once; most loops end before, and a call would cost more than they do.
    std::int32_t repeat(std::int32_t index)
    {
        const Op &op = m_program.ops[static_cast<std::size_t>(index)];
        const RepeatLoop &loop = m_program.loops[static_cast<std::size_t>(op.index)];
        const std::int32_t after = index + 1 + loop.bodyCount;
        const asmjit::Label done = label(after);
        move(op.value);
        countBefore(index);
        dueAt(index);
        countOwn(index);
        m_asm.cmp(cell(0), 0);
        m_asm.je(done);
        if (loop.shift == 0 && holdCells(index + 1, after))
            return repeatHeld(index, done);
        const asmjit::Label round = m_asm.newLabel();
        const asmjit::Label offTape = m_asm.newLabel();
        const asmjit::Label collapse = m_asm.newLabel();
        if (loop.collapsible)
            m_asm.mov(RoundsLeft, RoundsBeforeCollapsing);
        m_asm.bind(round);
        jumpUnlessFits(op.cells, offTape);
        for (std::int32_t body = index + 1; body < after;)
            body = blockOperation(body);
        move(loop.shift);
        if (m_counts)
            addCommands(countAt(index).perRound); // the round's body and "]"
        countCost(loop.roundCost, RoundIdle, index);
        m_asm.cmp(cell(0), 0);
        if (loop.collapsible) {
            m_asm.je(done);
            m_asm.sub(RoundsLeft, 1);
            m_asm.jz(collapse);
            m_asm.jmp(round);
        } else {
            m_asm.jne(round); // on to done, bound right after the body
        }
        outOfLine([&] {
            m_asm.bind(offTape);
            callOut(LoopCarefully, index);
            m_asm.jmp(done);
            if (!loop.collapsible)
                return;
            // With a coarse idle hook a loop that does not settle comes back: its rounds then
            // run on here, without collapsing again.
            m_asm.bind(collapse);
            callOut(Collapse, index);
            m_asm.cmp(cell(0), 0);
            m_asm.je(done);
            m_asm.mov(RoundsLeft, -1);
            m_asm.jmp(round);
        });
        return after;
    }

    // Gives each cell the operations first .. end-1 touch a register, when there are few
    // enough; false (holding none) otherwise.
    bool holdCells(std::int32_t first, std::int32_t end)
    {
        static const x86::Gp Registers[] = {
            x86::dl, x86::sil, x86::dil, x86::r8b, x86::r9b, x86::r10b, x86::r11b};
        std::vector<std::int32_t> offsets {0};
        const auto touch = [&](std::int32_t offset) {
            if (std::find(offsets.begin(), offsets.end(), offset) == offsets.end())
                offsets.push_back(offset);
        };
        for (std::int32_t i = first; i < end; ++i) {
            const Op &op = m_program.ops[static_cast<std::size_t>(i)];
            touch(op.offset);
            if (op.kind == OpKind::MultiplyOne)
                touch(op.target);
        }
        if (offsets.size() > std::size(Registers))
            return false;
        for (std::size_t i = 0; i < offsets.size(); ++i)
            m_held.emplace_back(offsets[i], Registers[i]);
        return true;
    }

    // A Repeat loop that does not move, its cells held in registers from the first round to
    // the last: its rounds then wait on no store. Entered on a non-zero cell.
    std::int32_t repeatHeld(std::int32_t index, const asmjit::Label &done)
    {
        const Op &op = m_program.ops[static_cast<std::size_t>(index)];
        const RepeatLoop &loop = m_program.loops[static_cast<std::size_t>(op.index)];
        const std::int32_t after = index + 1 + loop.bodyCount;
        const asmjit::Label round = m_asm.newLabel();
        const asmjit::Label leave = m_asm.newLabel();
        const asmjit::Label offTape = m_asm.newLabel();
        const asmjit::Label collapse = m_asm.newLabel();
        const HeldCells held = std::exchange(m_held, {});
        jumpUnlessFits(op.cells, offTape); // every round, as the cells stay where they are
        m_held = held;
        loadHeldCells();
        if (loop.collapsible)
            m_asm.mov(RoundsLeft, RoundsBeforeCollapsing);
        m_asm.bind(round);
        for (std::int32_t body = index + 1; body < after;)
            body = blockOperation(body);
        if (m_counts)
            addCommands(countAt(index).perRound); // the round's body and "]"
        countCost(loop.roundCost, RoundIdle, index);
        const x86::Gp counter = m_held.front().second;
        m_asm.test(counter, counter);
        if (loop.collapsible) {
            m_asm.je(leave);
            m_asm.sub(RoundsLeft, 1);
            m_asm.jnz(round);
            m_asm.jmp(collapse);
        } else {
            m_asm.jne(round);
        }
        m_asm.bind(leave);
        storeHeldCells();
        m_held.clear();
        outOfLine([&] {
            // Reached before the cells are loaded: no cell is held there.
            m_asm.bind(offTape);
            callOut(LoopCarefully, index);
            m_asm.jmp(done);
            if (!loop.collapsible)
                return;
            m_held = held;
            m_asm.bind(collapse);
            collapseHeld(index, round, leave);
            m_held.clear();
        });
        return after;
    }

    // A collapsible loop whose cells are held, still running: rounds until its states come
    // out of a round as they went in, then every round left adds what that round added to
    // each sum (the counter among them, which so reaches zero). A loop that does not settle
    // within the threaded loop's settling rounds runs its rounds on.
    void collapseHeld(std::int32_t index, const asmjit::Label &round, const asmjit::Label &leave)
    {
        const Op &op = m_program.ops[static_cast<std::size_t>(index)];
        const RepeatLoop &loop = m_program.loops[static_cast<std::size_t>(op.index)];
        const std::int32_t after = index + 1 + loop.bodyCount;
        const auto slot = [&](std::size_t i) {
            return x86::byte_ptr(x86::rsp, static_cast<std::int32_t>(i));
        };
        const auto heldIndex = [&](std::int32_t offset) {
            std::size_t i = 0;
            while (m_held[i].first != offset)
                ++i;
            return i;
        };
        const x86::Gp counter = m_held.front().second;
        const asmjit::Label tryRound = m_asm.newLabel();
        const asmjit::Label unsettled = m_asm.newLabel();
        m_asm.mov(RoundsLeft, static_cast<std::int32_t>(MostSettlingRounds));
        m_asm.bind(tryRound);
        for (std::size_t i = 0; i < m_held.size(); ++i)
            m_asm.mov(slot(i), m_held[i].second);
        for (std::int32_t body = index + 1; body < after;)
            body = blockOperation(body);
        countCost(loop.roundCost, RoundIdle, index);
        for (const std::int32_t state : loop.states) {
            const std::size_t i = heldIndex(state);
            m_asm.cmp(m_held[i].second, slot(i));
            m_asm.jne(unsettled);
        }
        // ecx: the rounds left.
        m_asm.movzx(x86::ecx, counter);
        if (!loop.stepsDown) {
            m_asm.neg(x86::ecx);
            m_asm.and_(x86::ecx, 0xFF);
        }
        for (const std::int32_t sum : loop.sums) {
            const std::size_t i = heldIndex(sum);
            m_asm.mov(x86::al, m_held[i].second);
            m_asm.sub(x86::al, slot(i));
            m_asm.imul(x86::eax, x86::ecx);
            m_asm.add(m_held[i].second, x86::al);
        }
        if (m_counted) {
            // The rounds skipped are spent; when that uses the budget up, the idle call.
            const asmjit::Label due = m_asm.newLabel();
            if (loop.roundCost == static_cast<std::int32_t>(loop.roundCost)) {
                m_asm.imul(x86::rcx, x86::rcx, static_cast<std::int32_t>(loop.roundCost));
            } else {
                m_asm.mov(x86::rax, loop.roundCost);
                m_asm.imul(x86::rcx, x86::rax);
            }
            m_asm.sub(Budget, x86::rcx);
            m_asm.jle(due);
            m_asm.jmp(leave);
            m_asm.bind(due);
            m_asm.xor_(Budget.r32(), Budget.r32());
            callOut(RoundIdle, index);
        }
        m_asm.jmp(leave);
        m_asm.bind(unsettled);
        m_asm.test(counter, counter);
        m_asm.je(leave);
        m_asm.sub(RoundsLeft, 1);
        m_asm.jnz(tryRound);
        m_asm.mov(RoundsLeft, -1);
        m_asm.jmp(round);
    }

    // A scan steps inline. With a coarse idle hook every cell it passes over is a unit (more
    // than the cells it looks at, so the idle call comes early rather than late), and the
    // budget left bounds the scan as the tape ends do: one compare per step serves both.
    // A scan that would pass a tape end is called out from the last cell it reached, where
    // the careful path takes the step.
    void scan(std::int32_t index)
    {
        const Op &op = m_program.ops[static_cast<std::size_t>(index)];
        const std::int32_t stride = op.value;
        countBefore(index);
        dueAt(index);
        countOwn(index);
        const std::int64_t perStep = m_counts ? countAt(index).perRound : 0;
        const asmjit::Label resume = m_asm.newLabel();
        const asmjit::Label stepped = m_asm.newLabel();
        const asmjit::Label found = m_asm.newLabel();
        const asmjit::Label bound = m_asm.newLabel();
        const asmjit::Label next = label(index + 1);
        // rax: the cell reached; rdx: the last cell the scan may reach.
        m_asm.mov(x86::rax, Pointer);
        m_asm.cmp(x86::byte_ptr(Tape, x86::rax), 0);
        m_asm.je(found);
        m_asm.bind(resume);
        const asmjit::Label offTape = m_asm.newLabel();
        if (m_counted) {
            // A budget beyond any scan's length bounds nothing: the tape ends alone do.
            const asmjit::Label bounded = m_asm.newLabel();
            m_asm.cmp(Budget, LastCell);
            m_asm.jle(bounded);
            scanSteps(stride, perStep, false, offTape, stepped);
            m_asm.bind(bounded);
            scanLimit(stride);
            scanSteps(stride, perStep, true, bound, stepped);
        } else {
            scanSteps(stride, perStep, false, offTape, stepped);
        }
        m_asm.bind(stepped);
        spendDistance(stride);
        m_asm.bind(found);
        m_asm.mov(Pointer, x86::rax);
        outOfLine([&] {
            if (m_counted) {
                m_asm.bind(bound);
                m_asm.cmp(x86::rax, LastCell);
                m_asm.ja(offTape);
                // The budget is spent: the idle call, on the cell just reached.
                if (m_counts)
                    addCommands(perStep);
                m_asm.xor_(Budget.r32(), Budget.r32());
                m_asm.mov(Pointer, x86::rax);
                callOut(ScanIdle, index);
                m_asm.mov(x86::rax, Pointer);
                m_asm.cmp(x86::byte_ptr(Tape, x86::rax), 0);
                m_asm.je(found);
                m_asm.jmp(resume);
            }
            m_asm.bind(offTape);
            m_asm.sub(x86::rax, stride); // back on the tape
            spendDistance(stride);
            m_asm.mov(Pointer, x86::rax);
            callOut(ScanOn, index);
            m_asm.jmp(next);
        });
    }

    // The steps of a scan from rax, to stepped on a zero cell or to past when the next step
    // would pass the tape ends or, bounded, the cell in rdx. Four steps at a time, with one
    // test of the bound, while the fourth stays within it; then step by step up to it.
    void scanSteps(std::int32_t stride, std::int64_t perStep, bool bounded,
        const asmjit::Label &past, const asmjit::Label &stepped)
    {
        const asmjit::Label four = m_asm.newLabel();
        const asmjit::Label step = m_asm.newLabel();
        const asmjit::Label hit[3] = {m_asm.newLabel(), m_asm.newLabel(), m_asm.newLabel()};
        // A debugger's count takes each step's commands as the step is taken.
        m_asm.bind(four);
        m_asm.lea(x86::rcx, x86::ptr(x86::rax, 4 * stride));
        jumpPastScanBound(x86::rcx, stride, bounded, step);
        for (int k = 1; k <= 3; ++k) {
            m_asm.cmp(x86::byte_ptr(Tape, x86::rax, 0, k * stride), 0);
            m_asm.je(hit[k - 1]);
        }
        m_asm.mov(x86::rax, x86::rcx);
        addCommands(4 * perStep);
        m_asm.cmp(x86::byte_ptr(Tape, x86::rax), 0);
        m_asm.jne(four);
        m_asm.jmp(stepped);
        for (int k = 3; k >= 1; --k) {
            m_asm.bind(hit[k - 1]);
            m_asm.add(x86::rax, stride);
            addCommands(perStep);
        }
        m_asm.jmp(stepped);
        m_asm.bind(step);
        m_asm.add(x86::rax, stride);
        jumpPastScanBound(x86::rax, stride, bounded, past);
        addCommands(perStep);
        m_asm.cmp(x86::byte_ptr(Tape, x86::rax), 0);
        m_asm.jne(step);
        m_asm.jmp(stepped);
    }

    // Jumps to past when cell lies beyond what the scan may reach: a tape end, or bounded the
    // cell in rdx (which lies within the tape).
    void jumpPastScanBound(
        const x86::Gp &cell, std::int32_t stride, bool bounded, const asmjit::Label &past)
    {
        if (!bounded) {
            m_asm.cmp(cell, LastCell);
            m_asm.ja(past); // below cell 0 is a huge unsigned number
            return;
        }
        m_asm.cmp(cell, x86::rdx);
        if (stride > 0)
            m_asm.jg(past);
        else
            m_asm.jl(past);
    }

    // rdx = the last cell the scan from rax may reach: the tape end or the budget's.
    void scanLimit(std::int32_t stride)
    {
        if (stride > 0) {
            m_asm.lea(x86::rdx, x86::ptr(x86::rax, Budget));
            m_asm.mov(x86::ecx, LastCell);
            m_asm.cmp(x86::rdx, x86::rcx);
            m_asm.cmova(x86::rdx, x86::rcx);
        } else {
            m_asm.mov(x86::rdx, x86::rax);
            m_asm.sub(x86::rdx, Budget);
            m_asm.xor_(x86::ecx, x86::ecx);
            m_asm.cmp(x86::rdx, x86::rcx);
            m_asm.cmovl(x86::rdx, x86::rcx);
        }
    }

    // The cells between Pointer and rax come off the budget.
    void spendDistance(std::int32_t stride)
    {
        if (!m_counted)
            return;
        if (stride > 0) {
            m_asm.sub(Budget, x86::rax);
            m_asm.add(Budget, Pointer);
        } else {
            m_asm.add(Budget, x86::rax);
            m_asm.sub(Budget, Pointer);
        }
    }

    void end(std::int32_t value)
    {
        move(value);
        m_asm.mov(x86::qword_ptr(State, offsetof(Frame, dataPointer)), Pointer);
        storeBudget();
        storeCommands();
        m_asm.xor_(x86::eax, x86::eax);
        m_asm.jmp(m_exit);
    }

    const Program &m_program;
    bool m_counted;
    bool m_counts; // a debugger's counting translation: the commands are counted as they run
    // Cells (offset, register) a loop without movement keeps in registers across its rounds.
    HeldCells m_held;
    std::size_t m_mostBytes;
    const Failures &m_failures;
    x86::Assembler m_asm;
    std::vector<asmjit::Label> m_labels;
    std::vector<bool> m_isTarget; // operations code jumps to or a run may start at
    asmjit::Label m_exit;
    asmjit::Section *m_cold = nullptr; // out-of-line paths
    bool m_inCold = false;
};

using Entry = int (*)(Frame *, const void *entry);

// The fewest bytes the generator emits for op: the instructions it always writes, each in
// its shortest encoding (held cells, short jumps), out-of-line paths included. counted: with
// a coarse idle hook, which adds a budget test and its call at every boundary and Checkpoint
// (two to a Repeat), and the budget's store and load around every call out.
std::size_t leastBytes(const Op &op, bool counted)
{
    const std::size_t move = op.value != 0 ? 4 : 0;
    const std::size_t aroundCall = counted ? 17 : 0;
    const std::size_t budgetTest = counted ? 36 + aroundCall : 0;
    switch (op.kind) {
    case OpKind::Add: return 3;
    case OpKind::Set: return 2;
    case OpKind::Multiply:
    case OpKind::MultiplyOne: return 5;
    case OpKind::Output:
    case OpKind::Input: return 19;
    case OpKind::Check: return 9 + 26 + aroundCall; // the compare; the call of its path
    case OpKind::Move: return move;
    case OpKind::Open: return move + 16 + budgetTest;
    case OpKind::Close: return move + 18 + budgetTest;
    case OpKind::Repeat: return move + 7 + 2 * budgetTest;
    case OpKind::Checkpoint: return budgetTest;
    case OpKind::Stop: return move + 20 + aroundCall;
    case OpKind::End: return 8;
    case OpKind::Term:
    case OpKind::Scan: return 0;
    }
    return 0;
}

// Code in its own pages, never writable and executable at once: written, then switched to
// read and execute; unmapped with the object.
class MappedCode final : public NativeCode
{
public:
    MappedCode(void *pages, std::size_t size)
        : m_pages(pages)
        , m_size(size)
    { }
    ~MappedCode() override { ::munmap(m_pages, m_size); }
    MappedCode(const MappedCode &) = delete;
    MappedCode &operator=(const MappedCode &) = delete;

    Stop run(Machine &machine, std::int32_t entry) const override
    {
        std::exception_ptr error;
        Frame frame {machine.tape, machine.dataPointer, machine.executed, machine.threshold,
            machine.commands, &machine, &error,
            // in the order of Call
            {checkFailedAt, loopCarefullyAt, scanAt, scanIdleAt, collapseAt, idleAt, roundIdleAt,
                stopAt},
            transferAt};
        const std::uint32_t offset = entries[static_cast<std::size_t>(entry)];
        if (offset == NoEntry)
            throw std::logic_error("no machine code starts at that operation");
        const int result = reinterpret_cast<Entry>(m_pages)(
            &frame, static_cast<const std::uint8_t *>(m_pages) + offset);
        if (result == Threw)
            std::rethrow_exception(error);
        const auto stop = static_cast<Stop>(result);
        machine.executed = frame.executed;
        machine.commands = frame.commands;
        if (stop == Stop::Ended) {
            machine.dataPointer = static_cast<std::int32_t>(frame.dataPointer);
            machine.instructionPointer = machine.engine.m_codeLength + 1;
        }
        return stop;
    }

    const void *address() const override { return m_pages; }
    std::size_t size() const override { return bytes; }

    std::size_t bytes = 0;
    // Where the code for each operation a run may start at begins (NoEntry elsewhere).
    std::vector<std::uint32_t> entries;
    static constexpr std::uint32_t NoEntry = ~std::uint32_t {0};

private:
    void *m_pages;
    std::size_t m_size;
};

std::unique_ptr<NativeCode> generate(const Program &program, bool counted, std::size_t mostBytes)
{
    Failures failures;
    asmjit::CodeHolder code;
    code.init(asmjit::Environment::host());
    code.setErrorHandler(&failures);
    Generator generator(program, counted, mostBytes, code, failures);
    if (!generator.emit() || failures.failed)
        return nullptr;
    if (code.flatten() != asmjit::kErrorOk || code.resolveUnresolvedLinks() != asmjit::kErrorOk)
        return nullptr;
    const std::size_t size = code.codeSize();
    const auto pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t mapped = (size + pageSize - 1) / pageSize * pageSize;
    void *pages =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        return nullptr;
    auto native = std::make_unique<MappedCode>(pages, mapped);
    native->bytes = size;
    if (code.relocateToBase(reinterpret_cast<std::uint64_t>(pages)) != asmjit::kErrorOk ||
        code.copyFlattenedData(pages, mapped) != asmjit::kErrorOk ||
        ::mprotect(pages, mapped, PROT_READ | PROT_EXEC) != 0)
        return nullptr;
    native->entries.assign(program.ops.size() + 1, MappedCode::NoEntry);
    const std::vector<asmjit::Label> &labels = generator.labels();
    for (std::size_t i = 0; i < labels.size(); ++i) {
        if (labels[i].isValid() && code.isLabelBound(labels[i]))
            native->entries[i] = static_cast<std::uint32_t>(code.labelOffsetFromBase(labels[i]));
    }
    return native;
}

} // namespace

bool nativeCodeAvailable()
{
    return true;
}

std::size_t leastNativeCodeBytes(const Program &program, bool counted)
{
    std::size_t bytes = 0;
    for (const Op &op : program.ops)
        bytes += leastBytes(op, counted);
    return bytes;
}

std::unique_ptr<NativeCode> compileNative(
    const Program &program, bool counted, std::size_t mostBytes)
{
    // A program too large for the bound is known before anything is made for it.
    if (leastNativeCodeBytes(program, counted) > mostBytes)
        return nullptr;
    try {
        return generate(program, counted, mostBytes);
    } catch (const std::bad_alloc &) {
        return nullptr; // as for code past its bound: the threaded loop runs it
    }
}

#else

bool nativeCodeAvailable()
{
    return false;
}

std::size_t leastNativeCodeBytes(const Program &, bool)
{
    return 0;
}

std::unique_ptr<NativeCode> compileNative(const Program &, bool, std::size_t)
{
    return nullptr;
}

#endif
