#include "Ufrm_BrainF_ck.h"

#include "codepage.h"
#include "codeview.h"
#include "console.h"
#include "customwidgets.h"
#include "debuggerwindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeySequence>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>

namespace {

struct CommandEntry
{
    const char *name;
    std::string DebuggerTexts::*caption;
    QKeySequence keys;
    void (Tfrm_BF_IDE::*handler)();
};

// Line and column (both from 1) of a code pane offset.
std::pair<int, int> lineAndColumn(const QTextDocument &document, int offset)
{
    const QTextBlock block = document.findBlock(offset);
    return {block.blockNumber() + 1, offset - block.position() + 1};
}

SourceMap mapCodePane(const QTextDocument &document)
{
    // One code page byte per character, as compiling reads the text.
    return mapSource(toCp1252(document.toPlainText()));
}

} // namespace

void Tfrm_BF_IDE::setUpDebugger(const DebuggerTexts &texts)
{
    // The key conventions of the common desktop IDEs.
    static const CommandEntry commands[] = {
        {"dbg_Continue", &DebuggerTexts::continueRun, QKeySequence(Qt::Key_F5),
            &Tfrm_BF_IDE::dbg_ContinueClick},
        {"dbg_Pause", &DebuggerTexts::pause, QKeySequence(), &Tfrm_BF_IDE::dbg_PauseClick},
        {"dbg_Stop", &DebuggerTexts::stop, QKeySequence(Qt::SHIFT | Qt::Key_F5),
            &Tfrm_BF_IDE::dbg_StopClick},
        {"dbg_RunToCaret", &DebuggerTexts::runToCaret, QKeySequence(Qt::CTRL | Qt::Key_F10),
            &Tfrm_BF_IDE::dbg_RunToCaretClick},
        {"dbg_ToggleBreakpoint", &DebuggerTexts::toggleBreakpoint, QKeySequence(Qt::Key_F9),
            &Tfrm_BF_IDE::dbg_ToggleBreakpointClick},
        {"dbg_StepInto", &DebuggerTexts::stepInto, QKeySequence(Qt::Key_F11),
            &Tfrm_BF_IDE::dbg_StepIntoClick},
        {"dbg_StepOver", &DebuggerTexts::stepOver, QKeySequence(Qt::Key_F10),
            &Tfrm_BF_IDE::dbg_StepOverClick},
        {"dbg_StepOut", &DebuggerTexts::stepOut, QKeySequence(Qt::SHIFT | Qt::Key_F11),
            &Tfrm_BF_IDE::dbg_StepOutClick},
        {"dbg_StepBack", &DebuggerTexts::stepBack, QKeySequence(), &Tfrm_BF_IDE::dbg_StepBackClick},
        {"dbg_Reverse", &DebuggerTexts::reverseContinue, QKeySequence(),
            &Tfrm_BF_IDE::dbg_ReverseClick},
    };
    m_debuggerTexts = texts;
    const bool created = !m_debugCommands.isEmpty();
    for (std::size_t i = 0; i < std::size(commands); ++i) {
        const CommandEntry &entry = commands[i];
        QAction *action = created ? m_debugCommands.at(qsizetype(i)) : new QAction(this);
        const QString caption = fromCp1252(texts.*entry.caption);
        action->setText(caption);
        // The key shows on the button, as the common IDEs show it.
        action->setIconText(entry.keys.isEmpty()
                ? caption
                : caption + QStringLiteral("  ") + entry.keys.toString(QKeySequence::NativeText));
        if (created)
            continue;
        action->setObjectName(QLatin1String(entry.name));
        action->setShortcut(entry.keys);
        action->setShortcutContext(Qt::WindowShortcut);
        const auto handler = entry.handler;
        connect(
            action, &QAction::triggered, this, guarded([this, handler] { (this->*handler)(); }));
        addAction(action); // the keys work in the main window, and in the debugger's
        m_debugCommands.append(action);
    }
    showDebugState();
}

