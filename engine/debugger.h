#pragma once

#include "optimizer.h"
#include "profile.h"
#include "u_Brainfuck.h"

class NativeCode;
struct CellWindow;

#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Why a debugged run stands where it stands.
enum class DebugStop {
    Started, // before the first command
    Step, // the requested number of commands ran (a step, a step back)
    Breakpoint, // before a breakpoint's command
    Target, // at the requested position (run to the caret, step over, step out)
    Paused, // the pause request
    HistoryStart, // stepping back reached the oldest state the history holds
    Ended, // past the last command
    Fault, // a command failed; result() says how
    Stopped, // the host's break flag ended the run
    Watchpoint, // just after the command that met a watchpoint (lastWatch() says which)
};

// A data breakpoint: on the cells first .. last, or on the data pointer's way into or out of
// them.
struct DebugWatch
{
    enum class Kind : std::uint8_t {
        Change, // a command changed a cell's value
        Value, // a command changed a cell's value and the new value meets the relation
        Enter, // a command moved the pointer from outside the cells onto one of them
        Leave, // a command moved the pointer from one of the cells to outside them
    };
    enum class Relation : std::uint8_t { Equal, NotEqual, Less, Greater };
    Kind kind = Kind::Change;
    std::int32_t first = 0;
    std::int32_t last = 0;
    Relation relation = Relation::Equal;
    // Compared with a cell's value at the run's width, read as signed when isSigned.
    std::int64_t value = 0;
    bool isSigned = false;

    bool operator==(const DebugWatch &) const = default;
    bool onCells() const { return kind == Kind::Change || kind == Kind::Value; }
    bool holds(std::int32_t cell) const { return cell >= first && cell <= last; }
};

// A loop around the run's position: its "[", the value its cell had when the run entered
// it, and the rounds it finished since (both -1 when the history does not reach the entry).
struct DebugLoop
{
    std::int32_t position = 0;
    std::int64_t entryValue = -1;
    std::int64_t rounds = -1;

    bool operator==(const DebugLoop &) const = default;
};

// One state of a run, as the history keeps it.
struct DebugSnapshot
{
    // The tape's bytes from tapeFrom on, up to its last non-zero byte; all others are zero.
    // Most programs use a few cells of a large tape: a full copy every few million commands
    // cost a debugged run a twentieth of its time in fresh pages.
    tDataArr tape;
    std::size_t tapeFrom = 0;
    std::size_t tapeBytes = 0; // the whole tape's
    std::int32_t dataPointer = 0;
    std::int32_t position = 0;
    std::int64_t commands = 0;
    std::int64_t inputs = 0; // bytes read so far
    std::int64_t outputs = 0; // bytes written so far
    // The loops around position there, innermost last, once a loopStack() worked them out.
    std::shared_ptr<const std::vector<DebugLoop>> loops;
};

// Runs the engine's program (loaded, brackets matched) under a debugger: it stops before any
// command with the run's exact state, at breakpoints on every pass, after a number of
// commands, at a position, on request, and it steps backwards.
//
// Long stretches run on the optimised path, translated with the breakpoints as stops and the
// commands counted, so a run to a breakpoint goes at nearly full speed; short ones and every
// step run command by command. The history keeps snapshots of the run every so many commands
// and the input bytes read; a step back restores the snapshot before the wanted state and
// replays from it. Replayed commands read the recorded input and write no output a second time.
class tDebugger
{
public:
    // The commands between snapshots, and how many snapshots the history keeps (the oldest
    // go first): the history reaches back at least (Snapshots - 1) * SnapshotSpacing
    // commands, and a step back replays fewer than SnapshotSpacing plus one idle interval's
    // commands.
    static constexpr std::int64_t SnapshotSpacing = std::int64_t {1} << 22;
    static constexpr std::size_t Snapshots = 1024;
    static constexpr std::int64_t NoLimit = std::numeric_limits<std::int64_t>::max();

    // The hooks are the host's (none set: output dropped, input 0, nothing when idle): the
    // debugger puts its own in the engine during each leg of the run and calls these from them.
    explicit tDebugger(tBF &engine);
    ~tDebugger();
    tDebugger(const tDebugger &) = delete;
    tDebugger &operator=(const tDebugger &) = delete;

