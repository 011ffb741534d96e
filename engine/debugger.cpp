#include "debugger.h"

#include "fastexec.h"
#include "fastsupport.h"
#include "interpreter.h"
#include "nativeexec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Work units between idle calls on the optimised path, commands between them one by one:
// both a small fraction of a millisecond, so a pause takes effect at once.
constexpr std::int32_t IdleInterval = 1 << 16;

// Keeps tape in snapshot from its first to its last non-zero byte, looked for eight bytes at a
// time.
void keepTape(DebugSnapshot &snapshot, const tDataArr &tape)
{
    const auto zeroAt = [&](std::size_t at) {
        std::uint64_t bytes = 0;
        std::memcpy(&bytes, tape.data() + at, sizeof bytes);
        return bytes == 0;
    };
    std::size_t first = 0;
    std::size_t last = tape.size();
    while (first + 8 <= last && zeroAt(first))
        first += 8;
    while (last >= first + 8 && zeroAt(last - 8))
        last -= 8;
    snapshot.tape.assign(tape.begin() + static_cast<std::ptrdiff_t>(first),
        tape.begin() + static_cast<std::ptrdiff_t>(last));
    snapshot.tapeFrom = first;
    snapshot.tapeBytes = tape.size();
}
constexpr std::int64_t ExactIdleEvery = 1 << 16;

// A one-by-one replay whose count reached nextEvent: at limit it stops (reason Step), else
// it calls the idle hook and sets the next event. True stops the replay, as does a break
// flag the hook set.
bool replayEventStops(tBF &engine, std::int64_t commands, std::int64_t limit,
    std::int64_t &nextEvent, DebugStop &reason, std::int32_t position, std::int32_t dataPointer)
{
    if (commands >= limit) {
        reason = DebugStop::Step;
        return true;
    }
    nextEvent = std::min(limit, commands + ExactIdleEvery);
    engine.m_instructionPointer = position;
    engine.m_dataPointer = dataPointer;
    engine.m_commandCount = commands;
    engine.m_idleHook();
    return engine.m_breakFlag;
}

} // namespace

// The commands at one cell that a search wants (see lastChange and firstReadAfter).
struct tDebugger::CellTrace
{
    std::int32_t cell = 0;
    bool writes = false; // the writes; the reads otherwise
    bool stopAtFirst = false;
    std::int64_t from = 0; // the first command count that may match
    std::int64_t found = -1; // the count before the last match
    std::int32_t foundAt = 0; // and its position

    bool matches(char command) const
    {
        switch (command) {
        case '+':
        case '-': return true;
        case ',': return writes;
        case '.':
        case '[':
        case ']': return !writes;
        default: return false;
        }
    }
};

// The one-by-one path of a leg: every stop tested before every command.
struct tDebugger::ExactRun
{
    static constexpr bool BreaksAfterTransfer = true;
    tDebugger &debugger;
    const Leg &leg;
    std::int64_t commands;
    // The optimised path's entries, and the count from which the run hands over at one; the
    // run also hands over (without entries) to have the program translated.
    const std::vector<std::int32_t> *entries = nullptr;
    std::int64_t handOverFrom = NoLimit;
    std::int64_t nextIdle = 0;
    bool first = true; // the leg starts here: its stops were tested, or it resumes from one
    bool handsOver = false;
    DebugStop reason = DebugStop::Ended;

    bool beforeCommand(std::int32_t position, std::int32_t dataPointer)
    {
        // The command before this one is judged first: its watch stop is the state here,
        // which a reverse search notes even where its stretch ends.
        if (debugger.m_watching && debugger.watchSettle(dataPointer)) [[unlikely]] {
            if (!leg.lastBreakpoint)
                return stopWith(DebugStop::Watchpoint);
            if (commands < leg.watchesBefore) {
                *leg.lastBreakpoint = commands;
                debugger.m_watchNoted = debugger.m_watchHit;
            }
        }
        if (commands >= leg.limit)
            return stopWith(DebugStop::Step);
        if (leg.beforeWait && debugger.m_engine.m_code[static_cast<std::size_t>(position)] == ',' &&
            static_cast<std::size_t>(debugger.m_inputs) >= debugger.m_inputLog.size())
            return stopWith(DebugStop::Paused);
        const bool breakpoint = debugger.m_breakAt[static_cast<std::size_t>(position)] != 0;
        if (leg.lastBreakpoint && breakpoint && *leg.lastBreakpoint != commands) {
            *leg.lastBreakpoint = commands;
            debugger.m_watchNoted.reset();
        }
        if (!first) {
            if (position == leg.target)
                return stopWith(DebugStop::Target);
            if (breakpoint && leg.breakpoints)
                return stopWith(DebugStop::Breakpoint);
            if (commands >= handOverFrom &&
                (!entries || (*entries)[static_cast<std::size_t>(position)] >= 0) &&
                (!debugger.m_watching || !debugger.m_pointerWatches ||
                    dataPointer < debugger.m_watchLow || dataPointer > debugger.m_watchHigh)) {
                handsOver = true;
                return true;
            }
        }
        first = false;
        if (commands >= nextIdle) {
            nextIdle = commands + ExactIdleEvery;
            tBF &engine = debugger.m_engine;
            engine.m_instructionPointer = position;
            engine.m_dataPointer = dataPointer;
            engine.m_commandCount = commands;
            engine.m_idleHook();
            if (engine.m_breakFlag)
                return stopWith(DebugStop::Stopped); // or paused: the leg tells them apart
        }
        if (debugger.m_watching)
            debugger.watchNote(position, dataPointer);
        ++commands; // the command runs now (a fault undoes it)
        if (leg.profiles)
            noteJump(debugger.m_engine, debugger.m_profile.jumps.data(), position, dataPointer);
        return false;
    }