void Tfrm_BF_IDE::pm_bf_DebugClick()
{
    if (!m_debuggerWindow) {
        m_debuggerWindow = new DebuggerWindow(m_debuggerTexts, m_debugCommands, this);
        connect(m_debuggerWindow, &DebuggerWindow::cellEdited, this,
            guarded([this](int cell, int value) {
                if (!debuggingLive() || m_debugger->isRunning())
                    return;
                m_debugger->setCell(cell, std::uint8_t(value));
                showDebugState();
            }));
        connect(
            m_debuggerWindow, &DebuggerWindow::breakpointRemoved, this, guarded([this](int index) {
                if (index >= 0 && index < m_breakpoints.size())
                    m_breakpoints.removeAt(index);
                applyBreakpoints();
            }));
        connect(m_debuggerWindow, &DebuggerWindow::allBreakpointsRemoved, this, guarded([this] {
            m_breakpoints.clear();
            applyBreakpoints();
        }));
        connect(m_debuggerWindow, &DebuggerWindow::stopsAtMarksChanged, this,
            guarded([this] { applyBreakpoints(); }));
        // Beside the main window where the screen has room, over its right edge otherwise.
        const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect();
        QPoint at = frameGeometry().topRight() + QPoint(8, 0);
        if (screen.isValid() && at.x() + m_debuggerWindow->width() > screen.right())
            at.setX(std::max(screen.left(), screen.right() - m_debuggerWindow->width()));
        m_debuggerWindow->move(at);
    }
    showDebugState();
    m_debuggerWindow->show();
    m_debuggerWindow->raise();
}

bool Tfrm_BF_IDE::debuggingLive() const
{
    return m_debugger && m_debugger->isLive();
}

bool Tfrm_BF_IDE::startDebugging()
{
    if (m_running)
        return false;
    kn_loadClick(); // as the compile command: its error line included
    if (!kn_run->isEnabled() || bf_Engine->m_codeLength < 1)
        return false; // nothing compiled
    m_debugMap = mapCodePane(*re_code->document());
    bf_Engine->m_dataWrap = m_settings.dataWrap;
    bf_Engine->m_valueWrap = m_settings.valueWrap;
    m_debugger = std::make_unique<tDebugger>(*bf_Engine);
    m_debugger->hostOutput = {
        [](void *w, std::uint8_t b) { static_cast<Tfrm_BF_IDE *>(w)->bf_OutChar(b); }, this};
    m_debugger->hostInput = {[](void *w) {
                                 auto &window = *static_cast<Tfrm_BF_IDE *>(w);
                                 window.m_debugWaiting = true;
                                 window.showDebugState();
                                 const auto waited = qScopeGuard([&window] {
                                     window.m_debugWaiting = false;
                                     window.showDebugState();
                                 });
                                 return window.bf_InChar();
                             },
        this};
    m_debugger->hostIdle = {[](void *w) { static_cast<Tfrm_BF_IDE *>(w)->bf_Idle(); }, this};
    m_debugger->start();
    m_debugEndWritten = false;
    m_debugNanoseconds = 0;
    m_tapeAtPause = bf_Engine->m_data;
    applyBreakpoints();
    pm_bf_DebugClick();
    return true;
}

bool Tfrm_BF_IDE::endDebugging()
{
    if (!m_debugger)
        return true;
    if (m_debugger->isRunning())
        return false;
    if (!m_debugEndWritten && m_debugger->commands() > 0)
        bf_OutChar(13); // the run's last line ends, as after a plain run
    m_debugger.reset();
    bf_Engine->FreeData();
    m_tapeAtPause.clear();
    showDebugState();
    return true;
}

