#include "debugsession.h"

#include "codepage.h"
#include "codeview.h"
#include "console.h"
#include "debuggerwindow.h"
#include "runviews.h"

#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QTextBlock>

#include <cmath>

namespace {

const QColor BreakpointColour(235, 90, 90);
const QColor CommandColour(255, 200, 40);
const QColor CommandLineColour(255, 248, 200);
const QColor FoundColour(150, 200, 255); // the command a search of a cell's history found
constexpr int HeatLevels = 6;
constexpr std::size_t HottestLoops = 50;

// A profile's heat: level 1 (ran once) to HeatLevels (ran most), on a logarithmic scale.
int heatLevel(std::int64_t count, double logMost)
{
    if (count <= 0)
        return 0;
    if (logMost <= 0)
        return HeatLevels;
    return 1 + std::min(HeatLevels - 1, int(std::log(double(count)) / logMost * HeatLevels));
}

QColor heatColour(int level)
{
    return QColor::fromHsv(24, 30 + level * 225 / HeatLevels, 255);
}

// A count in a few characters, for the gutter: 999, 12.3k, 4.5M, 6.7G.
QString shortCount(std::int64_t count, const QLocale &locale)
{
    if (count < 10000)
        return locale.toString(qint64(count));
    const char *const suffixes[] = {"k", "M", "G", "T", "P"};
    double value = double(count);
    int suffix = -1;
    while (value >= 1000 && suffix < 4) {
        value /= 1000;
        ++suffix;
    }
    return locale.toString(value, 'f', value < 100 ? 1 : 0) + QLatin1String(suffixes[suffix]);
}

// Where the debugger window was last put, kept for the user between sessions.
QSettings windowPlaces()
{
    return QSettings(QStringLiteral("Cerebrix"), QStringLiteral("Cerebrix"));
}

QString placeKey()
{
    return QStringLiteral("DebuggerWindow/geometry");
}

} // namespace

void DebugSession::showWindow()
{
    const bool first = !m_window;
    if (first)
        createWindow();
    refresh();
    m_window->show();
    if (first)
        placeWindow(); // once shown, its frame is known
    m_window->raise();
}

void DebugSession::guarded(const std::function<void()> &handler)
{
    if (m_host.runGuarded)
        m_host.runGuarded(handler);
    else
        handler();
}

void DebugSession::createWindow()
{
    m_window = new DebuggerWindow(m_texts, m_commands, &m_mainWindow);
    connect(m_window, &DebuggerWindow::cellEdited, this, [this](int cell, qint64 value) {
        if (!isLive() || isLegRunning())
            return;
        m_debugger->setCell(cell, static_cast<std::uint32_t>(value));
        ++m_cellEdits;
        refresh();
    });
    connect(m_window, &DebuggerWindow::breakpointRemoved, this, [this](int index) {
        // The list holds the breakpoints, then the watchpoints.
        const auto watch = std::size_t(index - m_breakpoints.size());
        if (index >= 0 && index < m_breakpoints.size())
            m_breakpoints.removeAt(index);
        else if (index >= 0 && watch < m_watches.size())
            m_watches.erase(m_watches.begin() + std::ptrdiff_t(watch));
        applyBreakpoints();
    });
    connect(m_window, &DebuggerWindow::allBreakpointsRemoved, this, [this] {
        m_breakpoints.clear();
        m_watches.clear();
        applyBreakpoints();
    });
    connect(m_window, &DebuggerWindow::watchAsked, this, [this](int first, int last, int kind) {
        guarded([=, this] { toggleWatch(first, last, kind); });
    });
    connect(m_window, &DebuggerWindow::loopChosen, this, [this](int index) {
        const std::int32_t position =
            index >= 0 && std::size_t(index) < m_loopPositions.size() ? m_loopPositions[index] : 0;
        if (!m_codeChanged && position >= 1 && std::size_t(position) <= m_map.commands.size())
            m_code.goTo(int(m_map.commands[std::size_t(position - 1)]));
    });
    connect(m_window, &DebuggerWindow::breakpointChosen, this, [this](int index) {
        if (index >= 0 && index < m_breakpoints.size())
            m_code.goTo(sourceOffset(m_breakpoints.at(index)));
    });
    connect(m_window, &DebuggerWindow::noticeClicked, this, [this] {
        if (m_unpaired && !m_debugger)
            emit bracketFaultChosen();
    });
    connect(m_window, &DebuggerWindow::cellSearchAsked, this,
        [this](int cell, bool back) { guarded([=, this] { searchCell(cell, back); }); });
    connect(m_window, &DebuggerWindow::stopsAtMarksChanged, this, [this] { applyBreakpoints(); });
    connect(m_window->outputView(), &OutputView::byteClicked, this,
        [this](qint64 index) { guarded([=, this] { goToOutput(index); }); });
    connect(m_window->profileView(), &ProfileView::runAsked, this,
        [this] { guarded([this] { runWithProfile(); }); });
    connect(m_window->profileView(), &ProfileView::loopChosen, this, [this](std::int32_t open) {
        if (!m_codeChanged && open >= 1 && std::size_t(open) <= m_map.commands.size())
            m_code.goTo(int(m_map.commands[std::size_t(open - 1)]));
    });
    connect(m_window, &DebuggerWindow::closed, this, [this] { windowClosed(); });
}

