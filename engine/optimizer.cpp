#include "optimizer.h"

#include "loopanalysis.h"

#include <algorithm>
#include <unordered_map>

namespace {

constexpr std::int32_t LastCell = tBF::TapeCells - 1;
// Work units a block may hold before it gets a checkpoint for a coarse idle hook.
constexpr std::int64_t CheckpointCost = 16384;

// The (offset, limit) pair of a Check: the cells offset .. offset + span relative to the
// data pointer are on the tape exactly when (unsigned)(pointer + offset) <= limit.
std::pair<std::int32_t, std::int32_t> rangeTest(std::int32_t low, std::int32_t high)
{
    const std::int64_t span = std::int64_t {high} - low;
    if (span > LastCell)
        return {-(1 << 30), 0}; // never fits: always the careful path
    return {low, static_cast<std::int32_t>(LastCell - span)};
}

void pushOp(Program &program, const Op &op)
{
    program.ops.push_back(op);
    program.costs.push_back(0);
    program.positions.push_back(0);
}

class Translator
{
public:
    // withCheckpoints: the translator of the program itself, not of a loop body.
    Translator(Program &program, bool withCheckpoints)
        : m_program(program)
        , m_withCheckpoints(withCheckpoints)
    { }

    void addCell(std::int32_t position, std::int32_t delta)
    {
        note(position, 1, 1);
        Pending &entry = pendingAt(m_cursor);
        entry.value = (entry.value + delta) & 0xFF;
    }
    void moveCursor(std::int32_t position, std::int32_t step)
    {
        note(position, 1, 1);
        m_cursor += step;
        m_low = std::min(m_low, m_cursor);
        m_high = std::max(m_high, m_cursor);
    }
    void transfer(OpKind kind, std::int32_t position)
    {
        note(position, 1, 1);
        flushPending();
        m_blockOps.push_back({kind, m_cursor, 0, position});
    }
    void clearLoop(std::int32_t open, std::int32_t close)
    {
        note(open, 1, 1); // one Set, however many rounds it stands for
        m_last = close;
        Pending &entry = pendingAt(m_cursor);
        entry.isSet = true;
        entry.value = 0;
    }
    void multiplyLoop(std::int32_t open, std::int32_t close, const LoopShape &shape)
    {
        // It costs one unit and one per cell it adds to, however many rounds it stands for.
        const auto count = static_cast<std::int32_t>(shape.terms.size());
        note(open, 1 + count, 1 + count);
        m_last = close;
        flushPending();
        // Stepping up from v takes 256 - v rounds: adding f that often is adding (256 - f)
        // v times, so every loop runs as if it stepped down.
        const auto factorOf = [&](std::int32_t factor) {
            return shape.stepsDown ? factor : (256 - factor) & 0xFF;
        };
        if (count == 1) {
            m_blockOps.push_back({OpKind::MultiplyOne, m_cursor, factorOf(shape.terms[0].second), 0,
                m_cursor + shape.terms[0].first});
        } else {
            m_blockOps.push_back({OpKind::Multiply, m_cursor, count, 0});
            for (const auto &[offset, factor] : shape.terms)
                m_blockOps.push_back({OpKind::Term, m_cursor + offset, factorOf(factor), 0});
        }
        m_low = std::min(m_low, m_cursor + shape.low);
        m_high = std::max(m_high, m_cursor + shape.high);
    }

    // Emits the current block followed by a boundary operation that applies the block's
    // pointer movement (or a Move when the boundary cannot); returns the boundary's index.
    std::int32_t closeBlock(OpKind boundary, std::int32_t position, bool foldsShift)
    {
        flushPending();
        const std::int32_t shift = m_cursor;
        if (m_low < 0 || m_high > 0) {
            const auto [offset, limit] = rangeTest(m_low, m_high);
            const auto block = static_cast<std::int32_t>(m_program.blocks.size());
            m_program.blocks.push_back({m_first, m_last, 0, foldsShift ? shift : 0});
            pushOp({OpKind::Check, offset, limit, block});
        }
        const bool hadCheck = m_low < 0 || m_high > 0;
        for (const Op &op : m_blockOps)
            pushOp(op);
        if (!foldsShift && shift != 0)
            pushOp({OpKind::Move, 0, shift, 0});
        const auto index = static_cast<std::int32_t>(m_program.ops.size());
        if (hadCheck)
            m_program.blocks.back().resume = index;
        pushOp({boundary, 0, foldsShift ? shift : 0, 0});
        m_program.costs.back() = m_cost + (boundary == OpKind::End ? 0 : 1);
        m_program.largestCost = std::max(m_program.largestCost, m_worst + 1);
        m_program.positions.back() = position;
        m_program.largestCost = std::max(m_program.largestCost, m_program.costs.back());
        m_blockOps.clear();
        m_cursor = m_low = m_high = 0;
        m_first = -1;
        m_cost = 0;
        m_worst = 0;
        return index;
    }