void Tfrm_BF_IDE::runDebugLeg(const std::function<DebugStop(tDebugger &)> &leg)
{
    if (m_running || !m_debugger || m_debugger->isRunning())
        return;
    kn_Break->show();
    bf_Engine->m_breakFlag = false;
    m_running = true;
    m_console->startRun();
    m_tapeAtPause = m_debugger->tape(); // what this leg changes is marked at its stop
    showDebugState();
    QElapsedTimer clock;
    clock.start();
    const auto backToPaused = qScopeGuard([this, &clock] {
        m_debugNanoseconds += clock.nsecsElapsed();
        m_console->flush();
        if (ed_bf_Input->isEnabled())
            m_console->setWaiting(false);
        kn_Break->hide();
        m_running = false;
        const DebugStop stop = m_debugger->lastStop();
        const bool over =
            stop == DebugStop::Ended || stop == DebugStop::Fault || stop == DebugStop::Stopped;
        if (over && !m_debugEndWritten) {
            // As a plain run ends: the last line closed, a fault said.
            m_debugEndWritten = true;
            bf_OutChar(13);
            if (stop == DebugStop::Fault)
                bf_OutLine(errorText(m_debugger->result()));
            m_console->flush();
        }
        if (m_breakpointsChanged)
            applyBreakpoints(); // those changed while it ran; shows the state
        else
            showDebugState();
        if (m_closeRequested)
            QTimer::singleShot(0, this, &QWidget::close);
    });
    leg(*m_debugger);
}

void Tfrm_BF_IDE::dbg_ContinueClick()
{
    if (!debuggingLive() && !startDebugging())
        return;
    runDebugLeg([](tDebugger &debugger) { return debugger.resume(); });
}

void Tfrm_BF_IDE::dbg_PauseClick()
{
    if (m_debugger && m_debugger->isRunning())
        m_debugger->requestPause();
}

void Tfrm_BF_IDE::dbg_StopClick()
{
    if (!m_debugger)
        return;
    if (m_debugger->isRunning()) {
        // Ends the run as the break control does; waiting for input ends too.
        bf_Engine->m_breakFlag = true;
        m_console->finishWait(false);
        return;
    }
    endDebugging();
}

void Tfrm_BF_IDE::dbg_StepIntoClick()
{
    if (!debuggingLive()) {
        startDebugging(); // stands before the first command
        return;
    }
    runDebugLeg([](tDebugger &debugger) { return debugger.stepInto(); });
}

void Tfrm_BF_IDE::dbg_StepOverClick()
{
    if (!debuggingLive()) {
        startDebugging();
        return;
    }
    runDebugLeg([](tDebugger &debugger) { return debugger.stepOver(); });
}

void Tfrm_BF_IDE::dbg_StepOutClick()
{
    if (debuggingLive())
        runDebugLeg([](tDebugger &debugger) { return debugger.stepOut(); });
}

void Tfrm_BF_IDE::dbg_RunToCaretClick()
{
    if (m_running)
        return;
    const int caret = re_code->textCursor().selectionStart();
    if (!debuggingLive() && !startDebugging())
        return;
    // The program runs as compiled: the caret maps through that compile's text.
    const std::int32_t target = programPositionAt(caret, m_debugMap);
    if (target < 1)
        return;
    runDebugLeg([target](tDebugger &debugger) { return debugger.runTo(target); });
}

void Tfrm_BF_IDE::dbg_StepBackClick()
{
    // A step back replays from a snapshot: a leg like any other.
    if (m_debugger && !m_running)
        runDebugLeg([](tDebugger &debugger) { return debugger.stepBack(); });
}

void Tfrm_BF_IDE::dbg_ReverseClick()
{
    if (m_debugger && !m_running)
        runDebugLeg([](tDebugger &debugger) { return debugger.reverseResume(); });
}

int Tfrm_BF_IDE::commandOffset(std::int32_t position) const
{
    return position >= 1 && std::size_t(position) <= m_debugMap.commands.size()
        ? int(m_debugMap.commands[std::size_t(position - 1)])
        : -1;
}

std::int32_t Tfrm_BF_IDE::programPositionAt(int offset, const SourceMap &map) const
{
    const auto at = std::lower_bound(
        map.commands.begin(), map.commands.end(), static_cast<std::size_t>(std::max(offset, 0)));
    return at == map.commands.end() ? 0 : std::int32_t(at - map.commands.begin()) + 1;
}

