#include "optimizer.h"

#include "idlecost.h"
#include "loopanalysis.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace {

CellRange unite(CellRange a, CellRange b)
{
    return {std::min(a.low, b.low), std::max(a.high, b.high)};
}

CellRange shifted(CellRange range, std::int32_t by)
{
    return {range.low + by, range.high + by};
}

// The range a guard tests: one wider than the tape can never fit.
CellRange guardOver(CellRange range, std::int32_t lastCell)
{
    return std::int64_t {range.high} - range.low > lastCell ? Nowhere : range;
}

// value + delta at the cells' width, kept as the bits of an int32_t.
std::int32_t wrapped(std::int32_t value, std::int32_t delta, std::uint32_t mask)
{
    return static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(value) + static_cast<std::uint32_t>(delta)) & mask);
}

// Collects the operations of one block, relative to the pointer at its start, with the range
// of every cell it touches or points at.
class BlockBuilder
{
public:
    struct Block
    {
        std::vector<Op> ops;
        std::int32_t shift = 0;
        CellRange cells;
        std::vector<std::int32_t> writes; // every cell a command writes, merged adds or not
        std::int32_t first = -1; // its first and last command
        std::int32_t last = -1;
    };

    void add(std::int32_t position, std::int32_t delta)
    {
        note(position, position);
        m_block.writes.push_back(m_cursor);
        Pending &entry = pendingAt(m_cursor);
        entry.value = wrapped(entry.value, delta, m_cellMask);
    }
    void move(std::int32_t position, std::int32_t step)
    {
        note(position, position);
        m_cursor += step;
        m_block.cells = unite(m_block.cells, {m_cursor, m_cursor});
    }
    void transfer(OpKind kind, std::int32_t position)
    {
        note(position, position);
        if (kind == OpKind::Input)
            m_block.writes.push_back(m_cursor);
        flushPending();
        push({.kind = kind,
            .offset = m_cursor,
            .position = position,
            .cells = {m_cursor, m_cursor}});
    }
    explicit BlockBuilder(bool separateClears, std::uint32_t cellMask)
        : m_separateClears(separateClears)
        , m_cellMask(cellMask)
    { }

    // A clear loop: one Set, whatever cells its body passes on the way. Merged with the adds
    // to its cell, unless a count of its rounds needs the cell as the loop finds it.
    // stepped: the cells its body steps, relative to its counter.
    void clearLoop(std::int32_t open, std::int32_t close, const LoopShape &shape,
        const std::vector<std::int32_t> &stepped)
    {
        note(open, close);
        writes(stepped);
        if (m_separateClears) {
            flushPending();
            push({.kind = OpKind::Set,
                .offset = m_cursor,
                .position = open,
                .cells = shifted(shape.path, m_cursor)});
            return;
        }
        Pending &entry = pendingAt(m_cursor);
        entry.isSet = true;
        entry.value = 0;
        entry.cells = unite(entry.cells, shifted(shape.path, m_cursor));
    }
    void multiplyLoop(std::int32_t open, std::int32_t close, const LoopShape &shape,
        const std::vector<std::int32_t> &stepped)
    {
        note(open, close);
        writes(stepped); // also cells whose steps cancel out
        flushPending();
        // Stepping up from v takes 2^bits - v rounds: adding f that often is adding -f v times
        // (at the cells' width), so every loop runs as if it stepped down.
        const auto factorOf = [&](std::int32_t factor) {
            return shape.stepsDown
                ? factor
                : static_cast<std::int32_t>((0u - static_cast<std::uint32_t>(factor)) & m_cellMask);
        };
        const CellRange path = shifted(shape.path, m_cursor);
        const auto count = static_cast<std::int32_t>(shape.terms.size());
        if (count == 1) {
            push({.kind = OpKind::MultiplyOne,
                .offset = m_cursor,
                .value = factorOf(shape.terms[0].second),
                .target = m_cursor + shape.terms[0].first,
                .position = open,
                .cells = path});
            return;
        }
        push({.kind = OpKind::Multiply,
            .offset = m_cursor,
            .value = count,
            .position = open,
            .cells = path});
        for (const auto &[offset, factor] : shape.terms)
            push({.kind = OpKind::Term,
                .offset = m_cursor + offset,
                .value = factorOf(factor),
                .position = open,
                .cells = {m_cursor + offset, m_cursor + offset}});
    }
    // A coarse idle hook may run before the command at position.
    void checkpoint(std::int32_t position)
    {
        flushPending();
        push({.kind = OpKind::Checkpoint,
            .offset = m_cursor,
            .position = position,
            .cells = {m_cursor, m_cursor}});
    }

