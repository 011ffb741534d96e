#include "debugsession.h"

#include "codepage.h"
#include "codeview.h"
#include "console.h"
#include "debuggerwindow.h"

#include <QAction>
#include <QInputDialog>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTextBlock>

#include <algorithm>

namespace {

// The state line and counters follow a running leg this often (milliseconds).
constexpr qint64 liveInterval = 200;

SourceMap mapCodePane(const QTextDocument &document)
{
    // One code page byte per character, as compiling reads the text.
    return mapSource(toCp1252(SoftBreaks::sourceText(document)));
}

// The program position of the first command at or after offset in map; 0 for none.
std::int32_t programPositionAt(int offset, const SourceMap &map)
{
    const auto at = std::lower_bound(
        map.commands.begin(), map.commands.end(), static_cast<std::size_t>(std::max(offset, 0)));
    return at == map.commands.end() ? 0 : std::int32_t(at - map.commands.begin()) + 1;
}

} // namespace

QTextEdit::ExtraSelection DebugSession::characterMark(QTextDocument *document, int offset)
{
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(document);
    mark.cursor.setPosition(SoftBreaks::toDocument(*document, offset));
    mark.cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    return mark;
}

DebugSession::DebugSession(
    tBF &engine, CodePane &code, Console &console, QWidget &window, Host host)
    : m_engine(engine)
    , m_code(code)
    , m_console(console)
    , m_mainWindow(window)
    , m_host(std::move(host))
{
    connect(code.document(), &QTextDocument::contentsChange, this,
        [this] { keepBreakpointsOnTheirCommands(); });
}

DebugSession::~DebugSession() = default;

void DebugSession::setTexts(const DebuggerTexts &texts, const QList<QAction *> &commands)
{
    m_texts = texts;
    m_commands = commands;
}

std::pair<int, int> DebugSession::lineAndColumnOf(std::int32_t position) const
{
    if (position < 1 || std::size_t(position) > m_map.commands.size())
        return {0, 0};
    const int offset = int(m_map.commands[std::size_t(position - 1)]);
    const auto line = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), offset);
    return {int(line - m_lineStarts.begin()), offset - *std::prev(line) + 1};
}

int DebugSession::sourceOffset(const QTextCursor &breakpoint) const
{
    return m_code.softBreaks().toSource(breakpoint.selectionStart());
}

QList<int> DebugSession::breakpointOffsets() const
{
    QList<int> offsets;
    for (const QTextCursor &cursor : m_breakpoints)
        offsets.append(sourceOffset(cursor));
    return offsets;
}

bool DebugSession::startAfresh()
{
    if (m_host.isBusy() || !end())
        return false;
    return start();
}

bool DebugSession::isDoneAtStart(WindowCommand command) const
{
    if (!m_debugger)
        return false;
    const std::int32_t first = m_debugger->position();
    switch (command) {
    case WindowCommand::StepInto:
    case WindowCommand::StepOver: return true;
    case WindowCommand::Continue: return m_debugger->hasBreakpoint(first);
    case WindowCommand::RunToCaret:
        return programPositionAt(m_code.textCursor().selectionStart(), m_map) == first;
    default: return false;
    }
}

bool DebugSession::start()
{
    const int compiled = m_host.compile(); // as the compile command: its error line included
    m_unpaired = compiled > 0;
    if (compiled != ResultOk) {
        if (m_unpaired)
            showWindow(); // says why nothing starts; the compile marked the bracket
        return false;
    }
    const QTextDocument &document = *m_code.document();
    m_map = mapCodePane(document);
    m_lineStarts.clear();
    const SoftBreaks &breaks = m_code.softBreaks();
    int softBreaks = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (breaks.continues(block))
            ++softBreaks;
        else
            m_lineStarts.push_back(block.position() - softBreaks);
    }
    m_codeChanged = false;
    m_debugger = std::make_unique<tDebugger>(m_engine);
    m_debugger->hostOutput = {
        [](void *s, std::uint8_t b) { static_cast<DebugSession *>(s)->writeOutput(b); }, this};
    m_debugger->hostInput = {
        [](void *s) { return static_cast<DebugSession *>(s)->readInput(); }, this};
    m_debugger->hostIdle = {[](void *s) { static_cast<DebugSession *>(s)->idle(); }, this};
    m_debugger->start();
    ++m_starts;
    m_outputsShown = 0;
    m_endWritten = false;
    m_unchangedCell = -1;
    m_runNanoseconds = 0;
    m_tapeAtPause = m_engine.m_data;
    applyBreakpoints();
    showWindow();
    return true;
}