    tOutputHook hostOutput;
    tInputHook hostInput;
    tIdleHook hostIdle;
    // Commands a leg runs one by one before it translates the program to go on at full speed:
    // steps and short loops never pay for a translation. 0 takes the optimised path from the
    // first place it can start at.
    std::int64_t exactFirst = std::int64_t {1} << 20;
    // The commands at least between snapshots (SnapshotSpacing; tests take fewer, to have
    // many snapshots in a short run).
    std::int64_t snapshotSpacing = SnapshotSpacing;

    // A fresh run of the engine's program, as Run starts it, paused before its first command.
    void start();
    // Whether the run can go on: started and neither ended, failed nor stopped.
    bool isLive() const { return m_live; }
    // Whether a leg of the run is in progress (hooks are being called from within it).
    bool isRunning() const { return m_running; }

    // Run control; each runs one leg and says why it stopped. Anything a host hook throws
    // passes through, the run paused again where the leg began.
    DebugStop stepInto();
    // From a "[": the whole loop; otherwise one command.
    DebugStop stepOver();
    // To just after the "]" of the loop around the current command (to the end outside loops).
    DebugStop stepOut();
    // To the next time the run stands before position (or a breakpoint, or the end).
    DebugStop runTo(std::int32_t position);
    // To a breakpoint or the end.
    DebugStop resume();
    // On past every breakpoint until the run ends; returns what Run returns for it.
    int runToEnd();
    // As resume, noting every command run into the profile (on the optimised path, in machine
    // code where built).
    DebugStop profiledResume();
    // The commands the profiled legs since start ran: tProfile::commandCounts of it.
    const tProfile &profile() const { return m_profile; }
    DebugStop stepBack();
    // Back to the last time the run stood before a breakpoint.
    DebugStop reverseResume();

    // Where a cell's value came from and where it goes. A command writes the cell when it
    // runs with the data pointer there and is a '+', '-' or ',' (a ',' counts even when the
    // end of input left the cell as it was: that is where its value was settled). It reads
    // the cell when it is a '+' or '-' there (each changes the value it finds), a '.' there,
    // or a '[' or ']' there (each tests it); a ',' does not read. Both ignore breakpoints.
    // Asked again for the same cell where the last such ask left the run, each goes on past
    // the command it found.
    //
    // Back to just after the last command before the current point that wrote cell: Target,
    // the command found the one before the run's position in time. HistoryStart when the
    // history holds no such write, Paused or Stopped when the host broke the search off: the
    // run then stays where and as it stood (lastStop unchanged).
    DebugStop lastChange(std::int32_t cell);
    // On to just before the next command that reads cell (the current one included): Target.
    // Otherwise the run went on as resume does without breakpoints (Ended, Fault, Paused...).
    DebugStop firstReadAfter(std::int32_t cell);
    // The position of the command the last of them found, while the run stands where that
    // left it (after it, or before it); 0 otherwise.
    std::int32_t foundCommand() const
    {
        return m_searchMark.commands == m_commands ? m_searchMark.position : 0;
    }
    // Called during a leg (from a hook): the leg stops before the next command it can.
    void requestPause() { m_pauseRequested = true; }
    // Called from the host's input hook when the user broke the wait off (pause or stop): no
    // byte was given, so the leg is undone and the run stands where it began, paused or (for
    // a stop) ended there. A replay never meets a wait that was broken off.
    void breakOffInput(bool pause);

    void setBreakpoint(std::int32_t position, bool on);
    bool hasBreakpoint(std::int32_t position) const;
    std::vector<std::int32_t> breakpoints() const;
    void clearBreakpoints();

    // Watchpoints stop legs that stop at breakpoints, just after the command that met them,
    // and reverseResume goes back to them as to breakpoints. Setting one that is there
    // already (or removing one that is not) changes nothing.
    void setWatch(const DebugWatch &watch, bool on);
    const std::vector<DebugWatch> &watches() const { return m_watches; }
    void clearWatches();
    // The index in watches() of the one that made the run stop where it stands, if it did.
    std::optional<std::size_t> lastWatch() const
    {
        return m_lastStop == DebugStop::Watchpoint ? m_watchHit : std::nullopt;
    }

    // The loops around the current command, innermost first. Worked out by replaying from
    // the latest snapshot whose loops are known (each snapshot passed keeps its own), so it
    // is exact wherever stepping back put the run; the run stands where and as it stood.
    std::vector<DebugLoop> loopStack();
    // During lastChange (from a hook): the share of the history searched so far, 0 .. 1.
    double searchProgress() const { return m_searchProgress; }