    Block take()
    {
        flushPending();
        m_block.shift = m_cursor;
        std::vector<std::int32_t> &writes = m_block.writes;
        std::sort(writes.begin(), writes.end());
        writes.erase(std::unique(writes.begin(), writes.end()), writes.end());
        Block block = std::move(m_block);
        m_block = Block {};
        m_cursor = 0;
        return block;
    }

private:
    struct Pending
    {
        std::int32_t offset = 0;
        bool isSet = false;
        std::int32_t value = 0;
        CellRange cells;
    };

    void writes(const std::vector<std::int32_t> &stepped)
    {
        for (const std::int32_t cell : stepped)
            m_block.writes.push_back(m_cursor + cell);
    }
    void note(std::int32_t first, std::int32_t last)
    {
        if (m_block.first < 0)
            m_block.first = first;
        m_block.last = last;
    }
    void push(const Op &op)
    {
        m_block.ops.push_back(op);
        m_block.cells = unite(m_block.cells, op.cells);
    }
    Pending &pendingAt(std::int32_t offset)
    {
        const auto [it, inserted] = m_pendingIndex.try_emplace(offset, m_pending.size());
        if (inserted)
            m_pending.push_back({offset, false, 0, {offset, offset}});
        return m_pending[it->second];
    }
    // Adds to distinct cells commute, so they are merged until an operation that reads or
    // writes cells in between (input, output, a multiply loop) needs them applied; a hook
    // therefore sees every cell as the exact run has it.
    void flushPending()
    {
        for (const Pending &entry : m_pending) {
            if (entry.isSet || entry.value != 0)
                push({.kind = entry.isSet ? OpKind::Set : OpKind::Add,
                    .offset = entry.offset,
                    .value = entry.value,
                    .cells = entry.cells});
        }
        m_pending.clear();
        m_pendingIndex.clear();
    }

    Block m_block;
    bool m_separateClears = false;
    std::uint32_t m_cellMask = 0xFF;
    std::int32_t m_cursor = 0;
    std::vector<Pending> m_pending;
    std::unordered_map<std::int32_t, std::size_t> m_pendingIndex;
};

class Translator
{
public:
    Translator(const tCodeArr &code, const ProgramPlan &plan, std::int32_t length,
        const TranslationOptions &options)
        : m_code(code)
        , m_plan(plan)
        , m_length(length)
        , m_options(options)
        , m_block(options.countsCommands, options.cellMask)
    { }

    Program translate()
    {
        for (std::int32_t position = 1; position <= m_length; ++position)
            position = feed(m_block, position, true);
        closeBlock(OpKind::End, m_length + 1, true);
        if (m_options.coversClosedLoops && !m_options.countsCommands &&
            m_options.guarded.low > m_options.guarded.high)
            coverClosedLoops();
        fuseBodyChecks();
        if (m_options.settlesNests && !m_options.countsCommands) // settled rounds leave no count
            findNests();
        return std::move(m_program);
    }

private:
    using Role = ProgramPlan::Role;

    // Feeds the command at position to block; returns the position it ended on (a folded,
    // scan or repeat loop's "]").
    std::int32_t feed(BlockBuilder &block, std::int32_t position, bool outermost)
    {
        const auto at = static_cast<std::size_t>(position);
        if (outermost && m_plan.checkpointBefore[at])
            block.checkpoint(position);
        // Loops holding a stop stay loops, so a stop is always in the outermost block.
        if (at < m_options.stops.size() && m_options.stops[at])
            closeBlock(OpKind::Stop, position, true);
        switch (m_code[at]) {
        case '+': block.add(position, 1); break;
        case '-': block.add(position, -1); break;
        case '>': block.move(position, 1); break;
        case '<': block.move(position, -1); break;
        case '.': block.transfer(OpKind::Output, position); break;
        case ',': block.transfer(OpKind::Input, position); break;
        case '[': return loop(block, position);
        case ']': {
            const std::int32_t index = closeBlock(OpKind::Close, position, true);
            const std::int32_t open = m_openLoops.back();
            m_openLoops.pop_back();
            m_program.ops[static_cast<std::size_t>(index)].jump = open + 1;
            m_program.ops[static_cast<std::size_t>(open)].jump = index + 1;
            break;
        }
        default: break;
        }
        return position;
    }