void DebugSession::placeWindow()
{
    const QSettings places = windowPlaces();
    if (m_window->restoreGeometry(places.value(placeKey()).toByteArray()))
        return; // where the user put it, moved onto a screen when that one is gone
    const QScreen *screen = m_mainWindow.screen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    const QRect main = m_mainWindow.frameGeometry();
    constexpr int gap = 8;
    const QSize frame = m_window->frameGeometry().size() - m_window->size();
    QSize size = m_window->frameGeometry().size();
    QPoint at(main.right() + 1 + gap, main.top());
    if (room.isValid()) {
        size = size.boundedTo(room.size());
        if (at.x() + size.width() - 1 > room.right()) {
            // On the left where the right has no room; where neither has, over the output
            // pane below the input box, away from the compile and run buttons.
            at.setX(main.left() - gap - size.width());
            if (at.x() < room.left()) {
                // Until the window manager has framed the window its title bar is not known,
                // and the window goes up by its height once framed.
                const int titleBar = frame.height() > 0
                    ? 0
                    : m_window->style()->pixelMetric(QStyle::PM_TitleBarHeight);
                const QLineEdit &input = m_console.inputBox();
                at = QPoint(
                    room.left(), input.mapToGlobal(QPoint(0, input.height())).y() + gap + titleBar);
            }
        }
        at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - 100)));
        size.setHeight(std::min(size.height(), room.bottom() + 1 - at.y()));
    }
    m_window->resize(size - frame);
    // What the window cannot shrink to goes upwards, within the screen.
    if (room.isValid() && at.y() + m_window->frameGeometry().height() - 1 > room.bottom())
        at.setY(std::max(room.top(), room.bottom() + 1 - m_window->frameGeometry().height()));
    m_window->move(at);
}

void DebugSession::windowClosed()
{
    windowPlaces().setValue(placeKey(), m_window->saveGeometry());
    // A run nobody sees is not stepped: closing ends the session, a leg once it has stopped.
    if (isLegRunning()) {
        m_endRequested = true;
        act(WindowCommand::Stop);
        return;
    }
    end();
}

QString DebugSession::stateText() const
{
    const tDebugger &debugger = *m_debugger;
    if (m_waiting)
        return fromCp1252(m_texts.stateWaiting);
    if (m_inLeg)
        return fromCp1252(m_texts.stateRunning);
    if (debugger.isLive()) {
        const std::int32_t position = debugger.position();
        const auto [line, column] = lineAndColumnOf(position);
        return fromCp1252(m_texts.statePaused)
            .arg(m_window->countText(position), m_window->countText(line),
                m_window->countText(column));
    }
    if (debugger.lastStop() == DebugStop::Stopped)
        return fromCp1252(m_texts.stateStopped);
    return fromCp1252(m_texts.stateEnded)
        .arg(debugger.lastStop() == DebugStop::Fault ? debugger.result() : 0);
}