    // Changes a cell while paused to value cut to the cells' width. The run goes on from the
    // changed tape; the history restarts here, since the states before it no longer lead to
    // this one.
    void setCell(std::int32_t cell, std::uint32_t value);

    DebugStop lastStop() const { return m_lastStop; }
    int result() const { return m_result; }
    std::int32_t position() const { return m_engine.m_instructionPointer; }
    std::int32_t dataPointer() const { return m_engine.m_dataPointer; }
    const tDataArr &tape() const { return m_engine.m_data; }
    // The dialect the run speaks (fixed from start to start).
    const tDialect &dialect() const { return m_engine.m_dialect; }
    // The value of a cell (0 .. the last cell) at the run's width.
    std::uint32_t cellValue(std::int32_t cell) const { return m_engine.cellValue(cell); }
    std::int64_t commands() const { return m_commands; }
    std::int64_t inputs() const { return m_inputs; }
    std::int64_t outputs() const { return m_outputs; }
    // What the run printed since start (the part before the current point and, after a step
    // back, the part it will print again), at most MostRecordedOutputs bytes, and for each
    // byte the count of commands before the '.' that printed it. An edited cell drops the part
    // ahead.
    // 36 MB with the counts at most.
    static constexpr std::size_t MostRecordedOutputs = std::size_t {1} << 22;
    const std::string &printed() const { return m_printed; }
    const std::vector<std::int64_t> &printedAt() const { return m_printedAt; }
    // To just after the '.' that printed byte index of printed(): Target, the '.' then the
    // found command. HistoryStart when the history no longer reaches it (the run stays).
    DebugStop travelToOutput(std::size_t index);
    // The oldest command count the history can step back to.
    std::int64_t historyStart() const;
    // The history's memory, in bytes.
    std::size_t historyBytes() const;

private:
    struct CellTrace;
    struct Leg
    {
        std::int64_t limit = NoLimit; // stop once this many commands have run
        std::int32_t target = 0; // stop before this position (0: none)
        bool breakpoints = true;
        // Reverse search: note the last breakpoint passed instead of stopping there.
        std::int64_t *lastBreakpoint = nullptr;
        // Stop before a "," that has no byte in the input log (one that would wait).
        bool beforeWait = false;
        // Note (or stop before) the commands that touch a cell: one by one, stopping at no
        // breakpoint or target.
        CellTrace *trace = nullptr;
        // Note the commands run into the profile.
        bool profiles = false;
        // Keep the loops around the position up to date, one by one (see loopStack).
        std::vector<DebugLoop> *loops = nullptr;
        // Reverse search: note watch stops too, those before this count.
        std::int64_t watchesBefore = -1;
    };
    // What the last lastChange or firstReadAfter found, so that asking again goes past it.
    struct SearchMark
    {
        bool change = false; // lastChange; firstReadAfter otherwise
        std::int32_t cell = -1;
        std::int64_t commands = -1; // where it left the run
        std::int32_t position = 0; // of the command found
    };
    struct ExactRun;
    struct TraceRun;
    struct LoopRun;
    // The watches' checks for the run one by one, where every command is seen.
    bool watchSettle(std::int32_t dataPointer)
    {
        // Mostly nothing to judge: no watched cell written, the pointer watched by none.
        if (m_pendingCell < 0 && (!m_pointerWatches || dataPointer == m_watchPointer)) {
            m_watchPointer = dataPointer;
            return false;
        }
        return watchJudge(dataPointer);
    }
    bool watchJudge(std::int32_t dataPointer);
    static bool carefulBefore(void *context, std::int32_t position, std::int32_t dataPointer);
    static bool carefulAfter(void *context, std::int32_t dataPointer);
    void watchNote(std::int32_t position, std::int32_t dataPointer)
    {
        if (dataPointer >= m_cellLow && dataPointer <= m_cellHigh) [[unlikely]]
            watchWrite(position, dataPointer);
    }
    void watchWrite(std::int32_t position, std::int32_t dataPointer);
    bool watchBefore(std::int32_t position, std::int32_t dataPointer)
    {
        const bool hit = watchSettle(dataPointer);
        watchNote(position, dataPointer);
        return hit;
    }
    // The translation for the tape on the side of the watched cells that dataPointer is on
    // (outside them), its machine code and the window's base in side.
    struct Side
    {
        const Program *program = nullptr;
        const NativeCode *native = nullptr;
        std::int32_t base = 0;
    };
    // profiles: for a profiled leg, whose machine code notes the jumps.
    const Program *windowTranslationFor(
        std::int32_t target, std::int32_t dataPointer, bool profiles, Side &side);