void Tfrm_BF_IDE::dbg_ToggleBreakpointClick()
{
    const SourceMap map = mapCodePane(*re_code->document());
    const std::int32_t position = programPositionAt(re_code->textCursor().selectionStart(), map);
    if (position < 1)
        return; // no command at or after the caret
    const int offset = int(map.commands[std::size_t(position - 1)]);
    const auto same = std::find_if(m_breakpoints.begin(), m_breakpoints.end(),
        [offset](const QTextCursor &cursor) { return cursor.position() == offset; });
    if (same != m_breakpoints.end()) {
        m_breakpoints.erase(same);
    } else {
        QTextCursor cursor(re_code->document());
        cursor.setPosition(offset);
        m_breakpoints.append(cursor);
    }
    applyBreakpoints();
}

void Tfrm_BF_IDE::applyBreakpoints()
{
    // Edits may have left a marker beside its command or on a comment: it moves to the next
    // command (and goes when there is none, or when another is there already).
    const SourceMap map = mapCodePane(*re_code->document());
    QList<QTextCursor> kept;
    for (QTextCursor cursor : std::as_const(m_breakpoints)) {
        const std::int32_t position = programPositionAt(cursor.position(), map);
        if (position < 1)
            continue;
        cursor.setPosition(int(map.commands[std::size_t(position - 1)]));
        const bool twice = std::any_of(kept.begin(), kept.end(),
            [&cursor](const QTextCursor &other) { return other.position() == cursor.position(); });
        if (!twice)
            kept.append(cursor);
    }
    m_breakpoints = kept;
    // The run's program is the compiled one: after an edit its breakpoints stay as they were
    // until the next compile. A leg in progress gets them when it stops.
    m_breakpointsChanged = m_running;
    if (m_debugger && !m_codeChanged && !m_running) {
        m_debugger->clearBreakpoints();
        for (const QTextCursor &cursor : std::as_const(m_breakpoints))
            m_debugger->setBreakpoint(programPositionAt(cursor.position(), m_debugMap), true);
        if (m_debuggerWindow && m_debuggerWindow->stopsAtMarks()) {
            for (const std::size_t mark : m_debugMap.marks)
                m_debugger->setBreakpoint(programPositionAt(int(mark), m_debugMap), true);
        }
    }
    showDebugState();
}

void Tfrm_BF_IDE::showDebugState()
{
    showDebugMarkers();
    // While a leg runs only pause and stop apply; going back needs a run with a history.
    const bool running = m_running; // a leg, or a plain run
    for (QAction *action : std::as_const(m_debugCommands)) {
        const QString name = action->objectName();
        bool enabled = !running;
        if (name == QLatin1String("dbg_Pause"))
            enabled = running;
        else if (name == QLatin1String("dbg_Stop"))
            enabled = m_debugger != nullptr;
        else if (name == QLatin1String("dbg_StepBack") || name == QLatin1String("dbg_Reverse"))
            enabled = !running && m_debugger;
        else if (name == QLatin1String("dbg_StepOut"))
            enabled = !running && debuggingLive();
        action->setEnabled(enabled);
    }
    if (!m_debuggerWindow)
        return;
    const DebuggerTexts &texts = m_debuggerTexts;
    QStringList entries;
    for (const QTextCursor &cursor : std::as_const(m_breakpoints)) {
        const auto [line, column] = lineAndColumn(*re_code->document(), cursor.position());
        entries.append(fromCp1252(texts.breakpointEntry).arg(line).arg(column));
    }
    m_debuggerWindow->setBreakpoints(entries);
    if (!m_debugger) {
        m_debuggerWindow->setState(fromCp1252(texts.stateNone), QString());
        m_debuggerWindow->setNotice(QString());
        m_debuggerWindow->showTape(nullptr, {}, -1, false);
        return;
    }
    const tDebugger &debugger = *m_debugger;
    QString state;
    if (m_debugWaiting) {
        state = fromCp1252(texts.stateWaiting);
    } else if (running) {
        state = fromCp1252(texts.stateRunning);
    } else if (debugger.isLive()) {
        const std::int32_t position = debugger.position();
        const auto [line, column] =
            lineAndColumn(*re_code->document(), std::max(commandOffset(position), 0));
        state = fromCp1252(texts.statePaused).arg(position).arg(line).arg(column);
    } else if (debugger.lastStop() == DebugStop::Stopped) {
        state = fromCp1252(texts.stateStopped);
    } else {
        state = fromCp1252(texts.stateEnded)
                    .arg(debugger.lastStop() == DebugStop::Fault ? debugger.result() : 0);
    }
    const QString counters = fromCp1252(texts.counters)
                                 .arg(debugger.commands())
                                 .arg(double(m_debugNanoseconds) / 1e9, 0, 'f', 3);
    m_debuggerWindow->setState(state, counters);
    QStringList notices;
    if (m_codeChanged)
        notices.append(fromCp1252(texts.codeChanged));
    if (debugger.lastStop() == DebugStop::HistoryStart)
        notices.append(fromCp1252(texts.historyStart));
    m_debuggerWindow->setNotice(notices.join(QLatin1Char('\n')));
    // While a leg runs the view shows the tape as it goes, not to be edited.
    m_debuggerWindow->showTape(
        &debugger.tape(), m_tapeAtPause, debugger.dataPointer(), debugger.isLive() && !running);
}