    struct Body
    {
        std::vector<Op> ops;
        std::int32_t shift = 0;
        std::int32_t low = 0;
        std::int32_t high = 0;
        std::int64_t cost = 0; // counted when a round ends
        std::int64_t worst = 0;
    };
    // Ends a loop body made of one block and hands over its operations.
    Body takeBody()
    {
        flushPending();
        return {std::move(m_blockOps), m_cursor, m_low, m_high, m_cost, m_worst};
    }

private:
    struct Pending
    {
        std::int32_t offset = 0;
        bool isSet = false;
        std::int32_t value = 0;
    };

    // cost: work units counted when the block's boundary is reached; worst: the most the
    // counter can have grown by before that test.
    void note(std::int32_t position, std::int64_t cost, std::int64_t worst)
    {
        if (m_first < 0)
            m_first = position;
        m_last = position;
        if (m_withCheckpoints && m_worst + worst > CheckpointCost) {
            // A coarse idle hook must not wait for the end of a block this long.
            flushPending();
            m_blockOps.push_back(
                {OpKind::Checkpoint, m_cursor, static_cast<std::int32_t>(m_cost), position});
            m_program.largestCost = std::max(m_program.largestCost, m_worst);
            m_cost = 0;
            m_worst = 0;
        }
        m_cost += cost;
        m_worst += worst;
    }
    Pending &pendingAt(std::int32_t offset)
    {
        const auto [it, inserted] = m_pendingIndex.try_emplace(offset, m_pending.size());
        if (inserted)
            m_pending.push_back({offset, false, 0});
        return m_pending[it->second];
    }
    // Adds to distinct cells commute, so they are merged until an operation that reads or
    // writes cells in between (input, output, a multiply loop) needs them applied.
    void flushPending()
    {
        for (const Pending &entry : m_pending) {
            if (entry.isSet || entry.value != 0)
                m_blockOps.push_back(
                    {entry.isSet ? OpKind::Set : OpKind::Add, entry.offset, entry.value, 0});
        }
        m_pending.clear();
        m_pendingIndex.clear();
    }
    void pushOp(const Op &op) { ::pushOp(m_program, op); }