    std::int32_t loop(BlockBuilder &block, std::int32_t open)
    {
        const auto at = static_cast<std::size_t>(open);
        const std::int32_t close = m_plan.partner[at];
        switch (m_plan.roles[at]) {
        case Role::Folded: {
            const LoopShape &shape = m_plan.shapes.at(open);
            // The cells its commands step (a folded body holds nothing but steps and moves).
            std::vector<std::int32_t> stepped;
            for (std::int32_t position = open + 1, cursor = 0; position < close; ++position) {
                const char command = m_code[static_cast<std::size_t>(position)];
                if (command == '+' || command == '-')
                    stepped.push_back(cursor);
                cursor += command == '>' ? 1 : command == '<' ? -1 : 0;
            }
            if (shape.kind == LoopShape::Kind::Clear)
                block.clearLoop(open, close, shape, stepped);
            else
                block.multiplyLoop(open, close, shape, stepped);
            return close;
        }
        case Role::Scan: {
            const std::int32_t index = closeBlock(OpKind::Scan, open, false);
            Op &scan = m_program.ops[static_cast<std::size_t>(index)];
            scan.value = m_plan.shapes.at(open).stride;
            scan.index = static_cast<std::int32_t>(m_program.stretches.size());
            m_program.stretches.push_back({open, close, index + 1, 0, {}}); // a scan writes nothing
            return close;
        }
        case Role::Repeat: repeat(open, close); return close;
        case Role::Open:
        case Role::Command: break;
        }
        m_openLoops.push_back(closeBlock(OpKind::Open, open, true));
        return open;
    }

    // A loop whose body is one block, run by one operation.
    void repeat(std::int32_t open, std::int32_t close)
    {
        BlockBuilder bodyBuilder(m_options.countsCommands, m_options.cellMask);
        for (std::int32_t position = open + 1; position < close; ++position)
            position = feed(bodyBuilder, position, false);
        BlockBuilder::Block body = bodyBuilder.take();
        const std::int32_t index = closeBlock(OpKind::Repeat, open, true);
        RepeatLoop loop;
        loop.bodyCount = static_cast<std::int32_t>(body.ops.size());
        loop.shift = body.shift;
        loop.first = open;
        loop.last = close;
        loop.writes = body.writes;
        if (!m_options.countsCommands) // collapsed rounds leave no count behind
            analyseCollapse(loop, body.ops, m_options.cellMask, m_options.closesConstantRounds);
        Op &head = m_program.ops[static_cast<std::size_t>(index)];
        head.cells = guardOver(body.cells, m_options.lastCell);
        head.index = static_cast<std::int32_t>(m_program.loops.size());
        m_program.loops.push_back(std::move(loop));
        for (const Op &op : body.ops)
            m_program.ops.push_back(op);
    }

    // Emits the current block, behind a Check when its cells reach beyond the pointer's, and
    // the boundary operation that ends it and applies its pointer movement (or a Move when
    // the boundary does not); returns the boundary's index.
    std::int32_t closeBlock(OpKind boundary, std::int32_t position, bool foldsShift)
    {
        BlockBuilder::Block block = m_block.take();
        std::vector<Op> &ops = m_program.ops;
        // With guarded cells a block that writes needs its Check, whatever its cells.
        const bool guarded = block.cells != CellRange {} ||
            (m_options.guarded.low <= m_options.guarded.high && !block.writes.empty());
        if (guarded) {
            ops.push_back({.kind = OpKind::Check,
                .index = static_cast<std::int32_t>(m_program.stretches.size()),
                .position = block.first,
                .cells = guardOver(block.cells, m_options.lastCell)});
            m_program.stretches.push_back({block.first, block.last, 0, foldsShift ? block.shift : 0,
                std::move(block.writes)});
        }
        ops.insert(ops.end(), block.ops.begin(), block.ops.end());
        if (!foldsShift && block.shift != 0)
            ops.push_back({.kind = OpKind::Move,
                .value = block.shift,
                .cells = {std::min(0, block.shift), std::max(0, block.shift)}});
        const auto index = static_cast<std::int32_t>(ops.size());
        if (guarded)
            m_program.stretches.back().resume = index;
        ops.push_back({.kind = boundary,
            .value = foldsShift ? block.shift : 0,
            .position = position,
            .cells = {}});
        return index;
    }

