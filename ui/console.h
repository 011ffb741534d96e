#pragma once

#include "messagetexts.h"
#include "outputlines.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <functional>

class LimitedTextEdit;
class QEventLoop;
class QLineEdit;

// The console between a running program and the window: the output pane's current line, the
// output gathered for the pane, the pane's limits, and the input box's requests. One per
// window; what it keeps survives from run to run, as the output pane does.
class Console
{
public:
    // messages must outlive the console.
    Console(LimitedTextEdit *outputPane, QLineEdit *inputBox, const MessageTexts &messages);
    ~Console();

    Console(const Console &) = delete;
    Console &operator=(const Console &) = delete;

    // Where the user types an input entry: other windows keep clear of it.
    const QLineEdit &inputBox() const { return *m_inputBox; }

    // Called when output passes a pane limit (the run must stop), and before an input request
    // waits (the input box must be seen).
    std::function<void()> outputFull;
    std::function<void()> inputRequested;

    // One output byte: a line feed or CR (CR LF once) ends the line, so does an 82nd
    // character; 0 shows as a middle dot. The pane gets it in batches (see flush).
    void writeByte(std::uint8_t byte);
    // Appends text as a new line of the pane; a later byte begins the line below it.
    void writeLine(const QString &text);
    // Writes gathered output to the pane; showCaret also scrolls to it. Output past a pane
    // limit is cut where byte-by-byte writing would have stopped, then a line says so.
    void flush(bool showCaret = true);
    // The pane's text with CR LF line breaks, gathered output written first.
    QString text();
    // Empties the pane and puts text there (its line breaks begin lines).
    void restart(const QString &text);

    // A new run: the pane takes output again and the event clock restarts.
    void startRun();
    // Called by the engine between commands: now and then runs an event pass (output first).
    void idle();

    // Waits in the event loop for an entry and returns its byte: a character, "#" and a
    // number (UserError when it is none), 0 for Escape or a wait broken off; without wait,
    // 0 at once.
    std::uint8_t readByte(bool wait = true);
    // A key typed in the input box (13 Return, 27 Escape, else the character).
    void keyPressed(int key);
    // The input box's text changed.
    void entryChanged();
    // Ends the wait: with the box's entry when accepted, else with 0. Nothing when none waits.
    void finishWait(bool accepted);
    // Ends the wait with the end of the input: readByte returns 0 and inputEnded says so.
    // Nothing when none waits.
    void endInput();
    // Whether the last readByte ended with endInput.
    bool inputEnded() const { return m_inputEnded; }
    bool isWaiting() const { return m_inputLoop != nullptr; }
    // Shows the input box idle (greyed, disabled) or waiting.
    void setWaiting(bool waiting);

    // The last key typed in the input box: 1 Return, 2 Escape, 0 another; 0 at each request.
    std::int32_t InputKey = 0;

private:
    void writeByteInBatch(std::uint8_t byte);
    bool fitsPane() const;
    // The characters a batch gathers before it goes to the pane.
    qsizetype batchLimit() const;
    void markBatchStart();

    LimitedTextEdit *m_pane;
    const MessageTexts &m_messages;
    QLineEdit *m_inputBox;
    OutputLines m_lines;
    OutputBatch m_pending;
    QString OutBuf; // the current line
    std::uint8_t LastOut = 0; // the byte received last
    bool m_lineDirty = false; // the current line is newer than the batch
    bool m_reportLineLast = false; // the pane's last line was written by writeLine
    bool m_full = false;
    // The batch's bytes and the line state before them: output that would pass a limit is
    // written again byte by byte, showing exactly what fits.
    QByteArray m_batchBytes;
    QString m_batchLine;
    std::uint8_t m_batchLast = 0;
    bool m_batchReportLine = false;

    QElapsedTimer m_clock; // started with each run
    qint64 m_lastCheck = 0, m_lastEventPass = 0; // nanoseconds on m_clock
    qint64 m_eventInterval = 0; // nanoseconds from one event pass to the next
    std::uint32_t m_idleCalls = 0, m_checkMask = 0;

    QEventLoop *m_inputLoop = nullptr;
    QString m_entry;
    bool m_accepted = false;
    bool m_inputEnded = false;
};