void DebugSession::refresh()
{
    if (!m_window)
        return;
    QStringList entries;
    const SoftBreaks &breaks = m_code.softBreaks();
    for (const QTextCursor &cursor : std::as_const(m_breakpoints)) {
        const QTextBlock block = m_code.document()->findBlock(cursor.selectionStart());
        const QTextBlock line = breaks.lineStart(breaks.lineOf(block));
        entries.append(fromCp1252(m_texts.breakpointEntry)
                           .arg(m_window->countText(breaks.lineOf(block) + 1),
                               m_window->countText(
                                   sourceOffset(cursor) - breaks.toSource(line.position()) + 1)));
    }
    for (const DebugWatch &watch : m_watches)
        entries.append(watchText(watch));
    m_window->setBreakpoints(entries);
    m_window->setSearchProgress(
        m_searchingBack && m_debugger ? int(m_debugger->searchProgress() * 100) : -1);
    if (!m_debugger || (!m_inLeg && !m_debugger->isRunning())) {
        // The loops around the command the run stands before (worked out once it stopped).
        const std::array<std::int64_t, 3> state {
            m_starts, m_cellEdits, m_debugger ? m_debugger->commands() : -1};
        if (!m_debugger || !m_debugger->isLive()) {
            m_loops.clear();
        } else if (state != m_loopsOf) {
            m_loops = m_debugger->loopStack();
            m_loopsOf = state;
        }
        QStringList loops;
        m_loopPositions.clear();
        for (const DebugLoop &loop : m_loops) {
            const auto [line, column] = lineAndColumnOf(loop.position);
            const auto known = [this](std::int64_t count) {
                return count < 0 ? QStringLiteral("?") : m_window->countText(count);
            };
            loops.append(fromCp1252(m_texts.loopEntry)
                             .arg(m_window->countText(line), m_window->countText(column),
                                 known(loop.entryValue), known(loop.rounds)));
            m_loopPositions.push_back(loop.position);
        }
        m_window->setLoops(loops);
    }
    if (!m_debugger) {
        m_window->setState(fromCp1252(m_texts.stateNone), QString());
        m_window->setNotice(m_unpaired ? fromCp1252(m_texts.bracketsUnpaired) : QString());
        m_window->showTape(nullptr, {}, -1, false);
        m_window->setCellSearches(false, false);
        m_window->outputView()->showPrinted({}, 0);
        return;
    }
    const QString counters = fromCp1252(m_texts.counters)
                                 .arg(m_window->countText(commandsRun()))
                                 .arg(double(runNanoseconds()) / 1e9, 0, 'f', 3);
    m_window->setState(stateText(), counters);
    QStringList notices;
    if (m_codeChanged)
        notices.append(fromCp1252(m_texts.codeChanged));
    if (m_debugger->lastStop() == DebugStop::HistoryStart)
        notices.append(fromCp1252(m_texts.historyStart));
    if (const std::optional<std::size_t> watch = m_debugger->lastWatch();
        watch && *watch < m_debugger->watches().size())
        notices.append(fromCp1252(m_texts.watchStop).arg(watchText(m_debugger->watches()[*watch])));
    if (m_unchangedCell >= 0)
        notices.append(fromCp1252(m_texts.noChange).arg(m_window->cellText(m_unchangedCell)));
    if (m_outputGone)
        notices.append(fromCp1252(m_texts.outputGone));
    m_window->setNotice(notices.join(QLatin1Char('\n')));
    // While a leg runs the view shows the tape as it goes, not to be edited.
    const bool paused = m_debugger->isLive() && !m_inLeg;
    m_window->setCellSearches(!m_inLeg, paused);
    m_window->showTape(&m_debugger->tape(), m_tapeAtPause, m_debugger->dataPointer(), paused,
        m_debugger->dialect().cellBits, m_debugger->dialect().startCell());
    // While a leg runs all it printed is present; after it, what lies ahead is muted.
    m_window->outputView()->showPrinted(m_debugger->printed(),
        m_inLeg ? std::int64_t(m_debugger->printed().size()) : m_debugger->outputs());
    if (m_profileChanged && !m_inLeg)
        showProfile();
}

void DebugSession::clearProfile()
{
    m_profileChanged = false;
    m_counts.clear();
    m_heat.clear();
    m_code.setLineFigures({});
    if (m_window)
        m_window->profileView()->showLoops({});
}

void DebugSession::showProfile()
{
    clearProfile();
    std::vector<std::int64_t> counts = m_debugger->profile().commandCounts(m_engine);
    const std::int64_t most = counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end());
    if (most <= 0 || counts.size() != m_map.commands.size() + 2)
        return;
    const QLocale locale = numberLocale(m_texts.languageCode);
    // Per line the commands run there, and the heat of each command, in runs of one level.
    QHash<int, std::int64_t> perLine;
    const double logMost = std::log(double(most));
    QTextDocument *document = m_code.document();
    QTextEdit::ExtraSelection run;
    int runLevel = 0, runEnd = -1;
    const auto closeRun = [&] {
        if (runLevel > 0)
            m_heat.append(run);
        runLevel = 0;
    };
    for (std::size_t position = 1; position + 1 < counts.size(); ++position) {
        perLine[lineAndColumnOf(std::int32_t(position)).first - 1] += counts[position];
        const int offset = int(m_map.commands[position - 1]);
        const int level = heatLevel(counts[position], logMost);
        if (level != runLevel || offset != runEnd) {
            closeRun();
            if (level > 0) {
                run = characterMark(document, offset);
                run.format.setBackground(heatColour(level));
                runLevel = level;
            }
        } else {
            run.cursor.setPosition(
                m_code.softBreaks().toDocument(offset) + 1, QTextCursor::KeepAnchor);
        }
        runEnd = offset + 1;
    }
    closeRun();
    QHash<int, QString> figures;
    for (auto line = perLine.cbegin(); line != perLine.cend(); ++line) {
        if (line.value() > 0)
            figures.insert(line.key(), shortCount(line.value(), locale));
    }
    m_code.setLineFigures(figures);
    std::vector<ProfileView::Row> rows;
    for (const tLoopProfile &loop : hottestLoops(m_engine, counts, HottestLoops)) {
        const auto [line, column] = lineAndColumnOf(loop.open);
        rows.push_back({line, column, loop});
    }
    m_window->profileView()->showLoops(rows);
    m_counts = std::move(counts);
}