    bool stopWith(DebugStop stop)
    {
        reason = stop;
        return true;
    }
};

// A search's one-by-one path (a leg with a cell trace): apart from the cell's commands only
// the count limit and the idle calls are tested, folded into one test per command, since a
// search back replays up to the whole history.
struct tDebugger::TraceRun
{
    static constexpr bool BreaksAfterTransfer = true;
    tDebugger &debugger;
    CellTrace &trace;
    std::int64_t commands;
    std::int64_t limit;
    std::int64_t nextEvent = 0; // the limit or the next idle call, whichever comes first
    std::int32_t cell = trace.cell;
    DebugStop reason = DebugStop::Ended;

    bool beforeCommand(std::int32_t position, std::int32_t dataPointer)
    {
        tBF &engine = debugger.m_engine;
        if (dataPointer == cell && commands >= trace.from && commands < limit &&
            trace.matches(engine.m_code[static_cast<std::size_t>(position)])) [[unlikely]] {
            trace.found = commands;
            trace.foundAt = position;
            if (trace.stopAtFirst) {
                reason = DebugStop::Target;
                return true;
            }
        }
        if (commands >= nextEvent) [[unlikely]] {
            if (replayEventStops(engine, commands, limit, nextEvent, reason, position, dataPointer))
                return true; // at the limit, or stopped or paused: the leg tells them apart
        }
        ++commands;
        return false;
    }
};

// A replay that keeps the loops around the position (innermost last) as the commands pass:
// a "[" that enters its loop opens one, each "]" of the innermost finishes a round of it and
// one that falls through closes it. A "]" jumps back past its "[", so a "[" runs only when
// its loop is entered afresh.
struct tDebugger::LoopRun
{
    static constexpr bool BreaksAfterTransfer = true;
    tDebugger &debugger;
    std::vector<DebugLoop> &loops;
    std::int64_t commands;
    std::int64_t limit;
    std::int64_t nextEvent = 0;
    DebugStop reason = DebugStop::Ended;

    bool beforeCommand(std::int32_t position, std::int32_t dataPointer)
    {
        tBF &engine = debugger.m_engine;
        if (commands >= nextEvent) [[unlikely]] {
            if (replayEventStops(engine, commands, limit, nextEvent, reason, position, dataPointer))
                return true; // at the limit, or stopped or paused: the leg tells them apart
        }
        const char command = engine.m_code[static_cast<std::size_t>(position)];
        if (command == '[') {
            if (const std::uint32_t value = engine.cellValue(dataPointer); value != 0)
                loops.push_back({position, value, 0});
        } else if (command == ']' && !loops.empty() &&
            loops.back().position == engine.m_jumps[static_cast<std::size_t>(position)]) {
            DebugLoop &loop = loops.back();
            if (loop.rounds >= 0)
                ++loop.rounds;
            if (engine.cellValue(dataPointer) == 0)
                loops.pop_back();
        }
        ++commands;
        return false;
    }
};

namespace {

// A value at the cells' width (mask), read as signed or not.
std::int64_t valueAt(std::uint32_t value, std::uint32_t mask, bool isSigned)
{
    if (!isSigned || value <= mask / 2)
        return value;
    return std::int64_t {value} - std::int64_t {mask} - 1;
}

bool meets(const DebugWatch &watch, std::uint32_t value, std::uint32_t mask)
{
    if (watch.kind == DebugWatch::Kind::Change)
        return true;
    const std::int64_t seen = valueAt(value, mask, watch.isSigned);
    switch (watch.relation) {
    case DebugWatch::Relation::Equal: return seen == watch.value;
    case DebugWatch::Relation::NotEqual: return seen != watch.value;
    case DebugWatch::Relation::Less: return seen < watch.value;
    case DebugWatch::Relation::Greater: return seen > watch.value;
    }
    return false;
}

} // namespace

tDebugger::tDebugger(tBF &engine)
    : m_engine(engine)
{ }

tDebugger::~tDebugger() = default;

void tDebugger::start()
{
    tBF &engine = m_engine;
    m_commands = m_inputs = m_outputs = m_outputsShown = 0;
    m_inputLog.clear();
    m_history.clear();
    m_searchMark = {};
    m_profile.reset(engine.m_codeLength);
    m_printed.clear();
    m_printedAt.clear();
    m_started = true;
    m_result = ResultOk;
    m_program.reset();
    m_programStops.clear();
    m_natives.reset();
    for (WindowTranslation &window : m_windows)
        window = {};
    if (engine.m_codeLength < 1) {
        // As Run: a program without commands ends at once and touches nothing.
        m_live = false;
        m_lastStop = DebugStop::Ended;
        return;
    }
    engine.m_breakFlag = false;
    engine.m_inputEnded = false;
    if (!engine.m_dialect.isValid())
        engine.m_dialect = tDialect {};
    allocateTape(engine);
    engine.m_instructionPointer = 1;
    if (engine.m_jumps.size() < engine.m_code.size())
        engine.m_jumps.resize(engine.m_code.size(), 0);
    m_breakAt.resize(static_cast<std::size_t>(engine.m_codeLength) + 2, 0);
    takeSnapshot(0);
    m_history.back().loops = std::make_shared<const std::vector<DebugLoop>>();
    m_translatable = true;
    m_live = true;
    m_lastStop = DebugStop::Started;
}

