#include "loopanalysis.h"

#include <algorithm>
#include <map>
#include <optional>

namespace {

// Collapsing compares these cells after every round; more would cost more than it saves.
constexpr std::size_t MostCollapsedCells = 24;

// Whether the loop's body is one block: cell arithmetic, moves, clear and multiply loops.
bool hasBlockBody(const tCodeArr &code, const std::vector<std::int32_t> &partner,
    const std::vector<ProgramPlan::Role> &roles, std::int32_t open, std::int32_t close)
{
    for (std::int32_t position = open + 1; position < close; ++position) {
        switch (code[static_cast<std::size_t>(position)]) {
        case '+':
        case '-':
        case '<':
        case '>': break;
        case '[': {
            if (roles[static_cast<std::size_t>(position)] != ProgramPlan::Role::Folded)
                return false;
            position = partner[static_cast<std::size_t>(position)];
            break;
        }
        default: return false;
        }
    }
    return true;
}

} // namespace

LoopShape classifyLoop(
    const tCodeArr &code, std::int32_t open, std::int32_t close, std::uint32_t cellMask)
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
        shape.path.low = std::min(shape.path.low, cursor);
        shape.path.high = std::max(shape.path.high, cursor);
    }
    if (!adds && cursor != 0 && !(left && right)) {
        shape.kind = LoopShape::Kind::Scan;
        shape.stride = cursor;
        return shape;
    }
    // Amounts at the cells' width, as bits of an int32_t.
    const auto atWidth = [&](std::int32_t delta) {
        return static_cast<std::uint32_t>(delta) & cellMask;
    };
    const std::uint32_t own = atWidth(deltas[0]);
    if (cursor != 0 || (own != 1 && own != cellMask))
        return shape; // not provably finite within the cell's range; keep it a loop
    shape.stepsDown = own == cellMask;
    for (const auto &[offset, delta] : deltas) {
        if (offset != 0 && atWidth(delta) != 0)
            shape.terms.emplace_back(offset, static_cast<std::int32_t>(atWidth(delta)));
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

namespace {

// Follows one round from unknown cells: where every state ends at a value of its own and every
// sum grows by a constant, all rounds do the same, and the loop closes without running one.
// Amounts wrap at 32 bits, which the cells' widths divide.
void analyseConstantRounds(RepeatLoop &loop, const std::vector<Op> &ops, std::uint32_t cellMask)
{
    std::map<std::int32_t, std::optional<std::uint32_t>> known; // states; absent: unknown
    std::map<std::int32_t, std::uint32_t> steps; // sums
    const auto isSum = [&](std::int32_t offset) {
        return std::find(loop.sums.begin(), loop.sums.end(), offset) != loop.sums.end();
    };
    const auto valueOf = [&](std::int32_t offset) {
        const auto found = known.find(offset);
        return found == known.end() ? std::nullopt : found->second;
    };
    // c(target) += factor * c(counter); false when a sum would grow by an unknown amount.
    const auto addProduct = [&](std::int32_t target, std::uint32_t factor, std::int32_t counter) {
        const std::optional<std::uint32_t> n = valueOf(counter);
        if (isSum(target)) {
            if (!n)
                return false;
            steps[target] += factor * *n;
            return true;
        }
        const std::optional<std::uint32_t> before = valueOf(target);
        known[target] = before && n ? std::optional(*before + factor * *n) : std::nullopt;
        return true;
    };
    for (std::size_t index = 0; index < ops.size(); ++index) {
        const Op &op = ops[index];
        const auto value = static_cast<std::uint32_t>(op.value);
        switch (op.kind) {
        case OpKind::Add:
            if (isSum(op.offset)) {
                steps[op.offset] += value;
            } else {
                const std::optional<std::uint32_t> before = valueOf(op.offset);
                known[op.offset] = before ? std::optional(*before + value) : std::nullopt;
            }
            break;
        case OpKind::Set: known[op.offset] = value; break;
        case OpKind::MultiplyOne:
            if (!addProduct(op.target, value, op.offset))
                return;
            known[op.offset] = 0;
            break;
        case OpKind::Multiply:
            for (std::int32_t term = 1; term <= op.value; ++term) {
                const Op &product = ops[index + static_cast<std::size_t>(term)];
                if (!addProduct(
                        product.offset, static_cast<std::uint32_t>(product.value), op.offset))
                    return;
            }
            known[op.offset] = 0;
            break;
        default: break; // terms, taken with their Multiply
        }
    }
    std::vector<std::pair<std::int32_t, std::uint32_t>> states;
    for (const std::int32_t state : loop.states) {
        const std::optional<std::uint32_t> value = valueOf(state);
        if (!value)
            return;
        states.emplace_back(state, *value & cellMask);
    }
    loop.roundStates = std::move(states);
    for (const std::int32_t sum : loop.sums) {
        if (sum != 0 && (steps[sum] & cellMask) != 0)
            loop.roundSteps.emplace_back(sum, steps[sum] & cellMask);
    }
    loop.closesAtOnce = true;
}

} // namespace

// Sorts the cells of a non-moving loop body into sums (only added to) and states (set,
// or counters of multiply loops).
void analyseCollapse(
    RepeatLoop &loop, const std::vector<Op> &ops, std::uint32_t cellMask, bool closesConstant)
{
    constexpr int Added = 1, State = 2, Product = 4;
    std::map<std::int32_t, int> roles;
    std::uint32_t ownStep = 0; // unsigned: wide amounts wrap
    for (std::size_t index = 0; index < ops.size(); ++index) {
        const Op &op = ops[index];
        switch (op.kind) {
        case OpKind::Add:
            roles[op.offset] |= Added;
            if (op.offset == 0)
                ownStep += static_cast<std::uint32_t>(op.value);
            break;
        case OpKind::Set: roles[op.offset] |= State; break;
        case OpKind::Multiply: roles[op.offset] |= State; break;
        case OpKind::Term: roles[op.offset] |= Product; break;
        case OpKind::MultiplyOne:
            roles[op.offset] |= State;
            roles[op.target] |= Product;
            break;
        default: return;
        }
    }
    const std::uint32_t step = ownStep & cellMask;
    if (loop.shift != 0 || roles[0] != Added || (step != 1 && step != cellMask))
        return;
    for (const auto &[offset, role] : roles)
        ((role & State) != 0 ? loop.states : loop.sums).push_back(offset);
    loop.collapsible = loop.states.size() + loop.sums.size() <= MostCollapsedCells;
    loop.stepsDown = step == cellMask;
    // States that a round leaves at values of its own (cleared, set, or made from such)
    // whatever they held before it: the second round leaves them as the first did.
    std::map<std::int32_t, bool> fixed; // whether a cell's value is the same every round
    const auto isFixed = [&](std::int32_t offset) { return fixed[offset]; };
    for (std::size_t index = 0; index < ops.size(); ++index) {
        const Op &op = ops[index];
        switch (op.kind) {
        case OpKind::Set: fixed[op.offset] = true; break;
        case OpKind::MultiplyOne:
            fixed[op.target] = isFixed(op.target) && isFixed(op.offset);
            fixed[op.offset] = true;
            break;
        case OpKind::Multiply:
            for (std::int32_t term = 1; term <= op.value; ++term) {
                const std::int32_t target = ops[index + static_cast<std::size_t>(term)].offset;
                fixed[target] = isFixed(target) && isFixed(op.offset);
            }
            fixed[op.offset] = true;
            break;
        default: break; // adds keep a cell as fixed as it was
        }
    }
    loop.settlesAtOnce = std::all_of(
        loop.states.begin(), loop.states.end(), [&](std::int32_t state) { return isFixed(state); });
    if (closesConstant && loop.collapsible && loop.settlesAtOnce)
        analyseConstantRounds(loop, ops, cellMask);
}

namespace {

// Where each loop's role comes from: its shape, and for other loops whether the body is one
// block small enough to run as one operation.
void assignRoles(
    ProgramPlan &plan, const tCodeArr &code, std::int32_t length, const TranslationOptions &options)
{
    using Role = ProgramPlan::Role;
    // stopsBefore[p]: stops at positions before p, so a loop holds one when the count grows
    // from its "[" to past its "]".
    std::vector<std::int32_t> stopsBefore(static_cast<std::size_t>(length) + 2, 0);
    for (std::size_t position = 1; position <= static_cast<std::size_t>(length); ++position)
        stopsBefore[position + 1] = stopsBefore[position] +
            (position < options.stops.size() && options.stops[position] ? 1 : 0);
    for (std::int32_t open = 1; open <= length; ++open) {
        if (code[static_cast<std::size_t>(open)] != '[')
            continue;
        const auto close = static_cast<std::size_t>(plan.partner[static_cast<std::size_t>(open)]);
        if (stopsBefore[close + 1] != stopsBefore[static_cast<std::size_t>(open)]) {
            plan.roles[static_cast<std::size_t>(open)] = Role::Open;
            continue; // every pass of the stop must be seen
        }
        LoopShape shape = classifyLoop(
            code, open, plan.partner[static_cast<std::size_t>(open)], options.cellMask);
        Role &role = plan.roles[static_cast<std::size_t>(open)];
        switch (shape.kind) {
        case LoopShape::Kind::Clear:
        case LoopShape::Kind::Multiply: role = Role::Folded; break;
        case LoopShape::Kind::Scan: role = Role::Scan; break;
        case LoopShape::Kind::General: role = Role::Open; continue;
        }
        plan.shapes.emplace(open, std::move(shape));
    }
    // The folded loops are known now, and with them each command's units and which loop
    // bodies are one block.
    std::vector<std::int64_t> units(static_cast<std::size_t>(length) + 2, 0);
    for (std::int32_t position = 1; position <= length; ++position) {
        const char command = code[static_cast<std::size_t>(position)];
        if (command == '[' && plan.roles[static_cast<std::size_t>(position)] == Role::Folded) {
            // One unit, plus one per cell it adds to, however many rounds it stands for.
            units[static_cast<std::size_t>(position)] =
                1 + static_cast<std::int64_t>(plan.shapes.at(position).terms.size());
            position = plan.partner[static_cast<std::size_t>(position)];
        } else if (command != '[' && command != ']') {
            units[static_cast<std::size_t>(position)] = unitsOfCommand(command);
        }
    }
    plan.unitsBefore.assign(static_cast<std::size_t>(length) + 2, 0);
    for (std::size_t position = 1; position <= static_cast<std::size_t>(length); ++position)
        plan.unitsBefore[position + 1] = plan.unitsBefore[position] + units[position];
    for (std::int32_t open = 1; open <= length; ++open) {
        Role &role = plan.roles[static_cast<std::size_t>(open)];
        const std::int32_t close = plan.partner[static_cast<std::size_t>(open)];
        // A round with more work than a coarse idle hook may wait for stays a loop.
        if (role == Role::Open &&
            stopsBefore[static_cast<std::size_t>(close) + 1] ==
                stopsBefore[static_cast<std::size_t>(open)] &&
            hasBlockBody(code, plan.partner, plan.roles, open, close) &&
            plan.unitsOf(open + 1, close - 1) <= CheckpointCost)
            role = Role::Repeat;
    }
}

// A straight stretch longer than a coarse idle hook may wait for gets Checkpoints.
void placeCheckpoints(ProgramPlan &plan, const tCodeArr &code, std::int32_t length)
{
    using Role = ProgramPlan::Role;
    plan.checkpointBefore.assign(static_cast<std::size_t>(length) + 1, false);
    std::int64_t stretch = 0;
    for (std::int32_t position = 1; position <= length; ++position) {
        const auto at = static_cast<std::size_t>(position);
        const char command = code[at];
        const Role role = command == '[' ? plan.roles[at] : Role::Command;
        if (command == ']' || role == Role::Open || role == Role::Scan || role == Role::Repeat) {
            stretch = 0; // a loop boundary: the idle hook may run there
            if (role == Role::Scan || role == Role::Repeat)
                position = plan.partner[at];
            continue;
        }
        const std::int64_t units = plan.unitsOf(position, position);
        if (stretch + units > CheckpointCost) {
            plan.checkpointBefore[at] = true;
            stretch = 0;
        }
        stretch += units;
        if (role == Role::Folded)
            position = plan.partner[at];
    }
}

} // namespace

ProgramPlan planProgram(const tCodeArr &code, std::vector<std::int32_t> partner,
    std::int32_t length, const TranslationOptions &options)
{
    ProgramPlan plan;
    plan.partner = std::move(partner);
    plan.roles.assign(static_cast<std::size_t>(length) + 1, ProgramPlan::Role::Command);
    assignRoles(plan, code, length, options);
    placeCheckpoints(plan, code, length);
    return plan;
}
