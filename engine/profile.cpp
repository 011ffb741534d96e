#include "profile.h"

#include "fastexec.h"
#include "interpreter.h"
#include "nativeexec.h"
#include "optimizer.h"

#include <algorithm>
#include <memory>

void tProfile::reset(std::int32_t length)
{
    jumps.assign(static_cast<std::size_t>(length) + 2, 0);
    flow.assign(static_cast<std::size_t>(length) + 2, 0);
}

std::vector<std::int64_t> tProfile::commandCounts(const tBF &engine) const
{
    const auto size = static_cast<std::size_t>(engine.m_codeLength) + 2;
    std::vector<std::int64_t> counts(size, 0);
    if (jumps.size() != size || flow.size() != size)
        return counts;
    // Each jump ends a stretch of commands run after the bracket and starts one after its
    // partner: differences, summed up in program order.
    std::vector<std::int64_t> change = flow;
    for (std::size_t at = 1; at + 1 < size; ++at) {
        if (jumps[at] == 0)
            continue;
        const auto partner = static_cast<std::size_t>(engine.m_jumps[at]);
        change[at + 1] -= jumps[at];
        change[partner + 1] += jumps[at];
    }
    std::int64_t running = 0;
    for (std::size_t at = 1; at + 1 < size; ++at)
        counts[at] = running += change[at];
    return counts;
}

const char *shapeName(tLoopShape shape)
{
    switch (shape) {
    case tLoopShape::Clear: return "clear";
    case tLoopShape::Multiply: return "multiply";
    case tLoopShape::Scan: return "scan";
    case tLoopShape::Repeat: return "repeat";
    case tLoopShape::Collapse: return "collapse";
    case tLoopShape::Loop: break;
    }
    return "loop";
}

std::vector<tLoopProfile> hottestLoops(
    const tBF &engine, const std::vector<std::int64_t> &counts, std::size_t limit)
{
    const auto size = static_cast<std::size_t>(engine.m_codeLength) + 2;
    if (counts.size() != size || engine.m_jumps.size() < size - 1)
        return {};
    // The shapes as the debugger's counting translation makes them (every clear loop its own
    // operation), and which of its repeats a plain run collapses.
    std::vector<tLoopShape> shapes(size, tLoopShape::Loop);
    TranslationOptions options = optionsFor(engine);
    options.countsCommands = true;
    if (const auto counting =
            translateProgram(engine.m_code, engine.m_jumps, engine.m_codeLength, options)) {
        for (const Op &op : counting->ops) {
            auto &shape = shapes[static_cast<std::size_t>(op.position)];
            switch (op.kind) {
            case OpKind::Set: shape = tLoopShape::Clear; break;
            case OpKind::Multiply:
            case OpKind::MultiplyOne: shape = tLoopShape::Multiply; break;
            case OpKind::Scan: shape = tLoopShape::Scan; break;
            case OpKind::Repeat: shape = tLoopShape::Repeat; break;
            default: break;
            }
        }
    }
    if (const auto plain = translateProgram(
            engine.m_code, engine.m_jumps, engine.m_codeLength, optionsFor(engine))) {
        for (const Op &op : plain->ops) {
            if (op.kind == OpKind::Repeat &&
                plain->loops[static_cast<std::size_t>(op.index)].collapsible)
                shapes[static_cast<std::size_t>(op.position)] = tLoopShape::Collapse;
        }
    }
    std::vector<tLoopProfile> loops;
    for (std::size_t at = 1; at + 1 < size; ++at) {
        if (engine.m_code[at] != '[' || counts[at] == 0)
            continue;
        const std::int32_t close = engine.m_jumps[at];
        loops.push_back({static_cast<std::int32_t>(at), close, counts[at],
            counts[static_cast<std::size_t>(close)], shapes[at]});
    }
    const auto hotter = [](const tLoopProfile &a, const tLoopProfile &b) {
        return a.rounds != b.rounds ? a.rounds > b.rounds : a.open < b.open;
    };
    if (loops.size() > limit) {
        std::partial_sort(
            loops.begin(), loops.begin() + static_cast<std::ptrdiff_t>(limit), loops.end(), hotter);
        loops.resize(limit);
    } else {
        std::sort(loops.begin(), loops.end(), hotter);
    }
    return loops;
}

std::optional<int> runProfiled(tBF &engine, tProfile &profile)
{
    profile.reset(engine.m_codeLength);
    if (engine.m_codeLength < 1)
        return ResultOk;
    if (engine.m_jumps.size() < engine.m_code.size())
        return std::nullopt;
    // As Run sets a run up.
    engine.m_breakFlag = false;
    engine.m_inputEnded = false;
    if (!engine.m_dialect.isValid())
        engine.m_dialect = tDialect {};
    TranslationOptions options = optionsFor(engine);
    options.countsCommands = true;
    const std::optional<Program> program =
        translateProgram(engine.m_code, engine.m_jumps, engine.m_codeLength, options);
    if (!program)
        return std::nullopt;
    allocateTape(engine);
    engine.m_instructionPointer = 1;
    // The do-nothing idle hook needs no calls to speak of.
    const std::int32_t interval = engine.m_idleInterval;
    if (isDefaultIdleHook(engine.m_idleHook))
        engine.m_idleInterval = std::max(interval, 1 << 24);
    const std::unique_ptr<NativeCode> native = engine.m_path == tEnginePath::Fastest
        ? compileNative(*program, true, MostNativeCodeBytes, true)
        : nullptr;
    profile.started(1);
    CountedRun run;
    try {
        run = runCounted(engine, *program, 0, native.get(), nullptr, profile.jumps.data());
    } catch (...) {
        engine.m_idleInterval = interval;
        throw;
    }
    engine.m_idleInterval = interval;
    if (run.stop == Stop::Ended)
        engine.m_instructionPointer = engine.m_codeLength + 1;
    profile.stopped(std::clamp(engine.m_instructionPointer, 1, engine.m_codeLength + 1));
    return run.result;
}

std::string profileTable(std::string_view text, const std::vector<std::size_t> &offsets,
    const tBF &engine, const std::vector<std::int64_t> &counts)
{
    std::string table;
    std::size_t at = 0; // in text
    long line = 1, column = 1;
    const auto count =
        std::min<std::size_t>(offsets.size(), static_cast<std::size_t>(engine.m_codeLength));
    for (std::size_t command = 0; command < count; ++command) {
        for (; at < offsets[command] && at < text.size(); ++at) {
            const char byte = text[at];
            if (byte == '\n' || (byte == '\r' && (at + 1 >= text.size() || text[at + 1] != '\n'))) {
                ++line;
                column = 1;
            } else if (byte != '\r' && (static_cast<unsigned char>(byte) & 0xC0) != 0x80) {
                ++column;
            }
        }
        table += std::to_string(line);
        table += '\t';
        table += std::to_string(column);
        table += '\t';
        table += engine.m_code[command + 1];
        table += '\t';
        table += std::to_string(counts[command + 1]);
        table += '\n';
    }
    return table;
}