DebugStop tDebugger::stepInto()
{
    return runLeg({.limit = m_commands + 1, .breakpoints = false});
}

DebugStop tDebugger::stepOver()
{
    const std::int32_t position = m_engine.m_instructionPointer;
    if (!m_live || m_engine.m_code[static_cast<std::size_t>(position)] != '[')
        return stepInto();
    return runLeg({.target = m_engine.m_jumps[static_cast<std::size_t>(position)] + 1});
}

DebugStop tDebugger::stepOut()
{
    if (!m_live)
        return m_lastStop;
    // The innermost "[" before the position whose loop holds it; a "]" belongs to its loop.
    const tCodeArr &code = m_engine.m_code;
    std::int32_t position = m_engine.m_instructionPointer;
    if (code[static_cast<std::size_t>(position)] == ']')
        return runLeg({.target = position + 1});
    for (std::int32_t depth = 0; --position >= 1;) {
        const char command = code[static_cast<std::size_t>(position)];
        if (command == ']')
            ++depth;
        else if (command == '[' && depth-- == 0)
            return runLeg({.target = m_engine.m_jumps[static_cast<std::size_t>(position)] + 1});
    }
    return runLeg({});
}

DebugStop tDebugger::runTo(std::int32_t position)
{
    return runLeg({.target = position});
}

DebugStop tDebugger::resume()
{
    return runLeg({});
}

int tDebugger::runToEnd()
{
    while (isLive())
        resume();
    return m_lastStop == DebugStop::Fault ? m_result : ResultOk;
}

DebugStop tDebugger::profiledResume()
{
    return runLeg({.profiles = true});
}

DebugStop tDebugger::stepBack()
{
    if (!m_started || m_running)
        return m_lastStop;
    if (m_commands == 0 || !travelTo(m_commands - 1))
        return m_lastStop = DebugStop::HistoryStart;
    return m_lastStop;
}

DebugStop tDebugger::reverseResume()
{
    if (!m_started || m_running || m_history.empty())
        return m_lastStop;
    std::int64_t end = m_commands;
    const std::int64_t origin = m_commands;
    // Each stretch between two snapshots, latest first, replayed for its last breakpoint or
    // watch stop.
    for (;;) {
        const auto next = std::lower_bound(m_history.begin(), m_history.end(), end,
            [](const DebugSnapshot &s, std::int64_t count) { return s.commands < count; });
        if (next == m_history.begin())
            break;
        const DebugSnapshot &from = *std::prev(next);
        const std::int64_t start = from.commands;
        restore(from);
        std::int64_t found = -1;
        m_watchNoted.reset();
        runLeg({.limit = end,
            .breakpoints = false,
            .lastBreakpoint = &found,
            .watchesBefore = origin});
        if (m_lastStop == DebugStop::Paused || m_lastStop == DebugStop::Stopped)
            return m_lastStop;
        if (found >= 0) {
            const std::optional<std::size_t> watch = m_watchNoted;
            travelTo(found);
            if (m_lastStop != DebugStop::Step)
                return m_lastStop;
            m_watchHit = watch;
            return m_lastStop = watch ? DebugStop::Watchpoint : DebugStop::Breakpoint;
        }
        end = start;
    }
    restore(m_history.front());
    return m_lastStop = DebugStop::HistoryStart;
}

DebugStop tDebugger::lastChange(std::int32_t cell)
{
    if (!m_started || m_running || m_history.empty() || cell < 0 || cell > m_engine.m_lastCell)
        return m_lastStop;
    const std::int64_t origin = m_commands;
    const bool originLive = m_live;
    const int originResult = m_result;
    const DebugStop originStop = m_lastStop;
    const bool again =
        m_searchMark.change && m_searchMark.cell == cell && m_searchMark.commands == origin;
    // Back to where the run stood (a replay from the snapshot before it), as it was.
    const auto stayWith = [&](DebugStop stop) {
        travelTo(origin);
        m_live = originLive;
        m_result = originResult;
        m_lastStop = originStop;
        return stop;
    };
    CellTrace trace {.cell = cell, .writes = true};
    // Each stretch between two snapshots, latest first, replayed one by one for its last
    // write: the first stretch that has one holds the answer.
    std::int64_t end = again ? origin - 1 : origin; // the write found last time is excluded
    const double reach = static_cast<double>(std::max<std::int64_t>(end - historyStart(), 1));
    while (end > m_history.front().commands) {
        m_searchProgress = static_cast<double>(origin - end) / reach;
        const auto next = std::lower_bound(m_history.begin(), m_history.end(), end,
            [](const DebugSnapshot &s, std::int64_t count) { return s.commands < count; });
        const DebugSnapshot &from = *std::prev(next);
        const std::int64_t start = from.commands;
        restore(from);
        runLeg({.limit = end, .breakpoints = false, .trace = &trace});
        m_searchProgress = 0;
        if (m_lastStop == DebugStop::Paused || m_lastStop == DebugStop::Stopped)
            return stayWith(m_lastStop);
        if (trace.found >= 0) {
            travelTo(trace.found + 1);
            m_searchMark = {true, cell, m_commands, trace.foundAt};
            if (m_live) // after a program's last command the run stands at its end
                m_lastStop = DebugStop::Target;
            return DebugStop::Target;
        }
        end = start;
    }
    return stayWith(DebugStop::HistoryStart);
}

