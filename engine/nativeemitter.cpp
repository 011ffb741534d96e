#include "nativeemitter.h"

#include "nativeexec.h"

#if defined(CEREBRIX_NATIVE) && defined(__x86_64__)

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace native {

Generator::Generator(const Program &program, bool counted, bool profiles, std::size_t mostBytes,
    asmjit::CodeHolder &code, const Failures &failures)
    : m_program(program)
    , m_cellBytes(program.cellMask == 0xFF ? 1
              : program.cellMask == 0xFFFF ? 2
                                           : 4)
    , m_shift(program.cellMask == 0xFF     ? 0
              : program.cellMask == 0xFFFF ? 1
                                           : 2)
    , m_counted(counted)
    , m_counts(!program.counts.empty())
    , m_profiles(profiles)
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

asmjit::Label Generator::label(std::int32_t index)
{
    asmjit::Label &made = m_labels[static_cast<std::size_t>(index)];
    if (!made.isValid()) {
        // Printed code names each operation's label after it, to be read beside the list.
        made = m_asm.logger() ? m_asm.newNamedLabel(("op" + std::to_string(index)).c_str())
                              : m_asm.newLabel();
    }
    return made;
}

bool Generator::emit()
{
    if ((m_counts && !m_counted) || (m_profiles && !m_counts) || !m_cold)
        return false;
    for (const RepeatLoop &loop : m_program.loops) {
        if (m_counts && loop.collapsible)
            return false; // a counting translation collapses nothing: its register counts
    }
    prologue();
    const auto &ops = m_program.ops;
    // Room for about the usual size of the code, so that it is seldom grown (each growth
    // copies the code into new pages): twice the fewest bytes in line, as many out of line.
    const std::size_t least = leastNativeCodeBytes(m_program, m_counted);
    asmjit::CodeHolder &code = *m_asm.code();
    if (code.reserveBuffer(&code.textSection()->buffer(),
            std::min(least * 2 + 4096, m_mostBytes)) != asmjit::kErrorOk ||
        code.reserveBuffer(&m_cold->buffer(), std::min(least + 4096, m_mostBytes)) !=
            asmjit::kErrorOk)
        return false;
    for (std::size_t i = 0; i < ops.size();) {
        // The first error ends the code: AsmJit would go on, failing at every instruction.
        if (emitted() > m_mostBytes || m_failures.failed || m_outOfReach)
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
    callStubs();
    return emitted() <= m_mostBytes && !m_failures.failed && !m_outOfReach;
}

std::size_t Generator::emitted() const
{
    return m_asm.offset() + (m_inCold ? m_asm.code()->textSection() : m_cold)->bufferSize();
}

void Generator::prologue()
{
    // int code(Frame *, entry address): every callee-saved register is the code's, and it
    // calls out, so AsmJit aligns the stack for calls below the held cells' slots.
    asmjit::FuncDetail detail;
    detail.init(asmjit::FuncSignatureT<int, Frame *, const void *>(), m_asm.environment());
    m_frame.init(detail);
    m_frame.setDirtyRegs(asmjit::RegGroup::kGp,
        asmjit::Support::bitMask(x86::Gp::kIdBx, x86::Gp::kIdBp, x86::Gp::kIdR12, x86::Gp::kIdR13,
            x86::Gp::kIdR14, x86::Gp::kIdR15));
    m_frame.setLocalStackSize(HeldSlotBytes);
    m_frame.setFuncCalls();
    m_frame.finalize();
    m_asm.emitProlog(m_frame);
    m_asm.mov(State, x86::rdi);
    m_asm.mov(Tape, x86::qword_ptr(State, offsetof(Frame, tape)));
    m_asm.mov(Pointer, x86::qword_ptr(State, offsetof(Frame, dataPointer)));
    if (m_profiles)
        m_asm.mov(Jumps, x86::qword_ptr(State, offsetof(Frame, jumps)));
    loadBudget();
    loadCommands();
    m_asm.jmp(x86::rsi); // the entry's address
}

void Generator::loadCommands()
{
    if (m_counts)
        m_asm.mov(Commands, x86::qword_ptr(State, offsetof(Frame, commands)));
}

void Generator::storeCommands()
{
    if (m_counts)
        m_asm.mov(x86::qword_ptr(State, offsetof(Frame, commands)), Commands);
}

void Generator::addCommands(std::int64_t count)
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

const OpCount &Generator::countAt(std::int32_t index) const
{
    return m_program.counts[static_cast<std::size_t>(index)];
}

void Generator::countBefore(std::int32_t index)
{
    if (m_counts)
        addCommands(countAt(index).before);
}

void Generator::countOwn(std::int32_t index)
{
    if (m_counts)
        addCommands(countAt(index).own);
}

void Generator::countFolded(std::int32_t index)
{
    if (!m_counts)
        return;
    const Op &op = m_program.ops[static_cast<std::size_t>(index)];
    const OpCount &count = countAt(index);
    // A body's Add stands for no loop.
    const bool isLoop = m_profiles &&
        (op.kind == OpKind::Set || op.kind == OpKind::Multiply || op.kind == OpKind::MultiplyOne);
    if (count.perRound != 0 || isLoop) {
        onCell(op.offset, [&](const auto &at) { loadZeroExtended(x86::eax, at); });
        if (!count.stepsDown)
            negateAtWidth(x86::eax);
        if (isLoop)
            noteRounds(op.position);
        if (count.perRound != 0) {
            m_asm.imul(x86::rax, x86::rax, count.perRound);
            m_asm.add(Commands, x86::rax);
        }
    }
    addCommands(count.before + count.own);
}

x86::Mem Generator::jumpsAt(std::int32_t position)
{
    constexpr std::int32_t Farthest = INT32_MAX / 8;
    if (position > Farthest)
        m_outOfReach = true; // the threaded loop runs such a program
    return x86::qword_ptr(Jumps, std::min(position, Farthest) * 8);
}

void Generator::noteJump(std::int32_t position)
{
    if (m_profiles)
        m_asm.add(jumpsAt(position), 1);
}

void Generator::noteRounds(std::int32_t open)
{
    m_asm.mov(x86::ecx, 1);
    m_asm.sub(x86::rcx, x86::rax);
    m_asm.add(jumpsAt(open), x86::rcx);
}

void Generator::noteRoundJump(std::int32_t close)
{
    if (!m_profiles)
        return;
    m_asm.setne(x86::cl);
    m_asm.movzx(x86::ecx, x86::cl);
    m_asm.add(jumpsAt(close), x86::rcx);
}

void Generator::skipIfZero(std::int32_t open, const asmjit::Label &target)
{
    if (!m_profiles) {
        m_asm.je(target);
        return;
    }
    const asmjit::Label skips = m_asm.newLabel();
    m_asm.je(skips);
    outOfLine([&] {
        m_asm.bind(skips);
        noteJump(open);
        m_asm.jmp(target);
    });
}

void Generator::spendRounds(std::int64_t roundCost)
{
    if (roundCost == static_cast<std::int32_t>(roundCost)) {
        m_asm.imul(x86::rcx, x86::rcx, static_cast<std::int32_t>(roundCost));
    } else {
        m_asm.mov(x86::rax, roundCost);
        m_asm.imul(x86::rcx, x86::rax);
    }
    m_asm.sub(Budget, x86::rcx);
}

void Generator::loadBudget()
{
    if (!m_counted)
        return;
    m_asm.mov(Budget, x86::qword_ptr(State, offsetof(Frame, threshold)));
    m_asm.sub(Budget, x86::qword_ptr(State, offsetof(Frame, executed)));
}

void Generator::storeBudget()
{
    if (!m_counted)
        return;
    m_asm.mov(x86::rax, x86::qword_ptr(State, offsetof(Frame, threshold)));
    m_asm.sub(x86::rax, Budget);
    m_asm.mov(x86::qword_ptr(State, offsetof(Frame, executed)), x86::rax);
}

void Generator::epilogue()
{
    m_asm.bind(m_exit);
    m_asm.emitEpilog(m_frame);
}

void Generator::callOut(Call function, std::int32_t index)
{
    if (m_held.empty()) {
        asmjit::Label &stub = m_stubs[function];
        if (!stub.isValid())
            stub = m_asm.newLabel();
        m_asm.mov(x86::esi, index);
        m_asm.call(stub);
        return;
    }
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

void Generator::callStubs()
{
    for (std::size_t function = 0; function < CallCount; ++function) {
        if (!m_stubs[function].isValid())
            continue;
        outOfLine([&] {
            // Entered by a call from the code (esi: the index), one return address below
            // the code's frame: another 8 bytes align the stack for the call.
            m_asm.bind(m_stubs[function]);
            m_asm.sub(x86::rsp, 8);
            m_asm.mov(x86::qword_ptr(State, offsetof(Frame, dataPointer)), Pointer);
            storeBudget();
            storeCommands();
            m_asm.mov(x86::rdi, State);
            m_asm.call(x86::qword_ptr(State,
                static_cast<std::int32_t>(offsetof(Frame, calls) + function * sizeof(CallOut))));
            m_asm.add(x86::rsp, 8);
            const asmjit::Label goesOn = m_asm.newLabel();
            m_asm.test(x86::eax, x86::eax);
            m_asm.jz(goesOn);
            m_asm.add(x86::rsp, 8); // the return address: the exit takes the code's own frame
            m_asm.jmp(m_exit);
            m_asm.bind(goesOn);
            m_asm.mov(Pointer, x86::qword_ptr(State, offsetof(Frame, dataPointer)));
            loadBudget();
            loadCommands();
            m_asm.ret();
        });
    }
}

void Generator::transfer(std::int32_t index)
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

void Generator::storeHeldCells()
{
    for (const auto &[offset, reg] : m_held)
        m_asm.mov(cell(offset), reg);
}

void Generator::loadHeldCells()
{
    for (const auto &[offset, reg] : m_held)
        m_asm.mov(reg, cell(offset));
}

bool Generator::compareRange(CellRange range)
{
    if (m_program.testsOneEnd && range.high <= 0 && range.low < 0) {
        // No cell above the pointer, which is on the tape: only the low end can be passed.
        m_asm.cmp(Pointer.r32(), -range.low);
        return true;
    }
    const auto lastStart =
        static_cast<std::uint32_t>(m_program.lastCell - (range.high - range.low));
    if (range.low == 0) {
        m_asm.cmp(Pointer.r32(), static_cast<std::int32_t>(lastStart));
        return false;
    }
    m_asm.lea(x86::eax, x86::ptr(Pointer, range.low));
    m_asm.cmp(x86::eax, static_cast<std::int32_t>(lastStart));
    return false;
}

void Generator::jumpIfFits(CellRange range, const asmjit::Label &onTape)
{
    if (compareRange(range))
        m_asm.jae(onTape);
    else
        m_asm.jbe(onTape);
}

void Generator::jumpIfMayWrite(
    const std::vector<std::int32_t> &writes, const asmjit::Label &mayWrite)
{
    if (!m_program.guards() || writes.empty())
        return;
    // The pointer is on the tape and the offsets small: compares of 32 bits suffice.
    const CellRange guarded = m_program.guarded;
    if (writes.size() > MostTestedWrites) {
        const asmjit::Label clear = m_asm.newLabel();
        m_asm.lea(x86::eax, x86::ptr(Pointer, writes.front()));
        m_asm.cmp(x86::eax, guarded.high);
        m_asm.jg(clear);
        m_asm.lea(x86::eax, x86::ptr(Pointer, writes.back()));
        m_asm.cmp(x86::eax, guarded.low);
        m_asm.jge(mayWrite);
        m_asm.bind(clear);
        return;
    }
    // Each cell: one unsigned compare of its distance above the lowest guarded cell.
    for (const std::int32_t cell : writes) {
        m_asm.lea(x86::eax, x86::ptr(Pointer, cell - guarded.low));
        m_asm.cmp(x86::eax, guarded.high - guarded.low);
        m_asm.jbe(mayWrite);
    }
}

void Generator::jumpUnlessFits(CellRange range, const asmjit::Label &offTape)
{
    if (compareRange(range))
        m_asm.jb(offTape);
    else
        m_asm.ja(offTape);
}

void Generator::countCost(std::int64_t cost, Call whenDue, std::int32_t index)
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

void Generator::spend(std::int64_t cost)
{
    if (cost == static_cast<std::int32_t>(cost)) {
        m_asm.sub(Budget, static_cast<std::int32_t>(cost));
        return;
    }
    m_asm.mov(x86::rax, cost);
    m_asm.sub(Budget, x86::rax);
}

void Generator::dueAt(std::int32_t index)
{
    // Every test leaves budget, so a boundary that adds nothing needs none.
    const std::int64_t cost = m_program.costs[static_cast<std::size_t>(index)];
    if (cost != 0)
        countCost(cost, Idle, index);
}

void Generator::move(std::int32_t value)
{
    if (value != 0)
        m_asm.add(Pointer, value);
}

std::int32_t Generator::blockOperation(std::int32_t index)
{
    const Op &op = m_program.ops[static_cast<std::size_t>(index)];
    countFolded(index);
    switch (op.kind) {
    case OpKind::Add:
        onCell(op.offset, [&](const auto &at) { m_asm.add(at, immediate(op.value)); });
        return index + 1;
    case OpKind::Set:
        onCell(op.offset, [&](const auto &at) { m_asm.mov(at, immediate(op.value)); });
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

void Generator::loadCounter(std::int32_t offset)
{
    onCell(offset, [&](const auto &at) {
        loadZeroExtended(x86::eax, at);
        m_asm.mov(at, 0);
    });
}

void Generator::addMultiple(std::int32_t offset, std::int32_t factor)
{
    const std::uint32_t low = static_cast<std::uint32_t>(factor) & m_program.cellMask;
    if (low == 1) {
        onCell(offset, [&](const auto &at) { m_asm.add(at, atWidth(x86::rax)); });
    } else if (low == m_program.cellMask) {
        onCell(offset, [&](const auto &at) { m_asm.sub(at, atWidth(x86::rax)); });
    } else if (low != 0) {
        // The product's low bits are the same whether the factor counts as signed or not.
        m_asm.imul(x86::ecx, x86::eax, static_cast<std::int32_t>(low));
        onCell(offset, [&](const auto &at) { m_asm.add(at, atWidth(x86::rcx)); });
    }
}

void Generator::check(std::int32_t index)
{
    const Op &op = m_program.ops[static_cast<std::size_t>(index)];
    const asmjit::Label failed = m_asm.newLabel();
    if (op.cells != CellRange {}) // the pointer's own cell is on the tape
        jumpUnlessFits(op.cells, failed);
    jumpIfMayWrite(m_program.stretches[static_cast<std::size_t>(op.index)].writes, failed);
    const std::int32_t resume = m_program.stretches[static_cast<std::size_t>(op.index)].resume;
    outOfLine([&] {
        m_asm.bind(failed);
        callOut(CheckFailed, index);
        m_asm.jmp(label(resume));
    });
}

void Generator::boundary(std::int32_t index)
{
    const Op &op = m_program.ops[static_cast<std::size_t>(index)];
    move(op.value);
    countBefore(index);
    dueAt(index);
    countOwn(index);
    // A settling loop's rounds left to settle in, by their place in Frame::nestRounds.
    const x86::Mem nestRounds = x86::dword_ptr(x86::rax, (op.index - 1) * 4);
    if (op.index > 0) {
        m_asm.mov(x86::rax, x86::qword_ptr(State, offsetof(Frame, nestRounds)));
        if (op.kind == OpKind::Open)
            m_asm.mov(nestRounds, NestSettlingRounds);
    }
    m_asm.cmp(cell(0), 0);
    const std::int32_t body = op.kind == OpKind::Open ? index + 1 : op.jump;
    if (op.kind == OpKind::Open) {
        skipIfZero(op.position, label(op.jump));
    } else {
        const asmjit::Label stay = m_asm.newLabel();
        m_asm.je(stay);
        noteJump(op.position);
        if (op.index > 0) {
            const asmjit::Label settle = m_asm.newLabel();
            const asmjit::Label settled = m_asm.newLabel();
            m_asm.cmp(nestRounds, 0);
            m_asm.jg(settle);
            m_asm.bind(settled);
            outOfLine([&] {
                m_asm.bind(settle);
                callOut(SettleNest, index);
                m_asm.cmp(cell(0), 0);
                m_asm.je(stay);
                m_asm.jmp(settled);
            });
        }
        jumpIfFits(op.cells, label(body + 1));
        m_asm.jmp(label(body));
        m_asm.bind(stay);
        return;
    }
    jumpIfFits(op.cells, label(body + 1));
    // Otherwise on into the body's Check, which follows.
}

void Generator::end(std::int32_t value)
{
    move(value);
    m_asm.mov(x86::qword_ptr(State, offsetof(Frame, dataPointer)), Pointer);
    storeBudget();
    storeCommands();
    m_asm.xor_(x86::eax, x86::eax);
    m_asm.jmp(m_exit);
}

} // namespace native

#endif