    DebugStop runLeg(const Leg &leg);
    DebugStop runLegInside(const Leg &leg);
    template<class Run>
    DebugStop runObserved(Run &run);
    // profileAtStart: a profiled leg's profile as it began.
    DebugStop finishLeg(DebugStop stop, const tProfile *profileAtStart);
    const Program *translationFor(std::int32_t target);
    // A counting translation's machine code, for legs that profile and for those that do not,
    // each made when first wanted.
    struct NativeCodes
    {
        std::unique_ptr<NativeCode> code[2]; // by profiles
        bool tried[2] = {false, false};
        void reset();
    };
    const NativeCode *nativeFor(const Program &program, bool profiles, NativeCodes &codes);
    void restore(const DebugSnapshot &snapshot);
    void takeSnapshot(std::int64_t commands);
    void noteState(); // a snapshot when the spacing since the last one is reached
    // Restores the latest snapshot at or before commands and replays up to commands; false
    // when the history does not reach back that far.
    bool travelTo(std::int64_t commands);

    static void outputHook(void *context, std::uint8_t byte);
    static std::uint8_t inputHook(void *context);
    static void idleHook(void *context);

    tBF &m_engine;
    std::vector<std::uint8_t> m_breakAt; // per position: 1 where a breakpoint stands
    std::int64_t m_commands = 0, m_inputs = 0, m_outputs = 0;
    std::int64_t m_outputsShown = 0; // outputs the host has seen: replays show none again
    // The bytes read, and EndOfInput where the host's input had ended.
    static constexpr std::int16_t EndOfInput = -1;
    std::vector<std::int16_t> m_inputLog;
    std::deque<DebugSnapshot> m_history; // by command count, oldest first
    bool m_started = false, m_live = false, m_running = false;
    bool m_pauseRequested = false, m_pauseTaken = false; // asked for; made the leg stop
    std::optional<DebugStop> m_brokenOff; // how the host broke an input wait off in this leg
    ExactRun *m_exactRun = nullptr; // the one-by-one stretch going on, if any
    const std::int64_t *m_oneByOneCount = nullptr; // its count, or a trace run's
    std::string m_printed;
    std::vector<std::int64_t> m_printedAt;
    DebugSnapshot m_legStart; // where the leg in progress began
    DebugStop m_lastStop = DebugStop::Started;
    SearchMark m_searchMark;
    tProfile m_profile;
    int m_result = ResultOk;
    // The counting translation and the stops it was made for.
    std::optional<Program> m_program;
    std::vector<bool> m_programStops;
    NativeCodes m_natives; // m_program as machine code, where the build has it
    bool m_translatable = true;
    // Watchpoints, and the cells from the lowest to the highest any of them covers (empty
    // when there are none): the optimised path runs with the pointer outside those only.
    std::vector<DebugWatch> m_watches;
    std::int32_t m_watchLow = 0, m_watchHigh = -1;
    std::int32_t m_cellLow = 0, m_cellHigh = -1; // the same for the cell watches
    bool m_pointerWatches = false; // some watch the pointer's way in or out
    std::optional<std::size_t> m_watchHit;
    std::optional<std::size_t> m_watchNoted; // a reverse search's latest note, if a watch's
    bool m_watchStopped = false; // the optimised path's careful part stopped for a watch
    bool m_watching = false; // the leg in progress stops at watchpoints
    std::int32_t m_watchPointer = 0; // the data pointer the checks saw last
    std::int32_t m_pendingCell = -1; // a watched cell the last command may have changed
    std::uint32_t m_pendingValue = 0; // and its value before that command
    // Translations for the tape left and right of the watched cells.
    struct WindowTranslation
    {
        std::int32_t base = 0;
        std::int32_t lastCell = -1;
        CellRange guarded = NoCells;
        std::vector<bool> stops;
        std::optional<Program> program;
        NativeCodes natives;
    };
    WindowTranslation m_windows[2];
    double m_searchProgress = 0;
};