DebugStop tDebugger::firstReadAfter(std::int32_t cell)
{
    if (!m_live || m_running || cell < 0 || cell > m_engine.m_lastCell)
        return m_lastStop;
    const bool again =
        !m_searchMark.change && m_searchMark.cell == cell && m_searchMark.commands == m_commands;
    // The read found last time is the current command: this one looks past it.
    CellTrace trace {.cell = cell, .stopAtFirst = true, .from = m_commands + (again ? 1 : 0)};
    const DebugStop stop = runLeg({.breakpoints = false, .trace = &trace});
    if (stop == DebugStop::Target)
        m_searchMark = {false, cell, m_commands, trace.foundAt};
    return stop;
}

DebugStop tDebugger::travelToOutput(std::size_t index)
{
    if (!m_started || m_running || index >= m_printedAt.size())
        return m_lastStop;
    const std::int64_t before = m_printedAt[index];
    if (before < historyStart())
        return DebugStop::HistoryStart;
    travelTo(before);
    const std::int32_t position = m_engine.m_instructionPointer;
    runLeg({.limit = before + 1, .breakpoints = false});
    m_searchMark = {false, -1, m_commands, position};
    if (m_live)
        m_lastStop = DebugStop::Target;
    return DebugStop::Target;
}

void tDebugger::setBreakpoint(std::int32_t position, bool on)
{
    // A position the program does not have (any more) holds no breakpoint.
    if (position < 1 || position > m_engine.m_codeLength)
        return;
    const auto at = static_cast<std::size_t>(position);
    if (at >= m_breakAt.size())
        m_breakAt.resize(static_cast<std::size_t>(m_engine.m_codeLength) + 2, 0);
    m_breakAt[at] = on ? 1 : 0;
}

bool tDebugger::hasBreakpoint(std::int32_t position) const
{
    const auto at = static_cast<std::size_t>(position);
    return position >= 1 && at < m_breakAt.size() && m_breakAt[at] != 0;
}

std::vector<std::int32_t> tDebugger::breakpoints() const
{
    std::vector<std::int32_t> positions;
    for (std::size_t at = 1; at < m_breakAt.size(); ++at) {
        if (m_breakAt[at] != 0)
            positions.push_back(static_cast<std::int32_t>(at));
    }
    return positions;
}

void tDebugger::clearBreakpoints()
{
    std::fill(m_breakAt.begin(), m_breakAt.end(), 0);
}

void tDebugger::setWatch(const DebugWatch &watch, bool on)
{
    const auto at = std::find(m_watches.begin(), m_watches.end(), watch);
    if (on == (at != m_watches.end()) || watch.first < 0 || watch.first > watch.last)
        return;
    if (on)
        m_watches.push_back(watch);
    else
        m_watches.erase(at);
    m_watchLow = m_cellLow = std::numeric_limits<std::int32_t>::max();
    m_watchHigh = m_cellHigh = -1;
    m_pointerWatches = false;
    for (const DebugWatch &each : m_watches) {
        m_pointerWatches = m_pointerWatches || !each.onCells();
        m_watchLow = std::min(m_watchLow, each.first);
        m_watchHigh = std::max(m_watchHigh, each.last);
        if (each.onCells()) {
            m_cellLow = std::min(m_cellLow, each.first);
            m_cellHigh = std::max(m_cellHigh, each.last);
        }
    }
    if (m_lastStop == DebugStop::Watchpoint)
        m_watchHit.reset(); // the indices moved
}

void tDebugger::clearWatches()
{
    for (std::vector<DebugWatch> watches = m_watches; !watches.empty(); watches.pop_back())
        setWatch(watches.back(), false);
}

bool tDebugger::watchJudge(std::int32_t dataPointer)
{
    bool hit = false;
    if (m_pendingCell >= 0) [[unlikely]] {
        const std::uint32_t value = m_engine.cellValue(m_pendingCell);
        const std::uint32_t mask = m_engine.m_dialect.cellMask();
        for (std::size_t i = 0; i < m_watches.size() && value != m_pendingValue && !hit; ++i) {
            const DebugWatch &watch = m_watches[i];
            if (watch.onCells() && watch.holds(m_pendingCell) && meets(watch, value, mask)) {
                hit = true;
                m_watchHit = i;
            }
        }
        m_pendingCell = -1;
    }
    if (dataPointer != m_watchPointer) {
        for (std::size_t i = 0; i < m_watches.size() && !hit; ++i) {
            const DebugWatch &watch = m_watches[i];
            const bool was = watch.holds(m_watchPointer), is = watch.holds(dataPointer);
            if (!watch.onCells() && was != is && is == (watch.kind == DebugWatch::Kind::Enter)) {
                hit = true;
                m_watchHit = i;
            }
        }
        m_watchPointer = dataPointer;
    }
    return hit;
}

void tDebugger::watchWrite(std::int32_t position, std::int32_t dataPointer)
{
    const char command = m_engine.m_code[static_cast<std::size_t>(position)];
    if (command == '+' || command == '-' || command == ',') {
        m_pendingCell = dataPointer;
        m_pendingValue = m_engine.cellValue(dataPointer);
    }
}

bool tDebugger::carefulBefore(void *context, std::int32_t position, std::int32_t dataPointer)
{
    tDebugger &debugger = *static_cast<tDebugger *>(context);
    if (debugger.watchSettle(dataPointer)) {
        debugger.m_watchStopped = true;
        return true;
    }
    debugger.watchNote(position, dataPointer);
    return false;
}