void DebugSession::writeOutput(std::uint8_t byte)
{
    ++m_outputsShown;
    m_console.writeByte(byte);
}

bool DebugSession::end()
{
    if (!m_debugger)
        return true;
    if (m_inLeg)
        return false;
    if (!m_endWritten && m_debugger->commands() > 0)
        m_console.writeByte(13); // the run's last line ends, as after a plain run
    m_debugger.reset();
    m_engine.FreeData();
    clearProfile();
    m_tapeAtPause.clear();
    m_host.stateChanged();
    return true;
}

void DebugSession::act(WindowCommand command)
{
    switch (command) {
    case WindowCommand::Continue: return runLeg([](tDebugger &d) { return d.resume(); });
    case WindowCommand::StepInto: return runLeg([](tDebugger &d) { return d.stepInto(); });
    case WindowCommand::StepOver: return runLeg([](tDebugger &d) { return d.stepOver(); });
    case WindowCommand::StepOut: return runLeg([](tDebugger &d) { return d.stepOut(); });
    case WindowCommand::StepBack: return runLeg([](tDebugger &d) { return d.stepBack(); });
    case WindowCommand::Reverse: return runLeg([](tDebugger &d) { return d.reverseResume(); });
    case WindowCommand::RunToCaret: return runToCaret();
    case WindowCommand::ToggleBreakpoint: return toggleBreakpoint();
    case WindowCommand::Pause:
        if (m_waiting) {
            m_breakOff = true;
            m_console.finishWait(false);
        } else if (isLegRunning()) {
            m_debugger->requestPause();
        }
        return;
    case WindowCommand::Stop:
        if (!isLegRunning()) {
            end();
            return;
        }
        m_engine.m_breakFlag = true; // as the break control; a wait ends too
        if (m_waiting) {
            m_breakOff = false;
            m_console.finishWait(false);
        }
        return;
    default: return;
    }
}

void DebugSession::runWithProfile()
{
    if (m_host.isBusy())
        return;
    // A profile counts a run from its start: one that went on without it starts afresh.
    if ((!isLive() || m_codeChanged || !m_profileWhole) && !startAfresh())
        return;
    m_profileChanged = true;
    runLeg([](tDebugger &debugger) { return debugger.profiledResume(); });
    m_profileWhole = true;
}

void DebugSession::goToOutput(qint64 index)
{
    if (index < 0)
        return;
    runLeg([this, index](tDebugger &debugger) {
        const DebugStop stop = debugger.travelToOutput(std::size_t(index));
        m_outputGone = stop == DebugStop::HistoryStart;
        return stop;
    });
}

void DebugSession::runToCaret()
{
    // The caret maps through the text the program was compiled from: this one, as a change
    // of the text makes the key start afresh.
    const std::int32_t target = programPositionAt(m_code.textCursor().selectionStart(), m_map);
    if (target >= 1)
        runLeg([target](tDebugger &debugger) { return debugger.runTo(target); });
}

void DebugSession::searchCell(std::int32_t cell, bool back)
{
    if (!back) {
        runLeg([cell](tDebugger &debugger) { return debugger.firstReadAfter(cell); });
        return;
    }
    runLeg([this, cell](tDebugger &debugger) {
        m_searchingBack = true;
        const auto searched = qScopeGuard([this] { m_searchingBack = false; });
        const DebugStop stop = debugger.lastChange(cell);
        if (stop == DebugStop::HistoryStart)
            m_unchangedCell = cell;
        return stop;
    });
}

