#pragma once

#include "configloader.h"
#include "debugger.h"
#include "sourceprep.h"
#include "windowstate.h"

#include <QElapsedTimer>

#include <QList>
#include <QObject>
#include <QTextCursor>
#include <QTextEdit>
#include <array>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CodePane;
class Console;
class DebuggerWindow;
class QAction;
class QTextDocument;
class QWidget;

// The program under the debugger and all that is shown of it: the engine's debugger, the
// breakpoints, the position map of the text the program was compiled from, the current
// command's mark, the debugger window with its state line and live counters.
//
// The session's program stays the one compiled: after the code changes, the run-control keys
// start the changed code afresh (the window's state table says so), and the state line keeps
// naming lines and columns of the compiled text.
class DebugSession : public QObject
{
    Q_OBJECT
public:
    // What the session needs of the window.
    struct Host
    {
        // Compiles the code pane as the compile command does: the bracket result (0: paired),
        // or -1 when nothing was compiled.
        std::function<int()> compile;
        // Whether a plain run or a leg is going on.
        std::function<bool()> isBusy;
        // A leg begins (true) or has ended (false).
        std::function<void(bool running)> setLegRunning;
        // Something the window's state depends on changed.
        std::function<void()> stateChanged;
        // The error table's text for a result code.
        std::function<QString(int result)> errorText;
        // Runs a handler of the debugger window's own controls as the main window runs its
        // handlers: what it throws (a bad "#" number in the input box) is reported there.
        std::function<void(const std::function<void()> &handler)> runGuarded;
    };

    DebugSession(tBF &engine, CodePane &code, Console &console, QWidget &window, Host host);
    ~DebugSession() override;

    // The texts and the run-control actions the debugger window shows.
    void setTexts(const DebuggerTexts &texts, const QList<QAction *> &commands);

    // A debugged run exists, live or ended (it can still be stepped back through).
    bool exists() const { return m_debugger != nullptr; }
    bool isLive() const { return m_debugger && m_debugger->isLive(); }
    bool isLegRunning() const { return m_inLeg; }
    bool isWaiting() const { return m_waiting; }
    // Whether the code changed since the session's program was compiled.
    bool codeChanged() const { return m_codeChanged; }
    const tDebugger *debugger() const { return m_debugger.get(); }
    // Sessions started so far, and the output bytes this one has passed to the console.
    int starts() const { return m_starts; }
    std::int64_t outputsShown() const { return m_outputsShown; }
    DebuggerWindow *window() const { return m_window; }

    // Compiles and starts the code under the debugger (ending the session there is), showing
    // the debugger window; false when there is nothing to debug or the brackets do not pair.
    bool startAfresh();
    // Whether command, given to a run just started, has nothing to do: the run stands before
    // its first command, where F10 and F11 stop, and so do F5 at a breakpoint there and
    // Ctrl+F10 with the caret there.
    bool isDoneAtStart(WindowCommand command) const;
    // Does command (a run-control command, breakpoints included) on the session as it is.
    void act(WindowCommand command);
    // Ends the session (its run's last line closed); false while a leg runs.
    bool end();
    // Runs the program from its start with a profile to a breakpoint or the end (on from
    // where it stands when all of the run so far had the profile): the code pane then shows
    // how often each command ran.
    void runWithProfile();
    // To just after the '.' that printed byte index of the run's output, the '.' marked.
    void goToOutput(qint64 index);
    // The profile's counts per command position (empty: no profile shown).
    const std::vector<std::int64_t> &profileCounts() const { return m_counts; }
    // Shows the debugger window beside the main window.
    void showWindow();

    // The code pane's text was edited (the program no longer matches), or replaced as a whole
    // (its breakpoints go).
    void codeEdited();
    void textReplaced();
    // A compile of the code pane, whatever its result.
    void codeCompiled() { m_codeChanged = false; }