bool tDebugger::carefulAfter(void *context, std::int32_t dataPointer)
{
    tDebugger &debugger = *static_cast<tDebugger *>(context);
    debugger.m_watchStopped = debugger.watchSettle(dataPointer);
    return debugger.m_watchStopped;
}

std::vector<DebugLoop> tDebugger::loopStack()
{
    if (!m_started || m_running || m_history.empty() || m_commands < m_history.front().commands)
        return {};
    const std::int64_t origin = m_commands;
    const bool originLive = m_live;
    const int originResult = m_result;
    const DebugStop originStop = m_lastStop;
    const auto latest = static_cast<std::size_t>(
        std::upper_bound(m_history.begin(), m_history.end(), origin,
            [](std::int64_t count, const DebugSnapshot &s) { return count < s.commands; }) -
        m_history.begin() - 1);
    std::size_t from = latest;
    while (from > 0 && !m_history[from].loops)
        --from;
    std::vector<DebugLoop> loops;
    if (m_history[from].loops) {
        loops = *m_history[from].loops;
    } else {
        // The oldest snapshot: its loops follow from the brackets, their entries are gone.
        const tCodeArr &code = m_engine.m_code;
        for (std::int32_t at = m_history[from].position - 1, depth = 0; at >= 1; --at) {
            if (code[static_cast<std::size_t>(at)] == ']')
                ++depth;
            else if (code[static_cast<std::size_t>(at)] == '[' && depth-- == 0) {
                loops.insert(loops.begin(), DebugLoop {at});
                depth = 0;
            }
        }
        m_history[from].loops = std::make_shared<const std::vector<DebugLoop>>(loops);
    }
    restore(m_history[from]);
    for (std::size_t at = from; m_lastStop == DebugStop::Step; ++at) {
        const std::int64_t end = at < latest ? m_history[at + 1].commands : origin;
        if (m_commands < end)
            runLeg({.limit = end, .breakpoints = false, .loops = &loops});
        if (m_lastStop == DebugStop::Paused || m_lastStop == DebugStop::Stopped) {
            loops.clear(); // broken off: the run goes back to where it stood
            travelTo(origin);
            break;
        }
        if (at >= latest)
            break;
        m_history[at + 1].loops = std::make_shared<const std::vector<DebugLoop>>(loops);
    }
    m_live = originLive;
    m_result = originResult;
    m_lastStop = originStop;
    std::reverse(loops.begin(), loops.end());
    return loops;
}

void tDebugger::setCell(std::int32_t cell, std::uint32_t value)
{
    if (m_history.empty() || m_running || cell < 0 || cell > m_engine.m_lastCell)
        return; // nothing started, or no such cell
    // The loops around the position stay as they are: the history that leads here does not.
    const std::vector<DebugLoop> loops = loopStack();
    m_engine.setCellValue(cell, value);
    // The recorded future (input not yet read, snapshots ahead) belongs to the old tape.
    m_inputLog.resize(static_cast<std::size_t>(m_inputs));
    m_outputsShown = m_outputs;
    if (static_cast<std::size_t>(m_outputs) < m_printed.size()) {
        m_printed.resize(static_cast<std::size_t>(m_outputs));
        m_printedAt.resize(static_cast<std::size_t>(m_outputs));
    }
    m_history.clear();
    m_searchMark = {};
    takeSnapshot(m_commands);
    m_history.back().loops =
        std::make_shared<const std::vector<DebugLoop>>(loops.rbegin(), loops.rend());
}

std::int64_t tDebugger::historyStart() const
{
    return m_history.empty() ? m_commands : m_history.front().commands;
}

std::size_t tDebugger::historyBytes() const
{
    std::size_t bytes = m_inputLog.capacity();
    for (const DebugSnapshot &snapshot : m_history)
        bytes += sizeof snapshot + snapshot.tape.capacity();
    return bytes;
}

DebugStop tDebugger::runLeg(const Leg &leg)
{
    if (!m_live || m_running)
        return m_lastStop;
    tBF &engine = m_engine;
    const tOutputHook output = engine.m_outputHook;
    const tInputHook input = engine.m_inputHook;
    const tIdleHook idle = engine.m_idleHook;
    const std::int32_t interval = engine.m_idleInterval;
    engine.m_outputHook = {&tDebugger::outputHook, this};
    engine.m_inputHook = {&tDebugger::inputHook, this};
    engine.m_idleHook = {&tDebugger::idleHook, this};
    engine.m_idleInterval = IdleInterval;
    engine.m_breakFlag = false;
    m_pauseRequested = m_pauseTaken = false;
    m_brokenOff.reset();
    keepTape(m_legStart, engine.m_data); // storage reused from leg to leg
    m_legStart.dataPointer = engine.m_dataPointer;
    m_legStart.position = engine.m_instructionPointer;
    m_legStart.commands = m_commands;
    m_legStart.inputs = m_inputs;
    m_legStart.outputs = m_outputs;
    m_watching = !m_watches.empty() && !leg.trace && !leg.loops &&
        (leg.breakpoints || leg.watchesBefore >= 0);
    m_watchPointer = engine.m_dataPointer;
    m_pendingCell = -1;
    m_watchStopped = false;
    m_running = true;
    // A profiled leg that waits for input which the user breaks off is undone: so are its notes.
    const tProfile profileAtStart = leg.profiles ? m_profile : tProfile {};
    if (leg.profiles)
        m_profile.started(m_legStart.position);
    const auto restoreHooks = [&] {
        engine.m_outputHook = output;
        engine.m_inputHook = input;
        engine.m_idleHook = idle;
        engine.m_idleInterval = interval;
        m_running = false;
        m_exactRun = nullptr; // also when a hook threw out of it
        m_oneByOneCount = nullptr;
    };
    DebugStop stop = DebugStop::Stopped;
    try {
        stop = runLegInside(leg);
    } catch (...) {
        // A hook that throws (input the host could not read) leaves a command half run: the
        // run goes back to where the leg began, a state it surely had.
        restoreHooks();
        restore(m_legStart);
        m_engine.m_breakFlag = false;
        m_lastStop = DebugStop::Paused;
        throw;
    }
    restoreHooks();
    const bool brokenOff = m_brokenOff.has_value(); // its replay notes its own profile
    const DebugStop finished = finishLeg(stop, leg.profiles ? &profileAtStart : nullptr);
    if (leg.profiles && !brokenOff)
        m_profile.stopped(std::clamp(m_engine.m_instructionPointer, 1, m_engine.m_codeLength + 1));
    return finished;
}