void DebugSession::toggleWatch(int first, int last, int kind)
{
    DebugWatch watch {.kind = DebugWatch::Kind(kind), .first = first, .last = last};
    const auto same = std::find_if(m_watches.begin(), m_watches.end(), [&](const DebugWatch &w) {
        return w.kind == watch.kind && w.first == first && w.last == last;
    });
    if (same != m_watches.end()) {
        m_watches.erase(same);
    } else {
        if (watch.kind == DebugWatch::Kind::Value) {
            bool given = false;
            const QString text = QInputDialog::getText(m_window, fromCp1252(m_texts.title),
                fromCp1252(m_texts.watchValuePrompt), QLineEdit::Normal, QStringLiteral("= 0"),
                &given);
            static const QRegularExpression relation(
                QStringLiteral("^\\s*(=|<>|!=|<|>)\\s*(-?\\d{1,10})\\s*$"));
            const QRegularExpressionMatch match = relation.match(text);
            if (!given || !match.hasMatch())
                return;
            const QString op = match.captured(1);
            watch.relation = op == QLatin1String("=") ? DebugWatch::Relation::Equal
                : op == QLatin1String("<")            ? DebugWatch::Relation::Less
                : op == QLatin1String(">")            ? DebugWatch::Relation::Greater
                                                      : DebugWatch::Relation::NotEqual;
            watch.value = match.captured(2).toLongLong();
            watch.isSigned = m_window && m_window->showsSigned();
        }
        m_watches.push_back(watch);
    }
    applyBreakpoints();
}

void DebugSession::runLeg(const std::function<DebugStop(tDebugger &)> &leg)
{
    if (m_host.isBusy() || !m_debugger || m_debugger->isRunning())
        return;
    m_unchangedCell = -1;
    m_outputGone = false;
    m_profileWhole = false;
    m_inLeg = true;
    m_host.setLegRunning(true);
    m_console.startRun();
    m_tapeAtPause = m_debugger->tape(); // what this leg changes is marked at its stop
    m_legStartCommands = m_debugger->commands();
    m_engine.m_commandCount = m_legStartCommands;
    m_waitedNanoseconds = 0;
    m_legClock.start();
    m_refreshClock.start();
    m_breakOff.reset();
    m_host.stateChanged();
    const auto stopped = qScopeGuard([this] { finishLeg(); });
    leg(*m_debugger);
}

void DebugSession::finishLeg()
{
    m_inLeg = false;
    m_runNanoseconds += m_legClock.nsecsElapsed() - m_waitedNanoseconds;
    m_legClock.invalidate();
    m_console.flush();
    const DebugStop stop = m_debugger->lastStop();
    const bool over =
        stop == DebugStop::Ended || stop == DebugStop::Fault || stop == DebugStop::Stopped;
    if (over && !m_endWritten) {
        // As a plain run ends: the last line closed, a fault said.
        m_endWritten = true;
        m_console.writeByte(13);
        if (stop == DebugStop::Fault)
            m_console.writeLine(m_host.errorText(m_debugger->result()));
        m_console.flush();
    }
    m_host.setLegRunning(false);
    if (m_breakpointsChanged)
        applyBreakpoints(); // those changed while it ran
    if (m_endRequested) {
        m_endRequested = false;
        end();
    }
    m_host.stateChanged();
}

std::uint8_t DebugSession::readInput()
{
    m_waiting = true;
    m_waitClock.start();
    m_host.stateChanged();
    const auto done = qScopeGuard([this] {
        m_waitedNanoseconds += m_waitClock.nsecsElapsed(); // waiting is no run time
        m_waiting = false;
        m_host.stateChanged();
    });
    const std::uint8_t byte = m_console.readByte();
    m_engine.m_inputEnded = m_console.inputEnded();
    if (m_breakOff)
        m_debugger->breakOffInput(*m_breakOff);
    return byte;
}

void DebugSession::idle()
{
    m_console.idle();
    if (m_refreshClock.isValid() && m_refreshClock.elapsed() >= liveInterval) {
        m_refreshClock.start();
        refresh();
    }
}

