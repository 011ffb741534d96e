#include "Ufrm_BrainF_ck.h"

#include "codepage.h"
#include "customwidgets.h"
#include "messages.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>

namespace {

// The console's current line and the byte it received last: one console for the whole
// process, kept across runs.
QString OutBuf;
std::uint8_t LastOut = 0;

// A pass of event processing every this many milliseconds of running keeps the window live
// (fifty passes a second, each painting what changed) without slowing the program down: at
// 10 ms the passes took a sixth of a machine-code run's time.
constexpr qint64 idleEventInterval = 20'000'000; // nanoseconds
// Output gathered beyond this many characters goes to the pane before the next event pass.
constexpr qsizetype outputBatchLimit = 4096;

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

QString CopyBefore(const QString &s, const QString &d)
{
    const qsizetype at = s.indexOf(d);
    return at < 0 ? s : s.left(at);
}

void Tfrm_BF_IDE::resetOutputState()
{
    OutBuf.clear();
    LastOut = 0;
}

void Tfrm_BF_IDE::bf_OutChar(std::uint8_t b)
{
    if (LastOut == 13 && b == 10) {
        LastOut = 10; // CR LF begins one line, not two
        return;
    }
    LastOut = b;
    if (m_reportLineLast) {
        // A line written by bf_OutLine (a fault) stays visible: a character arriving after it
        // goes to a new line below it instead of rewriting it. A line break makes that new
        // line itself.
        m_reportLineLast = false;
        if (b != 10 && b != 13)
            m_pendingOutput.appendEmptyLine();
    }
    if (OutBuf.size() > 80 || b == 10 || b == 13) {
        if (m_outputLineDirty)
            m_pendingOutput.replaceLastLine(OutBuf);
        m_outputLineDirty = false;
        m_pendingOutput.appendEmptyLine();
        OutBuf.clear();
    }
    if (b != 10 && b != 13) {
        OutBuf.append(b == 0 ? QChar(0x00B7) : charFromCp1252(b));
        // The pane gets the line when the batch is flushed; the text is the same as if every
        // character had rewritten it.
        m_outputLineDirty = true;
    }
    // Small batches, line breaks included: a full pane takes all the output that fits, and
    // no single update of the pane keeps the event loop waiting.
    if (m_pendingOutput.size() >= outputBatchLimit)
        flushOutput(false);
}

void Tfrm_BF_IDE::flushOutput(bool showCaret)
{
    if (m_outputLineDirty)
        m_pendingOutput.replaceLastLine(OutBuf);
    m_outputLineDirty = false;
    if (m_pendingOutput.isEmpty())
        return;
    // Output past the pane's limits is refused: the run stops and says why. Lines are bounded
    // too, since a program printing only line breaks costs memory and time per line.
    const bool tooManyCharacters =
        re_outp->wouldExceedLimit(m_pendingOutput.size() + OutBuf.size());
    if (!m_outputFull &&
        (tooManyCharacters || re_outp->wouldExceedLineLimit(m_pendingOutput.lineCount()))) {
        m_outputFull = true;
        if (bf_Engine)
            bf_Engine->m_breakFlag = true;
        m_outputLines->append(tooManyCharacters ? messageText(messageTexts().paneFullCharacters,
                                                      {QString::number(re_outp->characterLimit())})
                                                : messageText(messageTexts().paneFullLines,
                                                      {QString::number(re_outp->lineLimit())}));
    }
    if (!m_outputFull)
        m_pendingOutput.applyTo(*m_outputLines);
    m_pendingOutput.clear();
    if (showCaret)
        m_outputLines->showCaret();
}

QString Tfrm_BF_IDE::outputText()
{
    flushOutput();
    return m_outputLines->text();
}

void Tfrm_BF_IDE::bf_OutLine(const QString &s)
{
    flushOutput();
    m_outputLines->append(s);
    m_outputLines->showCaret();
    // Text ending in a line break (a listing) leaves an empty last line: output may use it.
    m_reportLineLast =
        !s.isEmpty() && !s.endsWith(QLatin1Char('\n')) && !s.endsWith(QLatin1Char('\r'));
}

void Tfrm_BF_IDE::bf_Idle()
{
    if ((++m_idleCalls & m_idleCheckMask) != 0)
        return;
    // Reading the clock costs more than a command, so the clock is read only about every
    // 0.1 ms, however often the engine calls: the mask adapts to the calling rate.
    const qint64 now = m_idleClock.nsecsElapsed();
    const qint64 sinceCheck = now - m_lastIdleCheck;
    m_lastIdleCheck = now;
    if (sinceCheck < 50'000 && m_idleCheckMask < 0xFFFF)
        m_idleCheckMask = m_idleCheckMask * 2 + 1;
    else if (sinceCheck > 1'000'000)
        m_idleCheckMask >>= 1;
    if (now - m_lastEventPass < idleEventInterval)
        return;
    flushOutput();
    QApplication::processEvents();
    m_lastEventPass = m_idleClock.nsecsElapsed();
}

std::uint8_t Tfrm_BF_IDE::bf_InChar()
{
    InputKey = 0;
    // The input box must be seen to be used, so a request ends the title view.
    if (Panel1->isHidden())
        Label3MouseLeave();
    setInputBoxWaiting(true);
    ed_bf_Input->setFocus();
    ed_bf_Input->clear();
    m_inputEntry = QString(QChar(0));
    m_inputAccepted = false;
    flushOutput();
    if (!m_closeRequested) {
        // Waits in the event loop until Return with an entry, Escape, or closing the window.
        QEventLoop loop;
        m_inputLoop = &loop;
        loop.exec();
        m_inputLoop = nullptr;
    }
    std::uint8_t result = 0;
    if (m_inputAccepted && m_inputEntry.startsWith(QLatin1Char('#')))
        result = std::uint8_t(convertToInteger(m_inputEntry.mid(1)));
    else if (m_inputAccepted && !charToCp1252(m_inputEntry.at(0), &result))
        result = '?';
    re_outp->setFocus();
    setInputBoxWaiting(false);
    return result;
}

void Tfrm_BF_IDE::ed_bf_InputKeyPress(int key)
{
    InputKey = key == 13 ? 1 : key == 27 ? 2 : 0;
    if (InputKey == 1)
        checkInputEntry();
    else if (InputKey == 2)
        finishInputWait(false);
}

void Tfrm_BF_IDE::checkInputEntry()
{
    // Return on an empty box keeps the key state, so the box is read again on every change.
    if (!m_inputLoop || InputKey != 1)
        return;
    m_inputEntry = trimmedControls(ed_bf_Input->text()).left(255);
    if (!m_inputEntry.isEmpty())
        finishInputWait(true);
}

void Tfrm_BF_IDE::finishInputWait(bool accepted)
{
    if (!m_inputLoop)
        return;
    m_inputAccepted = accepted;
    m_inputLoop->quit();
}

void Tfrm_BF_IDE::setInputBoxWaiting(bool waiting)
{
    QPalette palette = ed_bf_Input->palette();
    // The menu colour of the idle box is the toolkit's window colour.
    const QColor colour = QApplication::palette(ed_bf_Input)
                              .color(QPalette::Active, waiting ? QPalette::Base : QPalette::Window);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Base, colour);
    ed_bf_Input->setPalette(palette);
    ed_bf_Input->setEnabled(waiting);
}

void Tfrm_BF_IDE::N32Leerzeichen1Click(QAction *item)
{
    ed_bf_Input->setText(CopyBefore(item->text().left(255), QStringLiteral(" ")));
    QApplication::processEvents();
    ed_bf_InputKeyPress(13);
}
