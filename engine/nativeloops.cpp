#include "nativeemitter.h"

#if defined(CEREBRIX_NATIVE) && defined(__x86_64__)

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace native {

std::int32_t Generator::repeat(std::int32_t index)
{
    const Op &op = m_program.ops[static_cast<std::size_t>(index)];
    const RepeatLoop &loop = m_program.loops[static_cast<std::size_t>(op.index)];
    const std::int32_t after = index + 1 + loop.bodyCount;
    const asmjit::Label done = label(after);
    move(op.value);
    countBefore(index);
    dueAt(index);
    countOwn(index);
    if (loop.closesAtOnce) {
        // ecx: the counter, then the rounds.
        loadZeroExtended(x86::ecx, cell(0));
        m_asm.test(x86::ecx, x86::ecx);
        m_asm.je(done);
        return closeAtOnce(index, done);
    }
    m_asm.cmp(cell(0), 0);
    skipIfZero(loop.first, done);
    if (loop.shift == 0 && holdCells(index + 1, after))
        return repeatHeld(index, done);
    const asmjit::Label round = m_asm.newLabel();
    const asmjit::Label offTape = m_asm.newLabel();
    const asmjit::Label collapse = m_asm.newLabel();
    if (loop.collapsible)
        m_asm.mov(RoundsLeft, loop.settlesAtOnce ? 1 : RoundsBeforeCollapsing);
    m_asm.bind(round);
    jumpUnlessFits(op.cells, offTape);
    jumpIfMayWrite(loop.writes, offTape);
    // The round before stayed on the tape, and the next lies further on: rounds after the
    // first test only the end the loop moves towards, as they go back for another.
    const bool oneEnd = m_program.testsOneEnd && loop.shift != 0 && !loop.collapsible &&
        !m_program.guards() && unitsPerCellMoved(index) == 0;
    const asmjit::Label roundBody = m_asm.newLabel();
    if (oneEnd)
        m_asm.bind(roundBody);
    for (std::int32_t body = index + 1; body < after;)
        body = blockOperation(body);
    move(loop.shift);
    if (m_counts)
        addCommands(countAt(index).perRound); // the round's body and "]"
    if (m_profiles) { // before the idle call, which stands after the "]"
        m_asm.cmp(cell(0), 0);
        noteRoundJump(loop.last);
    }
    if (unitsPerCellMoved(index) > 0) {
        m_asm.cmp(cell(0), 0);
        movingRounds(index, round, done, offTape); // on to done, bound after the body
    } else {
        countCost(loop.roundCost, RoundIdle, index);
        m_asm.cmp(cell(0), 0);
        if (oneEnd)
            nextRoundAt(op.cells, loop.shift, roundBody, done, offTape);
        else
            endRound(loop.collapsible, round, done, collapse); // on to done, bound after the body
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

std::int64_t Generator::unitsPerCellMoved(std::int32_t index) const
{
    const Op &op = m_program.ops[static_cast<std::size_t>(index)];
    const RepeatLoop &loop = m_program.loops[static_cast<std::size_t>(op.index)];
    // Its body is emitted three times: small bodies only.
    if (!m_program.movesUntested || !m_counted || m_counts || m_profiles || loop.collapsible ||
        loop.shift == 0 || loop.bodyCount > MostMovingBodyOperations)
        return 0;
    const std::int64_t stride = loop.shift < 0 ? -std::int64_t {loop.shift} : loop.shift;
    const std::int64_t units = (loop.roundCost + stride - 1) / stride;
    // The budget compared with what a distance across the whole tape costs.
    return units * (std::int64_t {m_program.lastCell} + 1) <= INT32_MAX ? units : 0;
}

void Generator::movingRounds(std::int32_t index, const asmjit::Label &round,
    const asmjit::Label &done, const asmjit::Label &offTape)
{
    const Op &op = m_program.ops[static_cast<std::size_t>(index)];
    const RepeatLoop &loop = m_program.loops[static_cast<std::size_t>(op.index)];
    const std::int64_t units = unitsPerCellMoved(index);
    const std::int32_t after = index + 1 + loop.bodyCount;
    // Every round here follows one that stayed on the tape (an idle call moves nothing).
    const bool oneEnd = m_program.testsOneEnd && !m_program.guards();
    const auto aRound = [&](const asmjit::Label &leaves) {
        if (oneEnd)
            jumpUnlessAheadFits(op.cells, loop.shift, leaves);
        else
            jumpUnlessFits(op.cells, leaves);
        jumpIfMayWrite(loop.writes, leaves);
        for (std::int32_t body = index + 1; body < after;)
            body = blockOperation(body);
        move(loop.shift);
    };
    const asmjit::Label backEdge = m_asm.newLabel();
    m_asm.jne(backEdge); // a loop of one round goes on at done
    outOfLine([&] {
        const asmjit::Label unchecked = m_asm.newLabel();
        const asmjit::Label checked = m_asm.newLabel();
        const asmjit::Label leaves = m_asm.newLabel();
        const asmjit::Label due = m_asm.newLabel();
        const asmjit::Label dueInChecked = m_asm.newLabel();
        m_asm.bind(backEdge);
        spend(loop.roundCost);
        m_asm.jle(due);
        // Rounds stay on the tape, so the distance stays below its length.
        m_asm.cmp(
            Budget, static_cast<std::int32_t>(units * (std::int64_t {m_program.lastCell} + 1)));
        m_asm.jle(checked);
        m_asm.mov(MovedFrom, Pointer);
        m_asm.bind(unchecked);
        aRound(leaves);
        m_asm.cmp(cell(0), 0);
        m_asm.jne(unchecked);
        spendMoved(loop.shift, units);
        m_asm.jmp(done);
        m_asm.bind(leaves);
        spendMoved(loop.shift, units);
        m_asm.jmp(offTape);
        // Too little budget left: the rounds each with the test, to the loop's end.
        m_asm.bind(checked);
        aRound(offTape);
        spend(loop.roundCost);
        m_asm.jle(dueInChecked);
        m_asm.cmp(cell(0), 0);
        m_asm.jne(checked);
        m_asm.jmp(done);
        m_asm.bind(due);
        spend(-loop.roundCost); // the function counts it
        callOut(RoundIdle, index);
        m_asm.jmp(round);
        m_asm.bind(dueInChecked);
        spend(-loop.roundCost);
        callOut(RoundIdle, index);
        m_asm.cmp(cell(0), 0);
        m_asm.jne(checked);
        m_asm.jmp(done);
    });
}

void Generator::spendMoved(std::int32_t shift, std::int64_t units)
{
    if (shift > 0) {
        m_asm.mov(x86::rcx, Pointer);
        m_asm.sub(x86::rcx, MovedFrom);
    } else {
        m_asm.mov(x86::rcx, MovedFrom);
        m_asm.sub(x86::rcx, Pointer);
    }
    if (units != 1)
        m_asm.imul(x86::rcx, x86::rcx, static_cast<std::int32_t>(units));
    m_asm.sub(Budget, x86::rcx);
}

std::int32_t Generator::closeAtOnce(std::int32_t index, const asmjit::Label &done)
{
    const Op &op = m_program.ops[static_cast<std::size_t>(index)];
    const RepeatLoop &loop = m_program.loops[static_cast<std::size_t>(op.index)];
    const asmjit::Label offTape = m_asm.newLabel();
    if (!loop.covered)
        jumpUnlessFits(op.cells, offTape);
    // ecx: the rounds; amounts wrap at 32 bits, which the cells' widths divide.
    if (!loop.stepsDown)
        negateAtWidth(x86::ecx);
    for (const auto &[sum, step] : loop.roundSteps) {
        // Small factors by lea, a cycle where imul takes three: the sums often feed the next
        // loop's counter.
        switch (step) {
        case 1: m_asm.mov(x86::eax, x86::ecx); break;
        case 2: m_asm.lea(x86::eax, x86::ptr(x86::rcx, x86::rcx)); break;
        case 4:
        case 8:
            m_asm.mov(x86::eax, x86::ecx);
            m_asm.shl(x86::eax, step == 4 ? 2 : 3);
            break;
        case 3:
        case 5:
        case 9:
            m_asm.lea(x86::eax, x86::ptr(x86::rcx, x86::rcx, step == 3 ? 1 : step == 5 ? 2 : 3));
            break;
        default: m_asm.imul(x86::eax, x86::ecx, static_cast<std::int32_t>(step)); break;
        }
        m_asm.add(cell(sum), atWidth(x86::rax));
    }
    m_asm.mov(cell(0), 0);
    for (const auto &[state, value] : loop.roundStates)
        m_asm.mov(cell(state), immediate(static_cast<std::int32_t>(value)));
    if (m_counted) {
        // Every round is spent; when that uses the budget up, the idle call.
        const asmjit::Label due = m_asm.newLabel();
        spendRounds(loop.roundCost);
        m_asm.jle(due);
        outOfLine([&] {
            m_asm.bind(due);
            m_asm.xor_(Budget.r32(), Budget.r32());
            callOut(RoundIdle, index);
            m_asm.jmp(done);
        });
    }
    if (!loop.covered) {
        outOfLine([&] {
            m_asm.bind(offTape);
            callOut(LoopCarefully, index);
            m_asm.jmp(done);
        });
    }
    return index + 1 + loop.bodyCount;
}

void Generator::nextRoundAt(CellRange cells, std::int32_t shift, const asmjit::Label &body,
    const asmjit::Label &leave, const asmjit::Label &offTape)
{
    if ((shift < 0 && cells.low >= 0) || (shift > 0 && cells.high <= 0)) {
        m_asm.jne(body); // its cells never pass that end
        return;
    }
    m_asm.je(leave);
    if (shift < 0) {
        m_asm.cmp(Pointer.r32(), -cells.low);
        m_asm.jae(body);
    } else {
        m_asm.cmp(Pointer.r32(), m_program.lastCell - cells.high);
        m_asm.jbe(body);
    }
    m_asm.jmp(offTape);
}

void Generator::jumpUnlessAheadFits(
    CellRange cells, std::int32_t shift, const asmjit::Label &offTape)
{
    if (shift < 0 && cells.low < 0) {
        m_asm.cmp(Pointer.r32(), -cells.low);
        m_asm.jb(offTape);
    } else if (shift > 0 && cells.high > 0) {
        m_asm.cmp(Pointer.r32(), m_program.lastCell - cells.high);
        m_asm.ja(offTape);
    }
}

void Generator::endRound(bool collapsible, const asmjit::Label &round, const asmjit::Label &leave,
    const asmjit::Label &collapse)
{
    if (!collapsible) {
        m_asm.jne(round);
        return; // on to leave, which follows
    }
    m_asm.je(leave);
    m_asm.sub(RoundsLeft, 1);
    m_asm.jnz(round);
    m_asm.jmp(collapse);
}

bool Generator::holdCells(std::int32_t first, std::int32_t end)
{
    static const x86::Gp Registers[] = {
        x86::rdx, x86::rsi, x86::rdi, x86::r8, x86::r9, x86::r10, x86::r11};
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
        m_held.emplace_back(offsets[i], atWidth(Registers[i]));
    return true;
}

std::int32_t Generator::repeatHeld(std::int32_t index, const asmjit::Label &done)
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
    jumpIfMayWrite(loop.writes, offTape);
    m_held = held;
    loadHeldCells();
    if (loop.collapsible)
        m_asm.mov(RoundsLeft, loop.settlesAtOnce ? 1 : RoundsBeforeCollapsing);
    m_asm.bind(round);
    for (std::int32_t body = index + 1; body < after;)
        body = blockOperation(body);
    if (m_counts)
        addCommands(countAt(index).perRound); // the round's body and "]"
    const x86::Gp counter = m_held.front().second;
    if (m_profiles) {
        m_asm.test(counter, counter);
        noteRoundJump(loop.last);
    }
    countCost(loop.roundCost, RoundIdle, index);
    m_asm.test(counter, counter);
    endRound(loop.collapsible, round, leave, collapse);
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

void Generator::collapseHeld(
    std::int32_t index, const asmjit::Label &round, const asmjit::Label &leave)
{
    const Op &op = m_program.ops[static_cast<std::size_t>(index)];
    const RepeatLoop &loop = m_program.loops[static_cast<std::size_t>(op.index)];
    const std::int32_t after = index + 1 + loop.bodyCount;
    const auto slot = [&](std::size_t i) {
        return x86::ptr(x86::rsp,
            static_cast<std::int32_t>(m_frame.localStackOffset() + i * m_cellBytes), m_cellBytes);
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
    loadZeroExtended(x86::ecx, counter);
    if (!loop.stepsDown)
        negateAtWidth(x86::ecx);
    for (const std::int32_t sum : loop.sums) {
        const std::size_t i = heldIndex(sum);
        const x86::Gp change = atWidth(x86::rax);
        m_asm.mov(change, m_held[i].second);
        m_asm.sub(change, slot(i));
        m_asm.imul(x86::eax, x86::ecx);
        m_asm.add(m_held[i].second, change);
    }
    if (m_counted) {
        // The rounds skipped are spent; when that uses the budget up, the idle call.
        const asmjit::Label due = m_asm.newLabel();
        spendRounds(loop.roundCost);
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

} // namespace native

#endif
