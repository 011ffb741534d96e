#include "loopanalysis.h"

#include <algorithm>
#include <map>

namespace {

// Collapsing compares these cells after every round; more would cost more than it saves.
constexpr std::size_t MostCollapsedCells = 24;

} // namespace

LoopShape classifyLoop(const tCodeArr &code, std::int32_t open, std::int32_t close)
{
    LoopShape shape;
    std::map<std::int32_t, std::int32_t> deltas;
    std::int32_t cursor = 0;
    bool adds = false;
    bool left = false;
    bool right = false;
    for (std::int32_t position = open + 1; position < close; ++position) {
        switch (code[static_cast<std::size_t>(position)]) {
        case '+':
            ++deltas[cursor];
            adds = true;
            break;
        case '-':
            --deltas[cursor];
            adds = true;
            break;
        case '>':
            ++cursor;
            right = true;
            break;
        case '<':
            --cursor;
            left = true;
            break;
        default: return shape; // output, input or a nested loop
        }
        shape.low = std::min(shape.low, cursor);
        shape.high = std::max(shape.high, cursor);
    }
    if (!adds && cursor != 0 && !(left && right)) {
        shape.kind = LoopShape::Kind::Scan;
        shape.stride = cursor;
        return shape;
    }
    const std::int32_t own = deltas[0] & 0xFF;
    if (cursor != 0 || (own != 1 && own != 0xFF))
        return shape; // not provably finite in 255 steps; keep it a loop
    shape.stepsDown = own == 0xFF;
    for (const auto &[offset, delta] : deltas) {
        if (offset != 0 && (delta & 0xFF) != 0)
            shape.terms.emplace_back(offset, delta & 0xFF);
    }
    shape.kind = shape.terms.empty() ? LoopShape::Kind::Clear : LoopShape::Kind::Multiply;
    return shape;
}

// Pairs the brackets itself and accepts the jump table only when it says the same.
std::optional<std::vector<std::int32_t>> pairBrackets(
    const tCodeArr &code, const tJmpArr &jumps, std::int32_t length)
{
    std::vector<std::int32_t> partner(static_cast<std::size_t>(length) + 1, 0);
    std::vector<std::int32_t> open;
    for (std::int32_t position = 1; position <= length; ++position) {
        const char command = code[static_cast<std::size_t>(position)];
        if (command == '[') {
            open.push_back(position);
        } else if (command == ']') {
            if (open.empty())
                return std::nullopt;
            partner[static_cast<std::size_t>(position)] = open.back();
            partner[static_cast<std::size_t>(open.back())] = position;
            open.pop_back();
        }
    }
    if (!open.empty())
        return std::nullopt;
    for (std::int32_t position = 1; position <= length; ++position) {
        if (partner[static_cast<std::size_t>(position)] !=
            jumps[static_cast<std::size_t>(position)])
            return std::nullopt;
    }
    return partner;
}

bool hasBlockBody(const tCodeArr &code, const std::vector<std::int32_t> &partner, std::int32_t open,
    std::int32_t close)
{
    for (std::int32_t position = open + 1; position < close; ++position) {
        switch (code[static_cast<std::size_t>(position)]) {
        case '+':
        case '-':
        case '<':
        case '>': break;
        case '[': {
            const std::int32_t inner = partner[static_cast<std::size_t>(position)];
            const LoopShape::Kind kind = classifyLoop(code, position, inner).kind;
            if (kind != LoopShape::Kind::Clear && kind != LoopShape::Kind::Multiply)
                return false;
            position = inner;
            break;
        }
        default: return false;
        }
    }
    return true;
}

// Sorts the cells of a non-moving loop body into sums (only added to) and states (set,
// or counters of multiply loops).
void analyseCollapse(RepeatLoop &loop, const std::vector<Op> &ops)
{
    constexpr int Added = 1, State = 2, Product = 4;
    std::map<std::int32_t, int> roles;
    std::int32_t ownStep = 0;
    for (std::size_t index = 0; index < ops.size(); ++index) {
        const Op &op = ops[index];
        switch (op.kind) {
        case OpKind::Add:
            roles[op.offset] |= Added;
            if (op.offset == 0)
                ownStep += op.value;
            break;
        case OpKind::Set: roles[op.offset] |= State; break;
        case OpKind::Multiply: roles[op.offset] |= State; break;
        case OpKind::Term: roles[op.offset] |= Product; break;
        case OpKind::MultiplyOne:
            roles[op.offset] |= State;
            roles[op.limit] |= Product;
            break;
        default: return;
        }
    }
    ownStep &= 0xFF;
    if (loop.shift != 0 || roles[0] != Added || (ownStep != 1 && ownStep != 0xFF))
        return;
    for (const auto &[offset, role] : roles)
        ((role & State) != 0 ? loop.states : loop.sums).push_back(offset);
    loop.collapsible = loop.states.size() + loop.sums.size() <= MostCollapsedCells;
    loop.stepsDown = ownStep == 0xFF;
}
