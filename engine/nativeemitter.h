#pragma once

// The generator of machine code: one pass over a translated program's operations, the hot
// path in the text section and the out-of-line paths in a cold one. Its parts: the
// operations and their plumbing (nativeemitter.cpp), loops (nativeloops.cpp) and scans
// (nativescans.cpp).

#if defined(CEREBRIX_NATIVE) && defined(__x86_64__)

#include "nativeframe.h"
#include "optimizer.h"

#include <asmjit/x86.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace native {

namespace x86 = asmjit::x86;

using HeldCells = std::vector<std::pair<std::int32_t, x86::Gp>>;

// Keeps AsmJit's first error and its message, so that a program without machine code can
// say why (cerebrix-run --ops prints it).
class Failures : public asmjit::ErrorHandler
{
public:
    bool failed = false;
    std::string message;
    void handleError(asmjit::Error, const char *text, asmjit::BaseEmitter *) override
    {
        if (!failed)
            message = text ? text : "";
        failed = true;
    }
};

// Registers the code keeps its state in (callee-saved, so they survive the calls out).
const x86::Gp Tape = x86::rbx; // the tape's first cell
const x86::Gp Pointer = x86::r12; // the data pointer, an index into the tape
// Coarse idle hook: the work units left before the idle call falls due, that is the
// threshold less the units counted since the last call; due once it reaches zero or less.
const x86::Gp Budget = x86::r13;
const x86::Gp State = x86::r14; // the Frame
// A profiled run's Frame::jumps (the threshold stays in the frame: only the calls out use it).
const x86::Gp Jumps = x86::r15;
// Without profiles: where a moving loop's rounds without budget tests began (movingRounds).
const x86::Gp MovedFrom = x86::r15;
const x86::Gp RoundsLeft = x86::ebp; // rounds a collapsible loop runs before it collapses
// A counting translation's commands run so far (such a translation collapses no loop).
const x86::Gp Commands = x86::rbp;

constexpr std::int32_t RoundsBeforeCollapsing = 8;
// The steps a scan takes per test of its bound (scanSteps). Wide strides walk rows of records,
// often far, and pay one test per eight cells they pass; narrow ones mostly end within a few
// steps, where a longer group measured slower (its tests' code spreads further).
constexpr int scanGroupSteps(std::int32_t stride)
{
    return stride >= 4 || stride <= -4 ? 8 : 4;
}
// The most operations in the body of a moving loop that runs rounds without budget tests.
constexpr std::int32_t MostMovingBodyOperations = 16;

// The local stack: a slot for each held cell (the values before a round that may settle).
constexpr std::uint32_t HeldSlotBytes = 64;

class Generator
{
public:
    Generator(const Program &program, bool counted, bool profiles, std::size_t mostBytes,
        asmjit::CodeHolder &code, const Failures &failures);

    // Each operation's label, where it has one (an entry among them), to find addresses by.
    const std::vector<asmjit::Label> &labels() const { return m_labels; }

    // The label of the operation at index, made when first wanted.
    asmjit::Label label(std::int32_t index);

    // False when a counting translation comes without a coarse idle hook or with a loop to
    // collapse (none does), or the code grew past its bound.
    bool emit();

private:
    // The bytes of code so far, in both sections (the one not current has its size synced).
    std::size_t emitted() const;

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