void tDebugger::breakOffInput(bool pause)
{
    if (!m_running)
        return;
    m_brokenOff = pause ? DebugStop::Paused : DebugStop::Stopped;
    m_engine.m_breakFlag = true;
}

DebugStop tDebugger::finishLeg(DebugStop stop, const tProfile *profileAtStart)
{
    if (m_brokenOff) {
        // The command that waited must not count as run, and the state within it is no state
        // of the run. The run stands before that "," instead: replayed one by one from the
        // latest state known from this leg (the snapshots it took are all from before the
        // wait), reading again what the user gave and showing nothing twice.
        stop = *m_brokenOff;
        m_brokenOff.reset();
        // A profiled leg's notes are undone too, and made again from where it began.
        const bool fromSnapshot = !profileAtStart && !m_history.empty() &&
            m_history.back().commands > m_legStart.commands;
        if (profileAtStart)
            m_profile = *profileAtStart;
        restore(fromSnapshot ? m_history.back() : m_legStart);
        runLeg({.limit = NoLimit - 1,
            .breakpoints = false,
            .beforeWait = true,
            .profiles = profileAtStart != nullptr});
    }
    if (stop == DebugStop::Stopped && m_pauseTaken)
        stop = DebugStop::Paused;
    m_pauseTaken = false;
    m_engine.m_breakFlag = false;
    m_pauseRequested = false;
    m_live = stop != DebugStop::Ended && stop != DebugStop::Fault && stop != DebugStop::Stopped;
    if (stop == DebugStop::Ended)
        m_engine.m_instructionPointer = m_engine.m_codeLength + 1;
    return m_lastStop = stop;
}

// A one-by-one leg with its own observer (a search's or the loops' replay).
template<class Run>
DebugStop tDebugger::runObserved(Run &run)
{
    tBF &engine = m_engine;
    run.nextEvent = std::min(run.limit, m_commands + ExactIdleEvery);
    m_oneByOneCount = &run.commands;
    const Halt halt = interpretCommands(
        engine, engine.m_instructionPointer, engine.m_codeLength, engine.m_dataPointer, run);
    m_oneByOneCount = nullptr;
    engine.m_instructionPointer = halt.position;
    engine.m_dataPointer = halt.dataPointer;
    m_commands = run.commands;
    if (halt.stop == Stop::Ended)
        return DebugStop::Ended;
    if (halt.stop == Stop::Fault) {
        --m_commands; // the failing command did not run
        m_result = halt.result;
        return DebugStop::Fault;
    }
    return engine.m_breakFlag ? DebugStop::Stopped : run.reason;
}