    // The session's marks in the code pane: the current line under everything, the current
    // command over everything; editorMarks lie between.
    void showMarks(const QList<QTextEdit::ExtraSelection> &editorMarks);
    // Shows the state line, counters, notices, tape and breakpoint list.
    void refresh();
    // The state line's line and column (from 1) of a command of the session's program, in the
    // text it was compiled from; {0, 0} for none.
    std::pair<int, int> lineAndColumnOf(std::int32_t position) const;
    // The source offsets of the breakpoints.
    QList<int> breakpointOffsets() const;

signals:
    // The user asked to see the bracket that keeps the program from starting.
    void bracketFaultChosen();

private:
    void writeOutput(std::uint8_t byte);
    // A mark of the one character at source offset.
    static QTextEdit::ExtraSelection characterMark(QTextDocument *document, int offset);
    // The source offset of a breakpoint's command.
    int sourceOffset(const QTextCursor &breakpoint) const;
    bool start();
    void runLeg(const std::function<DebugStop(tDebugger &)> &leg);
    void finishLeg();
    std::uint8_t readInput();
    void idle();
    void runToCaret();
    // To the last change of cell (back) or its next read, the command found marked.
    void searchCell(std::int32_t cell, bool back);
    // Sets a watchpoint of kind on the cells first .. last, or takes it away when there is
    // one (for a value: any on those cells; otherwise the value is asked for).
    void toggleWatch(int first, int last, int kind);
    QString watchText(const DebugWatch &watch) const;
    void toggleBreakpoint();
    void applyBreakpoints();
    void keepBreakpointsOnTheirCommands();
    void createWindow();
    // Runs handler through the host's runGuarded, when it has one.
    void guarded(const std::function<void()> &handler);
    void placeWindow();
    void windowClosed();
    qint64 runNanoseconds() const;
    // The profile's counts, the code pane's heat and gutter figures and the loop list, made
    // again from the debugger's profile.
    void showProfile();
    void clearProfile();
    QString stateText() const;
    std::int64_t commandsRun() const;

    tBF &m_engine;
    CodePane &m_code;
    Console &m_console;
    QWidget &m_mainWindow;
    Host m_host;
    DebuggerTexts m_texts;
    QList<QAction *> m_commands;
    DebuggerWindow *m_window = nullptr; // a child of the main window, made when first shown

    std::unique_ptr<tDebugger> m_debugger;
    QList<QTextCursor> m_breakpoints; // each selects its command's character
    SourceMap m_map; // of the text the session's program was compiled from
    std::vector<int> m_lineStarts; // offsets of that text's lines
    bool m_codeChanged = false;
    bool m_unpaired = false; // the last start was refused: the brackets do not pair
    int m_starts = 0;
    std::int64_t m_outputsShown = 0;
    bool m_inLeg = false;
    bool m_waiting = false;
    bool m_endWritten = false;
    bool m_breakpointsChanged = false; // during a leg, for the run when it stops
    bool m_endRequested = false; // the debugger window was closed during a leg
    std::optional<bool> m_breakOff; // pause (true) or stop asked during an input wait
    tDataArr m_tapeAtPause; // the tape when the run last stopped, before the stop shown now
    qint64 m_runNanoseconds = 0; // of the legs before the one going on, waits left out
    QElapsedTimer m_legClock, m_refreshClock, m_waitClock;
    qint64 m_waitedNanoseconds = 0; // in the leg going on
    std::int64_t m_legStartCommands = 0;
    std::int32_t m_unchangedCell = -1; // the cell the last search back found no change of
    bool m_outputGone = false; // the history no longer reached a clicked character's '.'
    bool m_profileChanged = false; // a profiled leg ran since the profile was last shown
    bool m_profileWhole = false; // every leg since the start ran with the profile
    std::vector<std::int64_t> m_counts; // the profile shown, per command position
    QList<QTextEdit::ExtraSelection> m_heat; // its marks in the code pane
    std::vector<DebugWatch> m_watches; // kept from start to start, as the breakpoints
    std::vector<std::int32_t> m_loopPositions; // of the loop list's "[", innermost first
    // The loop stack worked out last, and the run's state it is of (start, cell edits and
    // commands): each refresh at the same stop shows it again without a replay.
    std::vector<DebugLoop> m_loops;
    std::array<std::int64_t, 3> m_loopsOf {-1, -1, -1};
    std::int64_t m_cellEdits = 0;
    bool m_searchingBack = false; // a search back is going on: its progress is shown
};