    // The cell at offset from the data pointer, and the one at offset from the cell in index,
    // at the program's width.
    x86::Mem cell(std::int32_t offset) const { return cellFrom(Pointer, offset); }
    x86::Mem cellFrom(const x86::Gp &index, std::int32_t offset) const
    {
        return x86::ptr(Tape, index, m_shift, offset * m_cellBytes, m_cellBytes);
    }
    // reg at the cells' width (al, ax or eax for rax).
    x86::Gp atWidth(const x86::Gp &reg) const
    {
        return m_cellBytes == 1 ? x86::Gp(reg.r8())
            : m_cellBytes == 2  ? x86::Gp(reg.r16())
                                : x86::Gp(reg.r32());
    }
    // value cut to the cells' width, as a signed immediate of that width.
    std::int64_t immediate(std::int32_t value) const
    {
        return m_cellBytes == 1 ? std::int8_t(value)
            : m_cellBytes == 2  ? std::int16_t(value)
                                : std::int64_t {value};
    }
    // to (a 32-bit register) = the cell or held register at, zero-extended.
    template<typename Operand>
    void loadZeroExtended(const x86::Gp &to, const Operand &at)
    {
        if (m_cellBytes == 4)
            m_asm.mov(to, at);
        else
            m_asm.movzx(to, at);
    }
    // to (a 32-bit register) = 2^bits - to, for a count of rounds stepping up (0 stays 0).
    void negateAtWidth(const x86::Gp &to)
    {
        m_asm.neg(to);
        if (m_cellBytes < 4)
            m_asm.and_(to, static_cast<std::int32_t>(m_program.cellMask));
    }

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

    void prologue();

    void loadCommands();

    void storeCommands();

    void addCommands(std::int64_t count);

    const OpCount &countAt(std::int32_t index) const;

    // A counting translation's commands ahead of the operation at index (added before an idle
    // call there), and its own after it.
    void countBefore(std::int32_t index);

    void countOwn(std::int32_t index);

    // A folded loop's commands, its rounds following from its counter before it runs (and in
    // a profiled run its jumps).
    void countFolded(std::int32_t index);

    // Profiled runs note the jumps of the bracket at each position as the threaded loop does,
    // though not always at the same bracket: a "]" jumping back and its "[" skipping the loop
    // once fewer count the same (tProfile::commandCounts sums both into the commands' counts),
    // so a loop of known rounds adds 1 - rounds at its "[" with one add.
    x86::Mem jumpsAt(std::int32_t position);
    void noteJump(std::int32_t position);
    // After a test of a "["'s cell: on zero, to target, a profiled run noting the skip.
    void skipIfZero(std::int32_t open, const asmjit::Label &target);
    // A loop at open ran the rounds in rax (zero-extended); uses rcx.
    void noteRounds(std::int32_t open);
    // A Repeat round's "]" jumps back when its cell is not zero (the flags of that test).
    void noteRoundJump(std::int32_t close);
    // A scan from Pointer reached the cell in rax, every step's "]" jumping back (less one
    // when the last step found the zero cell); uses rcx.
    void noteScanSteps(std::int32_t index, bool endsOnZero);

    // The frame keeps the units counted, as the threaded loop does; the code, the units left.
    void loadBudget();
    // The rounds in rcx, each costing roundCost units, spent from the budget (the flags of
    // that subtraction tell whether it is used up); uses rax and rcx.
    void spendRounds(std::int64_t roundCost);

    void storeBudget();

    void epilogue();

    // Calls function(frame, index) with the state in the frame, takes the state back and
    // leaves the run on a non-zero result. Without held cells through the function's stub.
    void callOut(Call function, std::int32_t index);
    // The stubs callOut called, each once after all other code.
    void callStubs();

    // Output and input: the hooks change nothing the code holds in registers.
    void transfer(std::int32_t index);

    // Cells a loop keeps in registers live in memory wherever anything else may look.
    void storeHeldCells();

    void loadHeldCells();

    // Compares as the threaded loop's fits does: every cell of range lies on the tape when
    // the start is below or at the last start, unsigned. Every range is tested with the
    // pointer on the tape (a block starts on a cell a bracket just tested, or where the run
    // starts), so a range with no cell above the pointer compares the pointer with the cells
    // below it instead; true then, and the range fits when the pointer is above or equal.
    bool compareRange(CellRange range);

    void jumpIfFits(CellRange range, const asmjit::Label &onTape);

    void jumpUnlessFits(CellRange range, const asmjit::Label &offTape);