    // A loop solved at once (RepeatLoop::closesAtOnce) moves nothing, so the Check of the
    // block before it can test its cells and those of the block after it too: the loop and
    // that block then test nothing themselves, and a walk whose round holds such a loop tests
    // the tape ends once a round instead of three times. A failing Check runs the whole
    // stretch one by one, up to the boundary that ends the block after the loop.
    void coverClosedLoops()
    {
        std::vector<Op> &ops = m_program.ops;
        for (Op &check : ops) {
            // A Check left testing the pointer's cell alone is covered by one before it.
            if (check.kind != OpKind::Check || check.cells == Nowhere ||
                check.cells == CellRange {})
                continue;
            Stretch &stretch = m_program.stretches[static_cast<std::size_t>(check.index)];
            std::int32_t from = 0; // where the block the stretch ends in starts, from the Check's
            for (;;) {
                const auto head = static_cast<std::size_t>(stretch.resume);
                if (ops[head].kind != OpKind::Repeat || stretch.foldedShift != ops[head].value)
                    break;
                RepeatLoop &loop = m_program.loops[static_cast<std::size_t>(ops[head].index)];
                if (!loop.closesAtOnce || loop.shift != 0 || ops[head].cells == Nowhere)
                    break;
                const std::int32_t at = from + ops[head].value; // the loop's cell
                CellRange cells = unite(check.cells, shifted(ops[head].cells, at));
                const auto after = head + 1 + static_cast<std::size_t>(loop.bodyCount);
                Op &next = ops[after];
                const bool checked = next.kind == OpKind::Check && next.cells != Nowhere;
                // Without a Check the block after the loop moves nothing and touches no cell
                // but its first: it must end at once, its commands all cancelling out.
                if (!checked && (!endsBlock(next.kind) || next.value != 0))
                    break;
                if (checked)
                    cells = unite(cells, shifted(next.cells, at));
                if (guardOver(cells, m_options.lastCell) == Nowhere)
                    break; // wider than the tape: each keeps its own test
                check.cells = cells;
                loop.covered = true;
                if (checked) {
                    const Stretch &later =
                        m_program.stretches[static_cast<std::size_t>(next.index)];
                    stretch.last = later.last;
                    stretch.resume = later.resume;
                    stretch.foldedShift = later.foldedShift;
                    next.cells = {}; // the pointer's own cell: nothing left to test
                } else {
                    stretch.last = loop.last;
                    stretch.resume = static_cast<std::int32_t>(after);
                    stretch.foldedShift = 0;
                }
                from = at;
            }
        }
    }

    static bool endsBlock(OpKind kind)
    {
        switch (kind) {
        case OpKind::Open:
        case OpKind::Close:
        case OpKind::Repeat:
        case OpKind::Scan:
        case OpKind::Stop:
        case OpKind::End: return true;
        default: return false;
        }
    }

    // Open and Close also run the Check that starts the loop body, skipping it when it
    // passes: one dispatch less per round. Without such a Check their guard never passes,
    // so the body starts at its first operation; nor does it when the body's block may write
    // a guarded cell: the Check tests that itself.
    void fuseBodyChecks()
    {
        std::vector<Op> &ops = m_program.ops;
        const bool guards = m_options.guarded.low <= m_options.guarded.high;
        for (std::size_t index = 0; index < ops.size(); ++index) {
            Op &op = ops[index];
            if (op.kind != OpKind::Open && op.kind != OpKind::Close)
                continue;
            const Op &body =
                ops[op.kind == OpKind::Open ? index + 1 : static_cast<std::size_t>(op.jump)];
            const bool writes = body.kind == OpKind::Check &&
                !m_program.stretches[static_cast<std::size_t>(body.index)].writes.empty();
            op.cells = body.kind == OpKind::Check && !(guards && writes) ? body.cells : Nowhere;
        }
    }

    // Marks each loop that may settle as a whole (NestLoop) at its Open and Close.
    void findNests()
    {
        std::vector<Op> &ops = m_program.ops;
        for (std::size_t open = 0; open < ops.size(); ++open) {
            if (ops[open].kind != OpKind::Open)
                continue;
            const auto close = static_cast<std::size_t>(ops[open].jump - 1);
            // Longer bodies rarely settle, and looking through each nested one would take
            // the square of the program's length.
            if (close - open > MostNestOperations)
                continue;
            std::optional<NestLoop> nest = nestOf(open, close);
            if (!nest)
                continue;
            nest->first = ops[open].position;
            nest->last = ops[close].position;
            m_program.nests.push_back(std::move(*nest));
            const auto number = static_cast<std::int32_t>(m_program.nests.size());
            ops[open].index = number;
            ops[close].index = number;
        }
    }