qint64 DebugSession::runNanoseconds() const
{
    if (!m_legClock.isValid())
        return m_runNanoseconds;
    const qint64 waited = m_waitedNanoseconds + (m_waiting ? m_waitClock.nsecsElapsed() : 0);
    return m_runNanoseconds + m_legClock.nsecsElapsed() - waited;
}

std::int64_t DebugSession::commandsRun() const
{
    if (!isLegRunning())
        return m_debugger->commands();
    return std::max(m_legStartCommands, m_engine.m_commandCount);
}

void DebugSession::toggleBreakpoint()
{
    const SourceMap map = mapCodePane(*m_code.document());
    const std::int32_t position =
        programPositionAt(m_code.softBreaks().toSource(m_code.textCursor().selectionStart()), map);
    if (position < 1)
        return; // no command at or after the caret
    const int offset = int(map.commands[std::size_t(position - 1)]);
    const auto same = std::find_if(m_breakpoints.begin(), m_breakpoints.end(),
        [&](const QTextCursor &cursor) { return sourceOffset(cursor) == offset; });
    if (same != m_breakpoints.end())
        m_breakpoints.erase(same);
    else
        m_breakpoints.append(characterMark(m_code.document(), offset).cursor);
    applyBreakpoints();
}

void DebugSession::keepBreakpointsOnTheirCommands()
{
    // A breakpoint selects its command's character: when an edit removes the character the
    // selection is empty and the breakpoint goes with it. Text typed just after it is not
    // part of it.
    QList<QTextCursor> kept;
    for (QTextCursor cursor : std::as_const(m_breakpoints)) {
        if (!cursor.hasSelection())
            continue;
        cursor.setPosition(cursor.selectionStart());
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        kept.append(cursor);
    }
    const bool removed = kept.size() < m_breakpoints.size();
    m_breakpoints = kept;
    if (removed)
        m_host.stateChanged();
}

void DebugSession::textReplaced()
{
    m_breakpoints.clear();
    codeEdited();
}

void DebugSession::codeEdited()
{
    m_unpaired = false;
    m_code.setLineFigures({}); // they count the compiled text's lines
    if (m_codeChanged)
        return;
    m_codeChanged = true;
    m_host.stateChanged(); // the debugger says so, and stops marking the current command
}

void DebugSession::applyBreakpoints()
{
    // Edits may have left a marker on a comment: it moves to the next command (and goes when
    // there is none, or when another is there already).
    const SourceMap map = mapCodePane(*m_code.document());
    QList<QTextCursor> kept;
    for (const QTextCursor &cursor : std::as_const(m_breakpoints)) {
        const std::int32_t position = programPositionAt(sourceOffset(cursor), map);
        if (position < 1)
            continue;
        const int offset = int(map.commands[std::size_t(position - 1)]);
        const bool twice = std::any_of(kept.begin(), kept.end(),
            [&](const QTextCursor &other) { return sourceOffset(other) == offset; });
        if (!twice)
            kept.append(characterMark(m_code.document(), offset).cursor);
    }
    m_breakpoints = kept;
    // The run's program is the compiled one: after an edit its breakpoints stay as they were
    // until the next start. A leg in progress gets them when it stops.
    m_breakpointsChanged = isLegRunning();
    if (m_debugger && !m_codeChanged && !isLegRunning()) {
        m_debugger->clearBreakpoints();
        for (const QTextCursor &cursor : std::as_const(m_breakpoints))
            m_debugger->setBreakpoint(programPositionAt(sourceOffset(cursor), m_map), true);
        m_debugger->clearWatches();
        for (const DebugWatch &watch : m_watches)
            m_debugger->setWatch(watch, true);
        if (m_window && m_window->stopsAtMarks()) {
            for (const std::size_t mark : m_map.marks)
                m_debugger->setBreakpoint(programPositionAt(int(mark), m_map), true);
        }
    }
    m_host.stateChanged();
}