    // With guarded cells: jumps to mayWrite when cells written (relative to the pointer)
    // may include one of them.
    void jumpIfMayWrite(const std::vector<std::int32_t> &writes, const asmjit::Label &mayWrite);

    // Adds cost work units; when the idle call falls due, an out-of-line call made with the
    // cost not yet counted.
    void countCost(std::int64_t cost, Call whenDue, std::int32_t index);

    // Takes cost units off the budget, setting the flags for jle (due).
    void spend(std::int64_t cost);

    void dueAt(std::int32_t index);

    void move(std::int32_t value);

    // Emits the block operation at index (with its Terms); returns the index after it.
    std::int32_t blockOperation(std::int32_t index);

    // eax = c(offset), and c(offset) cleared at once: in loops that shift a value along the
    // tape the next round adds to the cell just cleared, and the store is then long done.
    void loadCounter(std::int32_t offset);

    // c(offset) += eax * factor, modulo 256.
    void addMultiple(std::int32_t offset, std::int32_t factor);

    void check(std::int32_t index);

    // Open and Close: the block's movement and cost, then the test of the cell; entering the
    // body skips its Check when the body's cells fit.
    void boundary(std::int32_t index);

    // A Repeat loop, rounds inline; returns the index after its body. A loop without movement
    // keeps its cells in registers where it can (repeatHeld). Any other collapsible loop still
    // running after a few rounds is handed to the threaded loop's collapsing, which settles
    // the rounds left at once; most loops end before, and a call would cost more than they do.
    std::int32_t repeat(std::int32_t index);
    // With a coarse idle hook, a loop that moves tests the budget only as it goes back for
    // another round (its first round is counted with the Repeat), and then goes on without
    // the test while the budget exceeds what every round up to a tape end could cost: the
    // rounds it ran are spent at once from the distance it moved (per cell, the round's cost
    // over its movement, rounded up); with less budget, the rounds test it each. Emitted after
    // a round's compare of its cell; goes on at done, or the careful path's offTape. round:
    // the first round.
    void movingRounds(std::int32_t index, const asmjit::Label &round, const asmjit::Label &done,
        const asmjit::Label &offTape);
    // Whether the loop of the Repeat at index runs its rounds so; the units per cell moved.
    std::int64_t unitsPerCellMoved(std::int32_t index) const;
    // Spends the distance from MovedFrom to Pointer, units per cell; uses rcx.
    void spendMoved(std::int32_t shift, std::int64_t units);

    // A Repeat loop whose rounds all do the same (RepeatLoop::closesAtOnce), entered on a
    // non-zero cell: the rounds follow from its counter, and no round runs.
    std::int32_t closeAtOnce(std::int32_t index, const asmjit::Label &done);

    // The end of a moving Repeat round after the first, the flags holding the test of its
    // cell: on to body while it is not zero and the round's cells reach no further than the
    // end it moves towards, to offTape when they do, else to leave, which follows.
    void nextRoundAt(CellRange cells, std::int32_t shift, const asmjit::Label &body,
        const asmjit::Label &leave, const asmjit::Label &offTape);

    // A moving Repeat round after the first: to offTape when its cells pass the end it moves
    // towards (the round before tested the other).
    void jumpUnlessAheadFits(CellRange cells, std::int32_t shift, const asmjit::Label &offTape);

    // The end of a Repeat round, the flags holding the test of its cell: on to round while it
    // is not zero, else to leave (which follows when the loop is not collapsible); a
    // collapsible loop goes to collapse once RoundsLeft runs out.
    void endRound(bool collapsible, const asmjit::Label &round, const asmjit::Label &leave,
        const asmjit::Label &collapse);

    // Gives each cell the operations first .. end-1 touch a register, when there are few
    // enough; false (holding none) otherwise.
    bool holdCells(std::int32_t first, std::int32_t end);

    // A Repeat loop that does not move, its cells held in registers from the first round to
    // the last: its rounds then wait on no store. Entered on a non-zero cell.
    std::int32_t repeatHeld(std::int32_t index, const asmjit::Label &done);

