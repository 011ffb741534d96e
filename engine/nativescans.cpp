#include "nativeemitter.h"

#if defined(CEREBRIX_NATIVE) && defined(__x86_64__)

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>
#include <vector>

namespace native {

void Generator::scan(std::int32_t index)
{
    const Op &op = m_program.ops[static_cast<std::size_t>(index)];
    const std::int32_t stride = op.value;
    const std::int32_t close = m_program.stretches[static_cast<std::size_t>(op.index)].last;
    countBefore(index);
    dueAt(index);
    countOwn(index);
    const std::int64_t perStep = m_counts ? countAt(index).perRound : 0;
    const asmjit::Label resume = m_asm.newLabel();
    const asmjit::Label stepped = m_asm.newLabel();
    const asmjit::Label found = m_asm.newLabel();
    const asmjit::Label bound = m_asm.newLabel();
    const asmjit::Label next = label(index + 1);
    const asmjit::Label done = m_asm.newLabel();
    // m_reached: the cell reached; rdx: the last cell the scan may reach. Without a budget
    // or a count to take the distance from, the scan steps the pointer itself.
    const bool inPlace = !m_counted && !m_counts;
    m_reached = inPlace ? Pointer : x86::rax;
    // Only narrow scans, which mostly end within a few steps, take four steps before the
    // budget is looked at. Others go to their vectors or groups at once, as without a budget:
    // on the long scans that vectors and wide groups serve, the four steps cost more than they
    // save.
    const bool narrow = stride != 1 && stride != -1 && scanGroupSteps(stride) == 4;
    if (m_counted && perStep == 0 && !m_profiles && narrow) {
        m_asm.cmp(cellFrom(Pointer, 0), 0);
        m_asm.je(done);
        firstScanSteps(stride, done);
        m_asm.mov(x86::rax, Pointer);
    } else {
        if (!inPlace)
            m_asm.mov(x86::rax, Pointer);
        m_asm.cmp(cellFrom(m_reached, 0), 0);
        skipIfZero(op.position, found);
    }
    m_asm.bind(resume);
    const asmjit::Label offTape = m_asm.newLabel();
    if (m_counted) {
        // A budget beyond any scan's length bounds nothing: the tape ends alone do.
        const asmjit::Label bounded = m_asm.newLabel();
        m_asm.cmp(Budget, m_program.lastCell);
        m_asm.jle(bounded);
        steps(stride, perStep, false, offTape, stepped, false);
        m_asm.bind(bounded);
        scanLimit(stride);
        steps(stride, perStep, true, bound, stepped, false);
    } else {
        steps(stride, perStep, false, offTape, stepped, true);
    }
    m_asm.bind(stepped);
    noteScanSteps(index, true);
    spendDistance(stride);
    m_asm.bind(found);
    if (!inPlace)
        m_asm.mov(Pointer, x86::rax);
    m_asm.bind(done);
    outOfLine([&] {
        if (m_counted) {
            m_asm.bind(bound);
            m_asm.cmp(x86::rax, m_program.lastCell);
            m_asm.ja(offTape);
            // The budget is spent: the idle call, on the cell just reached.
            if (m_counts)
                addCommands(perStep);
            noteScanSteps(index, false);
            if (m_profiles) { // the cell reached is not tested yet: its "]" jumps unless zero
                m_asm.cmp(cellFrom(x86::rax, 0), 1);
                m_asm.sbb(jumpsAt(close), 0);
            }
            m_asm.xor_(Budget.r32(), Budget.r32());
            m_asm.mov(Pointer, x86::rax);
            callOut(ScanIdle, index);
            m_asm.mov(x86::rax, Pointer);
            m_asm.cmp(cellFrom(x86::rax, 0), 0);
            m_asm.je(found);
            m_asm.jmp(resume);
        }
        m_asm.bind(offTape);
        m_asm.sub(m_reached, stride); // back on the tape
        noteScanSteps(index, false);
        spendDistance(stride);
        if (!inPlace)
            m_asm.mov(Pointer, x86::rax);
        callOut(ScanOn, index);
        m_asm.jmp(next);
    });
    m_reached = x86::rax;
}

void Generator::firstScanSteps(std::int32_t stride, const asmjit::Label &found)
{
    const asmjit::Label further = m_asm.newLabel();
    const asmjit::Label hit[3] = {m_asm.newLabel(), m_asm.newLabel(), m_asm.newLabel()};
    m_asm.lea(x86::rcx, x86::ptr(Pointer, 4 * stride));
    jumpPastScanBound(x86::rcx, stride, false, further);
    for (int k = 1; k <= 3; ++k) {
        m_asm.cmp(cellFrom(Pointer, k * stride), 0);
        m_asm.je(hit[k - 1]);
    }
    m_asm.mov(Pointer, x86::rcx);
    m_asm.cmp(cellFrom(Pointer, 0), 0);
    m_asm.je(found);
    m_asm.jmp(further);
    for (int k = 3; k >= 1; --k) {
        m_asm.bind(hit[k - 1]);
        m_asm.add(Pointer, k * stride);
        m_asm.jmp(found);
    }
    m_asm.bind(further);
}

void Generator::noteScanSteps(std::int32_t index, bool endsOnZero)
{
    if (!m_profiles)
        return;
    const Op &op = m_program.ops[static_cast<std::size_t>(index)];
    const std::int32_t stride = op.value;
    // The steps are the distance over the stride, which divides it: shifted by the stride's
    // power of two, then times the inverse of its odd part modulo 2^32 (no division; the
    // steps fit in 31 bits).
    m_asm.mov(x86::rcx, x86::rax);
    m_asm.sub(x86::rcx, Pointer);
    const auto magnitude = static_cast<std::uint32_t>(stride < 0 ? -std::int64_t {stride} : stride);
    const int twos = std::countr_zero(magnitude);
    if (twos > 0)
        m_asm.sar(x86::rcx, twos);
    const auto odd = static_cast<std::uint32_t>(stride >> twos); // with the stride's sign
    std::uint32_t inverse = odd; // right in 3 bits; each round doubles them
    for (int round = 0; round < 4; ++round)
        inverse *= 2u - odd * inverse;
    if (inverse == ~std::uint32_t {0})
        m_asm.neg(x86::ecx);
    else if (inverse != 1)
        m_asm.imul(x86::ecx, x86::ecx, static_cast<std::int32_t>(inverse));
    if (endsOnZero)
        m_asm.sub(x86::rcx, 1);
    m_asm.add(jumpsAt(m_program.stretches[static_cast<std::size_t>(op.index)].last), x86::rcx);
}

void Generator::scanSteps(std::int32_t stride, std::int64_t perStep, bool bounded,
    const asmjit::Label &past, const asmjit::Label &stepped, bool steppedFollows)
{
    const asmjit::Label group = m_asm.newLabel();
    const asmjit::Label step = m_asm.newLabel();
    const int groupSteps = scanGroupSteps(stride);
    std::vector<asmjit::Label> hit(static_cast<std::size_t>(groupSteps - 1));
    for (asmjit::Label &label : hit)
        label = m_asm.newLabel();
    const std::int64_t reach = std::int64_t {groupSteps} * stride;
    // A debugger's count takes each step's commands as the step is taken.
    m_asm.bind(group);
    // The cell reached is on the tape: unbounded, only the end the scan heads for is tested.
    const bool oneEnd = !bounded && m_program.testsOneEnd && reach <= m_program.lastCell &&
        -reach <= m_program.lastCell;
    const auto far = static_cast<std::int32_t>(reach);
    if (oneEnd) {
        m_asm.cmp(m_reached, stride > 0 ? m_program.lastCell - far : -far);
        if (stride > 0)
            m_asm.jg(step);
        else
            m_asm.jl(step);
    } else {
        m_asm.lea(x86::rcx, x86::ptr(m_reached, far));
        jumpPastScanBound(x86::rcx, stride, bounded, step);
    }
    for (int k = 1; k < groupSteps; ++k) {
        m_asm.cmp(cellFrom(m_reached, k * stride), 0);
        m_asm.je(hit[static_cast<std::size_t>(k - 1)]);
    }
    if (oneEnd)
        m_asm.add(m_reached, far);
    else
        m_asm.mov(m_reached, x86::rcx);
    addCommands(groupSteps * perStep);
    m_asm.cmp(cellFrom(m_reached, 0), 0);
    m_asm.jne(group);
    m_asm.jmp(stepped);
    m_asm.bind(step);
    m_asm.add(m_reached, stride);
    jumpPastScanBound(m_reached, stride, bounded, past);
    addCommands(perStep);
    m_asm.cmp(cellFrom(m_reached, 0), 0);
    m_asm.jne(step);
    m_asm.jmp(stepped);
    // The hits last, the nearest at the very end: most scans end a step or two on, and then
    // run into stepped.
    for (int k = groupSteps - 1; k >= 1; --k) {
        m_asm.bind(hit[static_cast<std::size_t>(k - 1)]);
        m_asm.add(m_reached, k * stride);
        addCommands(k * perStep);
        if (k > 1 || !steppedFollows)
            m_asm.jmp(stepped);
    }
}

void Generator::steps(std::int32_t stride, std::int64_t perStep, bool bounded,
    const asmjit::Label &past, const asmjit::Label &stepped, bool steppedFollows)
{
    if (perStep == 0 && (stride == 1 || stride == -1))
        scanVectors(stride, bounded, past, stepped);
    else
        scanSteps(stride, perStep, bounded, past, stepped, steppedFollows);
}

void Generator::scanVectors(
    std::int32_t stride, bool bounded, const asmjit::Label &past, const asmjit::Label &stepped)
{
    // SSE2, which every x86-64 processor has: 16 bytes compared with zero at once, the
    // cells' zero lanes then a bit mask. No library does this on a tape the code holds.
    const auto cells = static_cast<std::int32_t>(16 / m_cellBytes);
    const asmjit::Label vector = m_asm.newLabel();
    const asmjit::Label hit = m_asm.newLabel();
    const asmjit::Label step = m_asm.newLabel();
    // The zero lanes' mask; bounded, rdx holds the bound.
    const x86::Gp lanes = bounded ? x86::r8 : x86::rdx;
    m_asm.pxor(x86::xmm1, x86::xmm1);
    m_asm.bind(vector);
    // The next vector: cells rax + 1 .. rax + cells upwards, rax - cells .. rax - 1 downwards.
    m_asm.lea(x86::rcx, x86::ptr(m_reached, stride > 0 ? cells : -cells));
    jumpPastScanBound(x86::rcx, stride, bounded, step);
    x86::Mem first = stride > 0 ? cellFrom(m_reached, 1) : cellFrom(x86::rcx, 0);
    first.setSize(16);
    m_asm.movdqu(x86::xmm0, first);
    if (m_cellBytes == 1)
        m_asm.pcmpeqb(x86::xmm0, x86::xmm1);
    else if (m_cellBytes == 2)
        m_asm.pcmpeqw(x86::xmm0, x86::xmm1);
    else
        m_asm.pcmpeqd(x86::xmm0, x86::xmm1);
    m_asm.pmovmskb(lanes.r32(), x86::xmm0);
    m_asm.test(lanes.r32(), lanes.r32());
    m_asm.jnz(hit);
    m_asm.mov(m_reached, x86::rcx);
    m_asm.jmp(vector);
    m_asm.bind(hit);
    // The zero cell nearest rax: the lowest lane upwards, the highest downwards.
    if (stride > 0) {
        m_asm.bsf(lanes.r32(), lanes.r32());
        if (m_shift > 0)
            m_asm.shr(lanes.r32(), m_shift);
        m_asm.lea(m_reached, x86::ptr(m_reached, lanes, 0, 1));
    } else {
        m_asm.bsr(lanes.r32(), lanes.r32());
        if (m_shift > 0)
            m_asm.shr(lanes.r32(), m_shift);
        m_asm.lea(m_reached, x86::ptr(x86::rcx, lanes));
    }
    m_asm.jmp(stepped);
    m_asm.bind(step);
    m_asm.add(m_reached, stride);
    jumpPastScanBound(m_reached, stride, bounded, past);
    m_asm.cmp(cellFrom(m_reached, 0), 0);
    m_asm.jne(vector);
    m_asm.jmp(stepped);
}

void Generator::jumpPastScanBound(
    const x86::Gp &cell, std::int32_t stride, bool bounded, const asmjit::Label &past)
{
    if (!bounded) {
        m_asm.cmp(cell, m_program.lastCell);
        m_asm.ja(past); // below cell 0 is a huge unsigned number
        return;
    }
    m_asm.cmp(cell, x86::rdx);
    if (stride > 0)
        m_asm.jg(past);
    else
        m_asm.jl(past);
}

void Generator::scanLimit(std::int32_t stride)
{
    if (stride > 0) {
        m_asm.lea(x86::rdx, x86::ptr(x86::rax, Budget));
        m_asm.mov(x86::ecx, m_program.lastCell);
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

void Generator::spendDistance(std::int32_t stride)
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

} // namespace native

#endif