// Watchpoints on the optimised path. The translation's guards already send every block whose
// cells may leave the tape to the careful path, which runs it one by one, the watches seeing
// each command. Watches on cells alone care only for writes: the leg runs a translation whose
// guards also send every block (and Repeat round) that may write a watched cell that way, so
// reads, scans and the pointer pass the watched cells at full speed. With a watch on the
// pointer a leg runs a translation made for the part of the tape on one side of the watched
// cells as if it were the whole tape, so exactly the blocks that can reach a watched cell or
// take the pointer into the watched span go the careful way. The pointer crossing to the
// other side leaves the window; the leg then goes one by one until it can enter the other
// side's.
DebugStop tDebugger::runLegInside(const Leg &leg)
{
    tBF &engine = m_engine;
    const std::int32_t length = engine.m_codeLength;
    // Only a leg without a count limit can use the optimised path, which stops at positions.
    const bool mayRunFast = leg.limit == NoLimit && !leg.lastBreakpoint;
    const Program *program = nullptr;
    const NativeCode *native = nullptr;
    CellWindow window;
    // Hand over as soon as can be: a window was left, or a watching leg finds the last
    // leg's translations still there (each leg that stops at a watch would otherwise run
    // its first commands one by one).
    bool translated = m_watching && (m_windows[0].program || m_windows[1].program);
    Side sides[2];
    bool stopsTested = true; // at the position the leg stands: at its start only
    const std::int64_t legStart = m_commands;
    if (leg.trace) {
        TraceRun run {*this, *leg.trace, m_commands, leg.limit};
        return runObserved(run);
    }
    if (leg.loops) {
        LoopRun run {*this, *leg.loops, m_commands, leg.limit};
        return runObserved(run);
    }
    for (;;) {
        const std::int32_t position = engine.m_instructionPointer;
        if (position > length)
            return DebugStop::Ended;
        if (program && program->entries[static_cast<std::size_t>(position)] >= 0) {
            window.left = false;
            const CountedRun run = runCounted(engine, *program, m_commands, native,
                m_watching ? &window : nullptr, leg.profiles ? m_profile.jumps.data() : nullptr);
            m_commands = run.commands;
            switch (run.stop) {
            case Stop::Ended: return DebugStop::Ended;
            case Stop::Fault: m_result = run.result; return DebugStop::Fault;
            case Stop::Break:
                if (engine.m_breakFlag)
                    return DebugStop::Stopped;
                if (m_watchStopped) // after the last command the run has simply ended
                    return engine.m_instructionPointer > length ? DebugStop::Ended
                                                                : DebugStop::Watchpoint;
                if (!window.left)
                    return engine.m_instructionPointer == leg.target ? DebugStop::Target
                                                                     : DebugStop::Breakpoint;
                program = nullptr; // on one by one, to the other side's window
                stopsTested = false;
                continue;
            }
        }
        // One by one: to the end of the leg, or until the optimised path can take over (the
        // stops at the position where it does were tested).
        ExactRun exact {*this, leg, m_commands};
        exact.first = stopsTested;
        stopsTested = true;
        exact.nextIdle = m_commands + ExactIdleEvery;
        if (program) {
            exact.entries = &program->entries;
            exact.handOverFrom = m_commands;
        } else if (mayRunFast && m_translatable) {
            // A profiled leg counts on the optimised path from the start.
            const std::int64_t first = leg.profiles ? 0 : exactFirst;
            exact.handOverFrom = translated  ? m_commands
                : first < NoLimit - legStart ? legStart + first
                                             : NoLimit;
        }
        m_exactRun = &exact;
        m_oneByOneCount = &exact.commands;
        const Halt halt = interpretCommands(engine, position, length, engine.m_dataPointer, exact);
        m_exactRun = nullptr;
        m_oneByOneCount = nullptr;
        engine.m_instructionPointer = halt.position;
        engine.m_dataPointer = halt.dataPointer;
        m_commands = exact.commands;
        switch (halt.stop) {
        case Stop::Ended: return DebugStop::Ended;
        case Stop::Fault:
            --m_commands; // the failing command did not run
            m_result = halt.result;
            return DebugStop::Fault;
        case Stop::Break:
            if (!exact.handsOver)
                return engine.m_breakFlag ? DebugStop::Stopped : exact.reason;
            break;
        }
        if (m_watching) {
            // The pointer is outside the watched cells (the hand-over waits for that). Each
            // side's translation is looked up once a leg: the stops stay as they are.
            const bool left = !m_pointerWatches || engine.m_dataPointer < m_watchLow;
            if (!sides[left ? 0 : 1].program)
                sides[left ? 0 : 1].program = windowTranslationFor(
                    leg.target, engine.m_dataPointer, leg.profiles, sides[left ? 0 : 1]);
            const Side &side = sides[left ? 0 : 1];
            program = side.program;
            native = side.native;
            window.base = side.base;
            window.watch = {this, &tDebugger::carefulBefore, &tDebugger::carefulAfter};
        } else if (!program) {
            program = translationFor(leg.target);
            native = program ? nativeFor(*program, leg.profiles, m_natives) : nullptr;
        }
        translated = true;
        m_translatable = program != nullptr; // brackets not all paired: one by one
    }
}

const Program *tDebugger::translationFor(std::int32_t target)
{
    std::vector<bool> stops(static_cast<std::size_t>(m_engine.m_codeLength) + 2, false);
    for (std::size_t at = 0; at < m_breakAt.size() && at < stops.size(); ++at)
        stops[at] = m_breakAt[at] != 0;
    if (target >= 1 && target <= m_engine.m_codeLength)
        stops[static_cast<std::size_t>(target)] = true;
    if (m_program && stops == m_programStops)
        return &*m_program;
    TranslationOptions options = optionsFor(m_engine);
    options.stops = stops;
    options.countsCommands = true;
    m_program = translateProgram(m_engine.m_code, m_engine.m_jumps, m_engine.m_codeLength, options);
    m_programStops = std::move(stops);
    m_natives.reset();
    return m_program ? &*m_program : nullptr;
}

void tDebugger::NativeCodes::reset()
{
    *this = {};
}

const NativeCode *tDebugger::nativeFor(const Program &program, bool profiles, NativeCodes &codes)
{
    if (m_engine.m_path != tEnginePath::Fastest)
        return nullptr;
    const std::size_t which = profiles ? 1 : 0;
    if (!codes.tried[which]) {
        codes.tried[which] = true;
        codes.code[which] = compileNative(program, true, MostNativeCodeBytes, profiles);
    }
    return codes.code[which].get();
}