    // A collapsible loop whose cells are held, still running: rounds until its states come
    // out of a round as they went in, then every round left adds what that round added to
    // each sum (the counter among them, which so reaches zero). A loop that does not settle
    // within the threaded loop's settling rounds runs its rounds on.
    void collapseHeld(std::int32_t index, const asmjit::Label &round, const asmjit::Label &leave);

    // A scan steps inline. With a coarse idle hook every cell it passes over is a unit (more
    // than the cells it looks at, so the idle call comes early rather than late), and the
    // budget left bounds the scan as the tape ends do: one compare per step serves both.
    // A scan that would pass a tape end is called out from the last cell it reached, where
    // the careful path takes the step.
    void scan(std::int32_t index);

    // The steps of a scan from rax, to stepped on a zero cell or to past when the next step
    // would pass the tape ends or, bounded, the cell in rdx. scanGroupSteps steps at a time,
    // with one test of the bound, while the last of them stays within it; then step by step
    // up to it.
    // steppedFollows: stepped is bound right after these steps.
    void scanSteps(std::int32_t stride, std::int64_t perStep, bool bounded,
        const asmjit::Label &past, const asmjit::Label &stepped, bool steppedFollows);

    // The same by vectors where they serve, else by scanSteps.
    void steps(std::int32_t stride, std::int64_t perStep, bool bounded, const asmjit::Label &past,
        const asmjit::Label &stepped, bool steppedFollows);
    // The same for a scan of stride 1 or -1 counting no commands: a vector of cells per
    // compare while one fits within the bound, then cell by cell.
    void scanVectors(
        std::int32_t stride, bool bounded, const asmjit::Label &past, const asmjit::Label &stepped);

    // Jumps to past when cell lies beyond what the scan may reach: a tape end, or bounded the
    // cell in rdx (which lies within the tape).
    void jumpPastScanBound(
        const x86::Gp &cell, std::int32_t stride, bool bounded, const asmjit::Label &past);

    // rdx = the last cell the scan from rax may reach: the tape end or the budget's.
    void scanLimit(std::int32_t stride);

    // The cells between Pointer and rax come off the budget.
    void spendDistance(std::int32_t stride);
    // With a coarse idle hook and no commands counted: the first four steps of a narrow scan
    // (no vectors, groups of four), the pointer's own, spending nothing (the Scan's own units
    // count them: scanPrepaidCells); to found on a zero cell, else on to the scan's further
    // steps, which spend the distance from where these ended.
    void firstScanSteps(std::int32_t stride, const asmjit::Label &found);

    void end(std::int32_t value);

    const Program &m_program;
    std::uint32_t m_cellBytes; // 1, 2 or 4
    std::uint32_t m_shift; // log2 of m_cellBytes
    bool m_counted;
    bool m_counts; // a debugger's counting translation: the commands are counted as they run
    bool m_profiles; // a profiled run's: the brackets' jumps are noted in Frame::jumps
    bool m_outOfReach = false; // a position too far for a jump's address: no code
    // Cells (offset, register) a loop without movement keeps in registers across its rounds.
    HeldCells m_held;
    // The register a scan steps: rax, or the pointer itself when nothing needs its start.
    x86::Gp m_reached = x86::rax;
    std::size_t m_mostBytes;
    const Failures &m_failures;
    x86::Assembler m_asm;
    std::vector<asmjit::Label> m_labels;
    std::vector<bool> m_isTarget; // operations code jumps to or a run may start at
    asmjit::Label m_exit;
    // Per function called out to, the stub that saves the state, calls it and takes the
    // state back (made when first called): a call site is then two instructions, where the
    // whole sequence at each site made a third of the code with a coarse idle hook.
    asmjit::Label m_stubs[CallCount];
    asmjit::FuncFrame m_frame; // the saved registers and the local stack, laid out by AsmJit
    asmjit::Section *m_cold = nullptr; // out-of-line paths
    bool m_inCold = false;
};

} // namespace native

#endif
