#include "console.h"

#include "codepage.h"
#include "customwidgets.h"
#include "messages.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>

#include <algorithm>

namespace {

// A pass of event processing every this many milliseconds of running keeps the window live
// (fifty passes a second, each painting what changed) without slowing the program down: at
// 10 ms the passes took a sixth of a machine-code run's time.
constexpr qint64 idleEventInterval = 20'000'000; // nanoseconds
// A pass that paints much (a pane full of long output lines takes milliseconds to lay out and
// draw) widens the gap to the next one, to this many times its own length: the passes then take
// at most about a twentieth of the run's time. The gap never exceeds the longest interval, so
// the window still answers within a twentieth of a second.
constexpr qint64 passShare = 20;
constexpr qint64 longestEventInterval = 50'000'000; // nanoseconds
// Output gathered beyond a batch's size goes to the pane before the next event pass. An update
// of the pane costs about the same whatever its size (the last page is laid out again): 4096
// characters a batch took more than half of a short run's time in the window. Batches stay
// small near the pane's limits, where one that passes a limit is written again byte by byte.
constexpr qsizetype smallBatch = 4096;
constexpr qsizetype largeBatch = 65536;

QString trimmedControls(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

Console::Console(LimitedTextEdit *outputPane, QLineEdit *inputBox, const MessageTexts &messages)
    : m_pane(outputPane)
    , m_messages(messages)
    , m_inputBox(inputBox)
    , m_lines(outputPane)
{
    m_clock.start();
}

Console::~Console() = default;

void Console::writeByte(std::uint8_t byte)
{
    writeByteInBatch(byte);
    // Bounded batches, line breaks included: no single update of the pane keeps the event loop
    // waiting.
    if (m_pending.size() >= smallBatch && m_pending.size() >= batchLimit())
        flush(false);
}

qsizetype Console::batchLimit() const
{
    const qsizetype room = std::min(m_pane->roomLeft(0), m_pane->linesLeft());
    return std::clamp(room / 2, smallBatch, largeBatch);
}

void Console::writeByteInBatch(std::uint8_t byte)
{
    m_batchBytes.append(char(byte));
    if (LastOut == 13 && byte == 10) {
        LastOut = 10; // CR LF begins one line, not two
        return;
    }
    LastOut = byte;
    if (m_reportLineLast) {
        // A line written by writeLine (a fault) stays visible: a character arriving after it
        // goes to a new line below it instead of rewriting it. A line break makes that new
        // line itself.
        m_reportLineLast = false;
        if (byte != 10 && byte != 13)
            m_pending.appendEmptyLine();
    }
    if (OutBuf.size() > 80 || byte == 10 || byte == 13) {
        if (m_lineDirty)
            m_pending.replaceLastLine(OutBuf);
        m_lineDirty = false;
        m_pending.appendEmptyLine();
        OutBuf.clear();
    }
    if (byte != 10 && byte != 13) {
        OutBuf.append(byte == 0 ? QChar(0x00B7) : charFromCp1252(byte));
        // The pane gets the line when the batch is flushed; the text is the same as if every
        // character had rewritten it.
        m_lineDirty = true;
    }
}

bool Console::fitsPane() const
{
    return !m_pane->wouldExceedLimit(m_pending.size() + OutBuf.size()) &&
        !m_pane->wouldExceedLineLimit(m_pending.lineCount());
}

void Console::markBatchStart()
{
    m_batchBytes.clear();
    m_batchLine = OutBuf;
    m_batchLast = LastOut;
    m_batchReportLine = m_reportLineLast;
}

void Console::flush(bool showCaret)
{
    if (m_lineDirty)
        m_pending.replaceLastLine(OutBuf);
    m_lineDirty = false;
    if (!m_full && !fitsPane() && m_batchBytes.size() > 1) {
        // The batch again, byte by byte, each on its own: what fits is shown.
        const QByteArray bytes = m_batchBytes;
        m_pending.clear();
        OutBuf = m_batchLine;
        LastOut = m_batchLast;
        m_reportLineLast = m_batchReportLine;
        m_batchBytes.clear();
        for (qsizetype i = 0; i < bytes.size() && !m_full; ++i) {
            writeByteInBatch(std::uint8_t(bytes.at(i)));
            flush(false);
        }
    }
    if (!m_pending.isEmpty()) {
        // Output past the pane's limits is refused: the run stops and says why. Lines are
        // bounded too, since a program printing only line breaks costs memory and time per line.
        const bool tooManyCharacters = m_pane->wouldExceedLimit(m_pending.size() + OutBuf.size());
        if (!m_full && !fitsPane()) {
            m_full = true;
            if (outputFull)
                outputFull();
            m_lines.append(tooManyCharacters ? messageText(m_messages.paneFullCharacters,
                                                   {QString::number(m_pane->characterLimit())})
                                             : messageText(m_messages.paneFullLines,
                                                   {QString::number(m_pane->lineLimit())}));
        }
        if (!m_full)
            m_pending.applyTo(m_lines);
        m_pending.clear();
    }
    markBatchStart();
    if (showCaret)
        m_lines.showCaret();
}

QString Console::text()
{
    flush();
    return m_lines.text();
}

void Console::writeLine(const QString &text)
{
    flush();
    m_lines.append(text);
    m_lines.showCaret();
    // Text ending in a line break (a listing) leaves an empty last line: output may use it.
    m_reportLineLast =
        !text.isEmpty() && !text.endsWith(QLatin1Char('\n')) && !text.endsWith(QLatin1Char('\r'));
    markBatchStart();
}

void Console::restart(const QString &text)
{
    flush();
    m_lines.clear();
    m_lines.append(text);
    m_reportLineLast = false;
    markBatchStart();
    m_lines.showCaret();
}

void Console::startRun()
{
    m_full = false;
    m_idleCalls = 0;
    m_checkMask = 0;
    m_clock.start();
    m_lastCheck = 0;
    m_lastEventPass = 0;
    m_eventInterval = idleEventInterval;
}

void Console::idle()
{
    if ((++m_idleCalls & m_checkMask) != 0)
        return;
    // Reading the clock costs more than a command, so the clock is read only about every
    // 0.1 ms, however often the engine calls: the mask adapts to the calling rate.
    const qint64 now = m_clock.nsecsElapsed();
    const qint64 sinceCheck = now - m_lastCheck;
    m_lastCheck = now;
    if (sinceCheck < 50'000 && m_checkMask < 0xFFFF)
        m_checkMask = m_checkMask * 2 + 1;
    else if (sinceCheck > 1'000'000)
        m_checkMask >>= 1;
    if (now - m_lastEventPass < m_eventInterval)
        return;
    flush();
    QApplication::processEvents();
    m_lastEventPass = m_clock.nsecsElapsed();
    m_eventInterval =
        std::clamp((m_lastEventPass - now) * passShare, idleEventInterval, longestEventInterval);
}

std::uint8_t Console::readByte(bool wait)
{
    InputKey = 0;
    if (inputRequested)
        inputRequested();
    setWaiting(true);
    m_inputBox->setFocus();
    m_inputBox->clear();
    m_entry = QString(QChar(0));
    m_accepted = false;
    m_inputEnded = false;
    flush();
    if (wait) {
        // Waits in the event loop until Return with an entry, Escape, or finishWait.
        QEventLoop loop;
        m_inputLoop = &loop;
        loop.exec();
        m_inputLoop = nullptr;
    }
    std::uint8_t result = 0;
    if (m_inputEnded)
        m_accepted = false; // no entry: the engine stores what its dialect says
    if (m_accepted && m_entry.startsWith(QLatin1Char('#')))
        result = std::uint8_t(convertToInteger(m_entry.mid(1), m_messages));
    else if (m_accepted && !charToCp1252(m_entry.at(0), &result))
        result = '?';
    m_pane->setFocus();
    setWaiting(false);
    return result;
}

void Console::keyPressed(int key)
{
    InputKey = key == 13 ? 1 : key == 27 ? 2 : 0;
    if (InputKey == 1)
        entryChanged();
    else if (InputKey == 2)
        finishWait(false);
}

void Console::entryChanged()
{
    // Return on an empty box keeps the key state, so the box is read again on every change.
    if (!m_inputLoop || InputKey != 1)
        return;
    m_entry = trimmedControls(m_inputBox->text()).left(255);
    if (!m_entry.isEmpty())
        finishWait(true);
}

void Console::endInput()
{
    if (!m_inputLoop)
        return;
    m_inputEnded = true;
    m_inputLoop->quit();
}

void Console::finishWait(bool accepted)
{
    if (!m_inputLoop)
        return;
    m_accepted = accepted;
    m_inputLoop->quit();
}

void Console::setWaiting(bool waiting)
{
    QPalette palette = m_inputBox->palette();
    // The menu colour of the idle box is the toolkit's window colour.
    const QColor colour = QApplication::palette(m_inputBox)
                              .color(QPalette::Active, waiting ? QPalette::Base : QPalette::Window);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Base, colour);
    m_inputBox->setPalette(palette);
    m_inputBox->setEnabled(waiting);
}