QString DebugSession::watchText(const DebugWatch &watch) const
{
    const QString cells = watch.first == watch.last
        ? m_window->cellText(watch.first)
        : fromCp1252(m_texts.watchRange)
              .arg(m_window->cellText(watch.first), m_window->cellText(watch.last));
    QString what;
    switch (watch.kind) {
    case DebugWatch::Kind::Change: what = fromCp1252(m_texts.watchChanges); break;
    case DebugWatch::Kind::Value: {
        static const char *const relations[] = {"=", "<>", "<", ">"};
        what = QLatin1String(relations[int(watch.relation)]) + QLatin1Char(' ') +
            m_window->countText(watch.value);
        break;
    }
    case DebugWatch::Kind::Enter: what = fromCp1252(m_texts.watchEnters); break;
    case DebugWatch::Kind::Leave: what = fromCp1252(m_texts.watchLeaves); break;
    }
    return fromCp1252(m_texts.watchEntry).arg(cells, what);
}

void DebugSession::showMarks(const QList<QTextEdit::ExtraSelection> &editorMarks)
{
    QTextDocument *document = m_code.document();
    // The profile's heat under every other mark, while the text is the one it counted.
    QList<QTextEdit::ExtraSelection> marks =
        m_codeChanged ? QList<QTextEdit::ExtraSelection> {} : m_heat;
    for (const QTextCursor &at : std::as_const(m_breakpoints)) {
        QTextEdit::ExtraSelection mark = characterMark(document, sourceOffset(at));
        mark.format.setBackground(BreakpointColour);
        mark.format.setForeground(Qt::white);
        marks.append(mark);
    }
    marks += editorMarks;
    // The command the last search of a cell's history found, when it is not the current one.
    const std::int32_t found = m_debugger && !m_inLeg ? m_debugger->foundCommand() : 0;
    if (!m_codeChanged && found >= 1 && std::size_t(found) <= m_map.commands.size() &&
        (!m_debugger->isLive() || found != m_debugger->position())) {
        const int at = int(m_map.commands[std::size_t(found - 1)]);
        if (at < m_code.softBreaks().toSource(document->characterCount() - 1)) {
            QTextEdit::ExtraSelection mark = characterMark(document, at);
            mark.format.setBackground(FoundColour);
            mark.format.setForeground(Qt::black);
            marks.append(mark);
        }
    }
    // The current command, while its place in the text is known (the code unchanged), drawn
    // last so that no other mark hides it.
    const bool paused = m_debugger && m_debugger->isLive() && !m_inLeg;
    const std::int32_t position = paused ? m_debugger->position() : 0;
    const int offset = position >= 1 && std::size_t(position) <= m_map.commands.size()
        ? int(m_map.commands[std::size_t(position - 1)])
        : -1;
    // Within an edit, before the pane reports it, the offset may be past the text already.
    if (!m_codeChanged && offset >= 0 &&
        offset < m_code.softBreaks().toSource(document->characterCount() - 1)) {
        QTextEdit::ExtraSelection line;
        line.cursor = QTextCursor(document);
        line.cursor.setPosition(m_code.softBreaks().toDocument(offset));
        line.format.setBackground(CommandLineColour);
        line.format.setProperty(QTextFormat::FullWidthSelection, true);
        marks.prepend(line);
        QTextEdit::ExtraSelection command = characterMark(document, offset);
        command.format.setBackground(CommandColour);
        command.format.setForeground(Qt::black);
        command.format.setFontUnderline(m_debugger->hasBreakpoint(position));
        marks.append(command);
        // Into view without moving the caret, which run to the caret reads.
        const QRect at = m_code.cursorRect(line.cursor);
        const QRect view = m_code.viewport()->rect();
        if (!view.contains(at)) {
            QScrollBar *bar = m_code.verticalScrollBar();
            bar->setValue(bar->value() + at.center().y() - view.center().y());
            QScrollBar *across = m_code.horizontalScrollBar();
            if (at.left() < view.left() || at.right() > view.right())
                across->setValue(across->value() + at.center().x() - view.center().x());
        }
    }
    m_code.setExtraSelections(marks);
}