    Program &m_program;
    std::vector<Op> m_blockOps;
    std::vector<Pending> m_pending;
    std::unordered_map<std::int32_t, std::size_t> m_pendingIndex;
    std::int32_t m_cursor = 0;
    std::int32_t m_low = 0;
    std::int32_t m_high = 0;
    std::int32_t m_first = -1;
    std::int32_t m_last = -1;
    std::int64_t m_cost = 0;
    std::int64_t m_worst = 0;
    bool m_withCheckpoints = false;
};

// Feeds one command of a loop body that stays one block; returns the position it ended
// on (the "]" of a clear or multiply loop).
std::int32_t feedBody(Translator &translator, const tCodeArr &code,
    const std::vector<std::int32_t> &partner, std::int32_t position)
{
    switch (code[static_cast<std::size_t>(position)]) {
    case '+': translator.addCell(position, 1); break;
    case '-': translator.addCell(position, -1); break;
    case '>': translator.moveCursor(position, 1); break;
    case '<': translator.moveCursor(position, -1); break;
    case '[': {
        const std::int32_t close = partner[static_cast<std::size_t>(position)];
        const LoopShape shape = classifyLoop(code, position, close);
        if (shape.kind == LoopShape::Kind::Clear)
            translator.clearLoop(position, close);
        else
            translator.multiplyLoop(position, close, shape);
        return close;
    }
    default: break;
    }
    return position;
}

// Emits the loop as a Repeat; false, having emitted nothing, when one round holds so much
// work that a coarse idle hook needs checkpoints inside it: it stays a loop.
bool addRepeat(Program &program, Translator &outer, const tCodeArr &code,
    const std::vector<std::int32_t> &partner, std::int32_t open, std::int32_t close)
{
    Translator inner(program, false);
    for (std::int32_t position = open + 1; position < close; ++position)
        position = feedBody(inner, code, partner, position);
    Translator::Body body = inner.takeBody();
    if (body.worst > CheckpointCost)
        return false;
    const std::int32_t index = outer.closeBlock(OpKind::Repeat, open, true);
    RepeatLoop loop;
    loop.bodyCount = static_cast<std::int32_t>(body.ops.size());
    loop.shift = body.shift;
    loop.first = open;
    loop.last = close;
    loop.roundCost = body.cost + 1;
    program.largestCost = std::max(program.largestCost, body.worst + 1);
    analyseCollapse(loop, body.ops);
    if (loop.collapsible) // its settling rounds and the sums added at once
        program.largestCost =
            std::max(program.largestCost, MostSettlingRounds * loop.roundCost + 1);
    Op &head = program.ops[static_cast<std::size_t>(index)];
    const auto [offset, limit] = rangeTest(body.low, body.high);
    head.offset = offset;
    head.limit = limit;
    head.extra = static_cast<std::int32_t>(program.loops.size());
    program.loops.push_back(std::move(loop));
    for (const Op &op : body.ops)
        pushOp(program, op);
    return true;
}

// Copies the Check that starts each loop body into the loop's Open and Close. Without such a
// Check the copied test can never pass, so the body starts at its first operation.
void fuseBodyChecks(std::vector<Op> &ops)
{
    for (std::size_t index = 0; index < ops.size(); ++index) {
        Op &op = ops[index];
        if (op.kind != OpKind::Open && op.kind != OpKind::Close)
            continue;
        const Op &body =
            ops[op.kind == OpKind::Open ? index + 1 : static_cast<std::size_t>(op.extra)];
        op.offset = body.kind == OpKind::Check ? body.offset : -(1 << 30);
        op.limit = body.kind == OpKind::Check ? body.value : 0;
    }
}

} // namespace

std::optional<Program> translateProgram(
    const tCodeArr &code, const tJmpArr &jumps, std::int32_t length)
{
    const std::optional<std::vector<std::int32_t>> partner = pairBrackets(code, jumps, length);
    if (!partner)
        return std::nullopt;
    Program program;
    Translator translator(program, true);
    std::vector<std::int32_t> openLoops; // indexes of Open operations awaiting their Close
    for (std::int32_t position = 1; position <= length; ++position) {
        switch (code[static_cast<std::size_t>(position)]) {
        case '+': translator.addCell(position, 1); break;
        case '-': translator.addCell(position, -1); break;
        case '>': translator.moveCursor(position, 1); break;
        case '<': translator.moveCursor(position, -1); break;
        case '.': translator.transfer(OpKind::Output, position); break;
        case ',': translator.transfer(OpKind::Input, position); break;
        case '[': {
            const std::int32_t close = (*partner)[static_cast<std::size_t>(position)];
            const LoopShape shape = classifyLoop(code, position, close);
            switch (shape.kind) {
            case LoopShape::Kind::Clear: translator.clearLoop(position, close); break;
            case LoopShape::Kind::Scan: {
                const std::int32_t index = translator.closeBlock(OpKind::Scan, position, false);
                Op &scan = program.ops[static_cast<std::size_t>(index)];
                scan.value = shape.stride;
                scan.extra = static_cast<std::int32_t>(program.blocks.size());
                program.blocks.push_back({position, close, index + 1, 0});
                program.costs[static_cast<std::size_t>(index)] += InlineScanSteps;
                program.largestCost =
                    std::max(program.largestCost, program.costs[static_cast<std::size_t>(index)]);
                break;
            }
            case LoopShape::Kind::Multiply: translator.multiplyLoop(position, close, shape); break;
            case LoopShape::Kind::General:
                if (hasBlockBody(code, *partner, position, close) &&
                    addRepeat(program, translator, code, *partner, position, close))
                    break;
                openLoops.push_back(translator.closeBlock(OpKind::Open, position, true));
                continue;
            }
            position = close;
            break;
        }
        case ']': {
            const std::int32_t open = openLoops.back();
            openLoops.pop_back();
            const std::int32_t index = translator.closeBlock(OpKind::Close, position, true);
            program.ops[static_cast<std::size_t>(index)].extra = open + 1;
            program.ops[static_cast<std::size_t>(open)].extra = index + 1;
            break;
        }
        default: break;
        }
    }
    translator.closeBlock(OpKind::End, length + 1, true);
    fuseBodyChecks(program.ops);
    return program;
}