void Tfrm_BF_IDE::showDebugMarkers()
{
    QList<QTextEdit::ExtraSelection> marks;
    for (const QTextCursor &at : std::as_const(m_breakpoints)) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = at;
        mark.cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        mark.format.setBackground(QColor(235, 90, 90));
        mark.format.setForeground(Qt::white);
        marks.append(mark);
    }
    // The current command, while its place in the text is known (the code unchanged).
    const bool paused = m_debugger && m_debugger->isLive() && !m_debugger->isRunning();
    const int offset = paused ? commandOffset(m_debugger->position()) : -1;
    if (!m_codeChanged && offset >= 0) {
        QTextEdit::ExtraSelection line;
        line.cursor = QTextCursor(re_code->document());
        line.cursor.setPosition(offset);
        line.format.setBackground(QColor(255, 248, 200));
        line.format.setProperty(QTextFormat::FullWidthSelection, true);
        QTextEdit::ExtraSelection command = line;
        command.cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        command.format = QTextCharFormat();
        command.format.setBackground(QColor(255, 200, 40));
        marks.prepend(line);
        marks.append(command);
        // Into view without moving the caret, which run to the caret reads.
        const QRect at = re_code->cursorRect(line.cursor);
        const QRect view = re_code->viewport()->rect();
        if (!view.contains(at)) {
            QScrollBar *bar = re_code->verticalScrollBar();
            bar->setValue(bar->value() + at.center().y() - view.center().y());
            QScrollBar *across = re_code->horizontalScrollBar();
            if (at.left() < view.left() || at.right() > view.right())
                across->setValue(across->value() + at.center().x() - view.center().x());
        }
    }
    re_code->setExtraSelections(marks + editorMarks());
}

QList<QTextEdit::ExtraSelection> Tfrm_BF_IDE::editorMarks() const
{
    QList<QTextEdit::ExtraSelection> marks;
    const auto mark = [&](int offset, const QColor &background) {
        QTextEdit::ExtraSelection selection;
        selection.cursor = QTextCursor(re_code->document());
        selection.cursor.setPosition(offset);
        selection.cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        selection.format.setBackground(background);
        marks.append(selection);
    };
    // The bracket at the caret or just before it, and its partner.
    const QTextCursor caret = re_code->textCursor();
    for (const int at : {caret.position(), caret.position() - 1}) {
        const QChar c = re_code->document()->characterAt(at);
        if ((c != QLatin1Char('[') && c != QLatin1Char(']')) || !re_code->isCommandAt(at))
            continue;
        const int partner = re_code->bracketPartner(at);
        mark(at, partner >= 0 ? QColor(190, 235, 190) : QColor(255, 190, 190));
        if (partner >= 0)
            mark(partner, QColor(190, 235, 190));
        break;
    }
    if (m_faultBracket >= 0 && !m_codeChanged) {
        QTextEdit::ExtraSelection fault;
        fault.cursor = QTextCursor(re_code->document());
        fault.cursor.setPosition(m_faultBracket);
        fault.cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        fault.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        fault.format.setUnderlineColor(Qt::red);
        fault.format.setBackground(QColor(255, 170, 170));
        marks.append(fault);
    }
    return marks;
}