const Program *tDebugger::windowTranslationFor(
    std::int32_t target, std::int32_t dataPointer, bool profiles, Side &side)
{
    const std::int32_t lastCell = optionsFor(m_engine).lastCell;
    // Watches on cells alone care for writes only: one translation for the whole tape, which
    // guards the watched cells.
    const bool guarding = !m_pointerWatches;
    const bool left = guarding || dataPointer < m_watchLow;
    WindowTranslation &made = m_windows[left ? 0 : 1];
    const std::int32_t base = left ? 0 : m_watchHigh + 1;
    // Watched cells past the tape's end (set for a larger tape) leave all of it to the left.
    const std::int32_t windowLast = guarding ? lastCell
        : left                               ? std::min(m_watchLow - 1, lastCell)
                                             : lastCell - m_watchHigh - 1;
    const CellRange guarded = guarding ? CellRange {m_cellLow, m_cellHigh} : NoCells;
    std::vector<bool> stops(static_cast<std::size_t>(m_engine.m_codeLength) + 2, false);
    for (std::size_t at = 0; at < m_breakAt.size() && at < stops.size(); ++at)
        stops[at] = m_breakAt[at] != 0;
    if (target >= 1 && target <= m_engine.m_codeLength)
        stops[static_cast<std::size_t>(target)] = true;
    if (!made.program || made.base != base || made.lastCell != windowLast || made.stops != stops ||
        made.guarded != guarded) {
        TranslationOptions options = optionsFor(m_engine);
        options.lastCell = windowLast;
        options.guarded = guarded;
        options.stops = stops;
        options.countsCommands = true;
        made.program =
            translateProgram(m_engine.m_code, m_engine.m_jumps, m_engine.m_codeLength, options);
        made.natives.reset();
        made.base = base;
        made.lastCell = windowLast;
        made.guarded = guarded;
        made.stops = std::move(stops);
    }
    side.base = base;
    side.native = made.program ? nativeFor(*made.program, profiles, made.natives) : nullptr;
    return made.program ? &*made.program : nullptr;
}

void tDebugger::takeSnapshot(std::int64_t commands)
{
    DebugSnapshot snapshot {{}, 0, 0, m_engine.m_dataPointer, m_engine.m_instructionPointer,
        commands, m_inputs, m_outputs, nullptr};
    if (m_history.size() >= Snapshots) {
        snapshot.tape = std::move(m_history.front().tape); // its storage, reused
        m_history.pop_front();
    }
    keepTape(snapshot, m_engine.m_data);
    m_history.push_back(std::move(snapshot));
}

void tDebugger::noteState()
{
    const std::int64_t commands = m_engine.m_commandCount;
    if (m_history.empty() || commands >= m_history.back().commands + snapshotSpacing)
        takeSnapshot(commands);
}

void tDebugger::restore(const DebugSnapshot &snapshot)
{
    m_engine.m_data.assign(snapshot.tapeBytes, 0);
    std::copy(snapshot.tape.begin(), snapshot.tape.end(),
        m_engine.m_data.begin() + static_cast<std::ptrdiff_t>(snapshot.tapeFrom));
    m_engine.m_dataPointer = snapshot.dataPointer;
    m_engine.m_instructionPointer = snapshot.position;
    m_commands = snapshot.commands;
    m_inputs = snapshot.inputs;
    m_outputs = snapshot.outputs;
    m_result = ResultOk;
    m_live = true;
    m_lastStop = DebugStop::Step; // where a step back lands, replayed on from here or not
}

bool tDebugger::travelTo(std::int64_t commands)
{
    auto after = std::upper_bound(m_history.begin(), m_history.end(), commands,
        [](std::int64_t count, const DebugSnapshot &s) { return count < s.commands; });
    if (after == m_history.begin())
        return false;
    restore(*std::prev(after));
    if (m_commands < commands)
        runLeg({.limit = commands, .breakpoints = false});
    return true;
}

void tDebugger::outputHook(void *context, std::uint8_t byte)
{
    tDebugger &debugger = *static_cast<tDebugger *>(context);
    const auto index = static_cast<std::size_t>(debugger.m_outputs);
    if (index == debugger.m_printed.size() && index < MostRecordedOutputs) {
        // One by one the count has this command in it already.
        const std::int64_t count = debugger.m_oneByOneCount ? *debugger.m_oneByOneCount - 1
                                                            : debugger.m_engine.m_commandCount;
        debugger.m_printed.push_back(static_cast<char>(byte));
        debugger.m_printedAt.push_back(count);
    }
    // Output the host has shown already comes again only on a replay: it is not shown twice.
    if (debugger.m_outputs++ < debugger.m_outputsShown)
        return;
    debugger.m_outputsShown = debugger.m_outputs;
    if (debugger.hostOutput.routine)
        debugger.hostOutput(byte);
}

std::uint8_t tDebugger::inputHook(void *context)
{
    tDebugger &debugger = *static_cast<tDebugger *>(context);
    const auto index = static_cast<std::size_t>(debugger.m_inputs);
    if (index < debugger.m_inputLog.size()) {
        ++debugger.m_inputs;
        const std::int16_t logged = debugger.m_inputLog[index];
        debugger.m_engine.m_inputEnded = logged == EndOfInput;
        return static_cast<std::uint8_t>(logged == EndOfInput ? 0 : logged);
    }
    // The host may show the count while it waits: on the exact path it is known to the
    // command (the optimised path has it as of its last idle call).
    if (debugger.m_exactRun) // counted already, though it has not run yet
        debugger.m_engine.m_commandCount = debugger.m_exactRun->commands - 1;
    const std::uint8_t byte = debugger.hostInput.routine ? debugger.hostInput() : 0;
    // A wait the host broke off read nothing the user gave: a replay asks again.
    if (!debugger.m_engine.m_breakFlag)
        debugger.m_inputLog.push_back(debugger.m_engine.m_inputEnded ? EndOfInput : byte);
    ++debugger.m_inputs;
    return byte;
}

void tDebugger::idleHook(void *context)
{
    tDebugger &debugger = *static_cast<tDebugger *>(context);
    debugger.noteState();
    if (debugger.hostIdle.routine)
        debugger.hostIdle();
    // A break the host set (its stop) ends the run even when a pause was asked for too.
    if (debugger.m_pauseRequested && !debugger.m_engine.m_breakFlag) {
        debugger.m_engine.m_breakFlag = true;
        debugger.m_pauseTaken = true;
    }
}
