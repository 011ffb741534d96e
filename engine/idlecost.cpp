#include "idlecost.h"

#include <algorithm>
#include <vector>

namespace {

// The last command that the operation at a boundary stands for: the next block starts after
// it.
std::int32_t lastCommandOf(const Program &program, const Op &op)
{
    switch (op.kind) {
    case OpKind::Repeat: return program.loops[static_cast<std::size_t>(op.index)].last;
    case OpKind::Scan: return program.stretches[static_cast<std::size_t>(op.index)].last;
    case OpKind::Checkpoint: return op.position - 1;
    default: return op.position;
    }
}

// Whether op is a folded loop (in a counting translation, where each clear loop is a Set of
// its own that names its "[").
bool countsRounds(const Op &op)
{
    return op.kind == OpKind::MultiplyOne || op.kind == OpKind::Multiply ||
        (op.kind == OpKind::Set && op.position > 0);
}

} // namespace

void countIdleCosts(Program &program, const ProgramPlan &plan)
{
    program.costs.assign(program.ops.size(), 0);
    program.largestCost = 0;
    // Inside a loop every boundary but the "]" runs at most once per round, so its units may
    // wait for the "]", which then tests the budget once for the round instead of at each of
    // them. The units waiting, over all the loops the run is in, stay below DeferredCost: the
    // idle call comes at most that late. pending holds each open loop's units waiting.
    std::vector<std::int64_t> pending;
    std::int64_t waiting = 0; // the sum of pending
    const auto largest = [&](std::int64_t growth) {
        program.largestCost = std::max(program.largestCost, growth + waiting);
    };
    std::int32_t blockStart = 1;
    for (std::size_t index = 0; index < program.ops.size(); ++index) {
        const Op &op = program.ops[index];
        std::int64_t cost = plan.unitsOf(blockStart, op.position - 1);
        switch (op.kind) {
        case OpKind::Open:
        case OpKind::Close: ++cost; break; // the bracket itself
        case OpKind::Scan:
            cost += 1 + std::max<std::int64_t>(InlineScanSteps, scanPrepaidCells(op.value));
            break;
        case OpKind::Repeat: {
            ++cost;
            RepeatLoop &loop = program.loops[static_cast<std::size_t>(op.index)];
            loop.roundCost = plan.unitsOf(loop.first + 1, loop.last - 1) + 1;
            if (loop.shift != 0 && !loop.collapsible)
                cost += loop.roundCost; // machine code tests only before the rounds after it
            break;
        }
        case OpKind::Checkpoint:
        case OpKind::End: break;
        default: continue; // not a place where the hook may run
        }
        blockStart = lastCommandOf(program, op) + 1;
        const bool defers = !pending.empty() &&
            (op.kind == OpKind::Open || op.kind == OpKind::Scan || op.kind == OpKind::Repeat);
        // A loop's "[" leaves the loops inside it at least half the room.
        const std::int64_t room = op.kind == OpKind::Open ? DeferredCost / 2 : DeferredCost;
        if (defers && waiting + cost < room) {
            pending.back() += cost;
            waiting += cost;
        } else {
            if (!pending.empty() && op.kind != OpKind::Close) {
                cost += pending.back(); // the units waiting here are counted now
                waiting -= pending.back();
                pending.back() = 0;
            }
            if (op.kind == OpKind::Close && !pending.empty()) {
                cost += pending.back();
                waiting -= pending.back();
                pending.pop_back();
            }
            program.costs[index] = cost;
            largest(cost + 1);
        }
        if (op.kind == OpKind::Open)
            pending.push_back(0);
        if (op.kind == OpKind::Repeat) {
            const RepeatLoop &loop = program.loops[static_cast<std::size_t>(op.index)];
            largest(loop.roundCost);
            if (loop.collapsible) // its settling rounds and the sums added at once
                largest(MostSettlingRounds * loop.roundCost + 1);
        }
    }
}

void countCommands(Program &program, const ProgramPlan &plan, std::int32_t length)
{
    program.counts.assign(program.ops.size(), {});
    program.entries.assign(static_cast<std::size_t>(length) + 2, -1);
    program.entries[1] = 0;
    std::int32_t counted = 0; // the last command counted so far
    for (std::size_t index = 0; index < program.ops.size(); ++index) {
        const Op &op = program.ops[index];
        OpCount &count = program.counts[index];
        std::int32_t last = op.position; // the last command the operation stands for
        std::int32_t own = 1;
        switch (op.kind) {
        case OpKind::Set:
        case OpKind::MultiplyOne:
        case OpKind::Multiply:
            if (!countsRounds(op))
                continue; // an add's Set, not a loop
            last = plan.partner[static_cast<std::size_t>(op.position)];
            count.perRound = last - op.position; // the body and "]"
            count.stepsDown = plan.shapes.at(op.position).stepsDown;
            break;
        case OpKind::Repeat: {
            const RepeatLoop &loop = program.loops[static_cast<std::size_t>(op.index)];
            last = loop.last;
            count.perRound = last - op.position; // the body and "]", less its folded loops:
            for (std::int32_t i = 1; i <= loop.bodyCount; ++i) {
                const Op &inner = program.ops[index + static_cast<std::size_t>(i)];
                if (!countsRounds(inner))
                    continue;
                const std::int32_t close = plan.partner[static_cast<std::size_t>(inner.position)];
                count.perRound -= close - inner.position + 1; // they count their own rounds
                program.counts[index + static_cast<std::size_t>(i)] = {
                    0, 1, close - inner.position, plan.shapes.at(inner.position).stepsDown};
            }
            count.before = op.position - 1 - counted;
            count.own = 1;
            counted = last;
            index += static_cast<std::size_t>(loop.bodyCount);
            continue;
        }
        case OpKind::Scan:
            last = program.stretches[static_cast<std::size_t>(op.index)].last;
            count.perRound = last - op.position;
            break;
        case OpKind::Open:
        case OpKind::Close:
            program.entries[static_cast<std::size_t>(op.position)] =
                static_cast<std::int32_t>(index);
            break;
        case OpKind::Stop:
            program.entries[static_cast<std::size_t>(op.position)] =
                static_cast<std::int32_t>(index) + 1;
            [[fallthrough]];
        case OpKind::Checkpoint:
        case OpKind::End:
            last = op.position - 1;
            own = 0;
            break;
        case OpKind::Output:
        case OpKind::Input: break;
        default: continue; // part of a block counted further on
        }
        count.before = op.position - 1 - counted;
        count.own = own;
        counted = last;
    }
}