    // The loop from the Open at open to its Close as a NestLoop, when it is one.
    std::optional<NestLoop> nestOf(std::size_t open, std::size_t close) const
    {
        const std::vector<Op> &ops = m_program.ops;
        std::int32_t at = 0; // the pointer, relative to the loop's cell
        CellRange cells;
        std::vector<std::int32_t> added;
        std::vector<std::int32_t> read; // or set: states either way
        std::vector<std::int32_t> innerLoops; // where each inner loop open here started
        bool holdsLoop = false;
        for (std::size_t i = open + 1; i <= close; ++i) {
            const Op &op = ops[i];
            switch (op.kind) {
            case OpKind::Add:
            case OpKind::Term: added.push_back(at + op.offset); break;
            case OpKind::Set:
            case OpKind::Multiply: read.push_back(at + op.offset); break;
            case OpKind::MultiplyOne:
                read.push_back(at + op.offset);
                added.push_back(at + op.target);
                break;
            case OpKind::Check:
            case OpKind::Checkpoint: break;
            case OpKind::Move: at += op.value; break;
            case OpKind::Open:
                at += op.value;
                read.push_back(at);
                innerLoops.push_back(at);
                holdsLoop = true;
                continue; // its cells are its body's Check's
            case OpKind::Close:
                at += op.value;
                if (i == close)
                    continue;
                // Inner loops must come back to where they started, round by round.
                if (innerLoops.empty() || innerLoops.back() != at)
                    return std::nullopt;
                innerLoops.pop_back();
                read.push_back(at);
                continue;
            case OpKind::Repeat:
                at += op.value;
                read.push_back(at);
                if (m_program.loops[static_cast<std::size_t>(op.index)].shift != 0)
                    return std::nullopt;
                holdsLoop = true;
                break;
            default: return std::nullopt; // input, output, a scan or a stop
            }
            if (op.cells == Nowhere)
                return std::nullopt;
            cells = unite(cells, unite(shifted(op.cells, at), {at, at}));
        }
        const auto isIn = [](const std::vector<std::int32_t> &list, std::int32_t cell) {
            return std::find(list.begin(), list.end(), cell) != list.end();
        };
        if (at != 0 || !innerLoops.empty() || !holdsLoop || !isIn(added, 0) || isIn(read, 0) ||
            std::int64_t {cells.high} - cells.low >= MostNestCells)
            return std::nullopt;
        NestLoop nest;
        nest.cells = cells;
        std::sort(added.begin(), added.end());
        added.erase(std::unique(added.begin(), added.end()), added.end());
        for (const std::int32_t cell : added) {
            if (!isIn(read, cell))
                nest.sums.push_back(cell);
        }
        return nest;
    }

    const tCodeArr &m_code;
    const ProgramPlan &m_plan;
    const std::int32_t m_length;
    const TranslationOptions &m_options;
    Program m_program;
    BlockBuilder m_block;
    std::vector<std::int32_t> m_openLoops; // indexes of Open operations awaiting their Close
};

} // namespace

std::optional<Program> translateProgram(const tCodeArr &code, const tJmpArr &jumps,
    std::int32_t length, const TranslationOptions &options)
{
    std::optional<std::vector<std::int32_t>> partner = pairBrackets(code, jumps, length);
    if (!partner)
        return std::nullopt;
    const ProgramPlan plan = planProgram(code, std::move(*partner), length, options);
    Program program = Translator(code, plan, length, options).translate();
    program.lastCell = options.lastCell;
    program.cellMask = options.cellMask;
    program.guarded = options.guarded;
    program.testsOneEnd = options.testsOneEnd;
    program.movesUntested = options.movesUntested;
    countIdleCosts(program, plan);
    if (options.countsCommands)
        countCommands(program, plan, length);
    return program;
}

TranslationOptions optionsFor(const tBF &engine)
{
    TranslationOptions options;
    options.lastCell = engine.m_dialect.tapeCells - 1;
    options.cellMask = engine.m_dialect.cellMask();
    options.settlesNests = engine.m_settlesNests;
    options.closesConstantRounds = engine.m_closesConstantRounds;
    options.testsOneEnd = engine.m_testsOneEnd;
    options.movesUntested = engine.m_movesUntested;
    options.coversClosedLoops = engine.m_coversClosedLoops;
    return options;
}

std::string describeOperations(const Program &program)
{
    std::string text;
    char line[160];
    for (std::size_t i = 0; i < program.ops.size(); ++i) {
        const Op &op = program.ops[i];
        std::snprintf(line, sizeof line,
            "%6zu  %-11s offset %d  value %d  target %d  jump %d  index %d  cells %d..%d  "
            "command %d\n",
            i, OpKindNames[static_cast<std::size_t>(op.kind)], op.offset, op.value, op.target,
            op.jump, op.index, op.cells.low, op.cells.high, op.position);
        text += line;
    }
    return text;
}
