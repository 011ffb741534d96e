// Measures the window's console against the bare engine, bulk output into the output pane, and
// for large programs in the code pane keystrokes, caret moves, debugger steps, opening and
// memory, on the offscreen platform. With --big it measures only the large programs; with
// --program FILE it only runs that program in the window and prints the seconds of the run (for
// cerebrix-bench).
#include "../tests/ui/windowprobe.h"
#include "Ufrm_BrainF_ck.h"
#include "customwidgets.h"
#include "sourceprep.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <memory>
#include <string>
#include <vector>

namespace {

// The window is measured as it is used: through its parts, found by their object names.
template<typename T = QWidget>
T *part(const Tfrm_BF_IDE &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

QPlainTextEdit *codePane(const Tfrm_BF_IDE &window)
{
    return part<QPlainTextEdit>(window, "re_code");
}

QPlainTextEdit *outputPane(const Tfrm_BF_IDE &window)
{
    return part<QPlainTextEdit>(window, "re_outp");
}

// Puts code into the code pane and compiles it with the compile button; the window then
// shows the result before anything else is clicked, as it does for a user.
void compile(Tfrm_BF_IDE &window, const QString &code)
{
    codePane(window)->setPlainText(code);
    part<QPushButton>(window, "kn_load")->click();
    QApplication::processEvents();
}

void run(Tfrm_BF_IDE &window)
{
    part<QPushButton>(window, "kn_run")->click();
}

// The output pane's menu has one item: clear.
void clearOutput(Tfrm_BF_IDE &window)
{
    part<QMenu>(window, "Pm_outp")->actions().value(0)->trigger();
}

// A left click on the break control.
void pressBreak(Tfrm_BF_IDE &window)
{
    QWidget *control = part(window, "kn_Break");
    const QPointF centre = QRectF(control->rect()).center();
    QMouseEvent press(QEvent::MouseButtonPress, centre, control->mapToGlobal(centre),
        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(control, &press);
}

double secondsOf(const std::function<void()> &work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e9;
}

std::string cpuBoundProgram()
{
    QFile file(QStringLiteral(CEREBRIX_CORPUS_DIR "/bench.b"));
    if (file.open(QIODevice::ReadOnly))
        return file.readAll().toStdString();
    // Without the corpus: nested counting loops, about 300 million commands, printing "!".
    return "++++++++[>++++++++[>++++++++[>++++++++[>++++++++[>+<-]<-]<-]<-]<-]"
           "+++++++++++++++++++++++++++++++++.";
}

void compareWithEngine(Tfrm_BF_IDE &window)
{
    const std::string source = cpuBoundProgram();
    tBF engine;
    std::string output;
    engine.m_outputHook = {
        [](void *out, std::uint8_t b) { static_cast<std::string *>(out)->push_back(char(b)); },
        &output};
    engine.LoadCode(prepareSource(source));
    engine.MatchBrackets();
    const double bare = secondsOf([&] { engine.Run(); });
    // The same engine with a do-nothing idle hook of its own, called as coarsely as the
    // window's: what remains between this and the window is the window's own cost.
    engine.m_idleHook = {[](void *) {}, nullptr};
    engine.m_idleInterval = WindowProbe::engine(window)->m_idleInterval;
    const double coarse = secondsOf([&] { engine.Run(); });

    compile(window, QString::fromLatin1(source.data(), qsizetype(source.size())));
    const double windowed = secondsOf([&] { run(window); });
    std::printf("CPU-bound program (%zu output bytes): engine with its default hooks %.3f s,"
                " engine with a coarse no-op idle hook %.3f s, window %.3f s;"
                " window / no-op hook %.2f, window / default hooks %.2f\n",
        output.size() / 2, bare, coarse, windowed, windowed / coarse, windowed / bare);
}

// Loads the program into the window and prints the seconds its run takes; 1 when unreadable.
int timeProgram(Tfrm_BF_IDE &window, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cerebrix-bench-window: cannot read %s\n", qPrintable(path));
        return 1;
    }
    compile(window, QString::fromLatin1(file.readAll()));
    std::printf("%.6f\n", secondsOf([&] { run(window); }));
    return 0;
}

// The longest wait of the event loop while work runs (a 5 ms timer measures its gaps), and
// the second of the run at which it ended.
std::pair<double, double> longestEventGap(const std::function<void()> &work)
{
    QElapsedTimer sinceTick, sinceStart;
    qint64 longest = 0, endedAt = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        if (gap > longest) {
            longest = gap;
            endedAt = sinceStart.elapsed();
        }
    });
    sinceTick.start();
    sinceStart.start();
    ticker.start();
    work();
    ticker.stop();
    return {double(longest) / 1000, double(endedAt) / 1000};
}

// A program printing nothing but line breaks, until the pane is full and, in a second run,
// until a break one second in: time, pane lines, event gaps and how soon the break acts.
void lineBreaksOnly(Tfrm_BF_IDE &window)
{
    clearOutput(window);
    compile(window, QStringLiteral("++++++++++[.]"));
    double seconds = 0;
    const auto [gap, at] = longestEventGap([&] { seconds = secondsOf([&] { run(window); }); });
    const QTextDocument *output = outputPane(window)->document();
    std::printf("line breaks only until the pane is full: %.2f s, %d lines, longest event gap "
                "%.3f s (ending %.2f s in)\n",
        seconds, output->blockCount(), gap, at);
    std::printf("  last line: %s\n", qPrintable(output->lastBlock().previous().text()));
    clearOutput(window);
    // The break is asked for one second in; it acts when the run has returned.
    QTimer::singleShot(1000, [&] { pressBreak(window); });
    const double untilStopped = secondsOf([&] { run(window); });
    std::printf(
        "break asked for after 1 s of line breaks: run ended %.3f s later\n", untilStopped - 1.0);
}

void bulkOutput(Tfrm_BF_IDE &window)
{
    // 125 x 100 lines of 80 letters A and a line feed: 1,012,500 characters.
    const std::string program = std::string(65, '+') + ">" + std::string(10, '+') + ">" +
        std::string(125, '+') + "[>" + std::string(100, '+') + "[>" + std::string(80, '+') +
        "[<<<<.>>>>-]<<<.>>><-]<-]";
    clearOutput(window);
    compile(window, QString::fromLatin1(program.data(), qsizetype(program.size())));
    const double seconds = secondsOf([&] { run(window); });
    std::printf("1,012,500 output characters in 80-character lines: %.3f s, pane holds %d lines\n",
        seconds, outputPane(window)->document()->blockCount());
}

void keystrokes(Tfrm_BF_IDE &window, const QString &text, const char *label)
{
    QPlainTextEdit *code = codePane(window);
    code->setPlainText(text);
    QTextCursor cursor = code->textCursor();
    cursor.setPosition(int(text.size() / 2));
    code->setTextCursor(cursor);
    QApplication::processEvents();
    constexpr int presses = 20;
    const double seconds = secondsOf([&] {
        for (int i = 0; i < presses; ++i) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
            QApplication::sendEvent(code, &press);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
            QApplication::sendEvent(code, &release);
            QApplication::processEvents();
            code->viewport()->repaint();
        }
    });
    std::printf("keystroke in a large program, %s: %.1f ms\n", label, seconds / presses * 1000);
}

// A 1 MB program under the debugger with its window open: starting it, and one step with
// the view's update (current command marked and scrolled to, tape, state).
void debuggerSteps(Tfrm_BF_IDE &window, const QString &text, const char *label)
{
    QPlainTextEdit *code = codePane(window);
    QAction *stepInto = part<QAction>(window, "dbg_StepInto");
    code->setPlainText(text);
    QApplication::processEvents();
    const double start = secondsOf([&] {
        stepInto->trigger();
        QApplication::processEvents();
    });
    constexpr int steps = 50;
    const double seconds = secondsOf([&] {
        for (int i = 0; i < steps; ++i) {
            stepInto->trigger();
            QApplication::processEvents();
            code->viewport()->repaint();
        }
    });
    std::printf("debugger in a large program, %s: start %.1f ms, one step with the view %.2f ms\n",
        label, start * 1000, seconds / steps * 1000);
    part<QAction>(window, "dbg_Stop")->trigger();
}

// A window whose BF.ini holds an about text of lines: how long start-up and the first hover
// over the title take.
void aboutText(const char *label, const std::vector<std::string> &lines)
{
    QTemporaryDir folder;
    QFile settings(folder.filePath(QStringLiteral("BF.ini")));
    if (!settings.open(QIODevice::WriteOnly))
        return;
    settings.write("[about]\r\n");
    for (std::size_t k = 0; k < lines.size(); ++k)
        settings.write(("line" + std::to_string(k + 1) + "=" + lines[k] + "\r\n").c_str());
    settings.close();
    std::unique_ptr<Tfrm_BF_IDE> window;
    const double startUp = secondsOf([&] {
        window = std::make_unique<Tfrm_BF_IDE>(folder.path() + QLatin1Char('/'));
        window->show();
        QApplication::processEvents();
    });
    const double hover = secondsOf([&] {
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(part(*window, "Label3"), &enter);
        QApplication::processEvents();
    });
    std::printf("about text, %s: start-up %.3f s, first hover %.3f s\n", label, startUp, hover);
}

// A generated program: one line of about 1 MB, its brackets paired.
QString oneLineProgram()
{
    return QStringLiteral("+[->+<]>").repeated(1024 * 1024 / 8);
}

// A large hand-written program: 30,000 lines, 2.2 MB, code with comments after ";" on every
// third line, as text adventures are written.
QString manyLinesProgram()
{
    QString text;
    text.reserve(2'300'000);
    const QString code = QStringLiteral("+[->+<]>").repeated(9);
    for (int line = 0; line < 30'000; ++line) {
        if (line % 3 == 0)
            text += code.left(32) + QStringLiteral(" ; the room is dark, a lamp lies here ") +
                QString::number(line) + QLatin1Char('\n');
        else
            text += code + QStringLiteral("+++.") + QLatin1Char('\n');
    }
    return text;
}

// The resident memory of the process, in bytes, once freed memory went back to the system.
double residentBytes()
{
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * 4096 : 0;
}

// Sends a key press and release to the code pane and lets the window show the result.
void pressKey(QPlainTextEdit *code, int key, const QString &text = QString())
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(code, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(code, &release);
    QApplication::processEvents();
    code->viewport()->repaint();
}

// The milliseconds of one key, the mean of presses.
double keyMilliseconds(QPlainTextEdit *code, int key, const QString &text, int presses)
{
    return secondsOf([&] {
        for (int i = 0; i < presses; ++i)
            pressKey(code, key, text);
    }) / presses *
        1000;
}

// Opening the program as a file (the open command, to a shown pane), then a keystroke, caret
// moves and a page down in its middle, and memory.
void bigProgram(Tfrm_BF_IDE &window, const QString &text, const char *label)
{
    QPlainTextEdit *code = codePane(window);
    code->setPlainText(QString());
    QApplication::processEvents();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("big.b"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(text.toLatin1());
    file.close();
    WindowProbe::setChooseFile(window, [path](QFileDialog &, const QString &) { return path; });
    const double before = residentBytes();
    const double opening = secondsOf([&] {
        part<QAction>(window, "PMC_Fileload")->trigger();
        QApplication::processEvents();
        code->viewport()->repaint();
    });
    const double memory = residentBytes() - before;
    QTextCursor cursor = code->textCursor();
    cursor.setPosition(int(text.size() / 2));
    code->setTextCursor(cursor);
    QApplication::processEvents();
    const double typing = keyMilliseconds(code, Qt::Key_A, QStringLiteral("a"), 10);
    const double right = keyMilliseconds(code, Qt::Key_Right, QString(), 10);
    const double down = keyMilliseconds(code, Qt::Key_Down, QString(), 10);
    const double page = keyMilliseconds(code, Qt::Key_PageDown, QString(), 5);
    std::printf("%s: open %.3f s, memory %.1f MB (%.1f x the text), keystroke %.1f ms,"
                " caret right %.1f ms, caret down %.1f ms, page down %.1f ms\n",
        label, opening, memory / 1e6, memory / double(text.size()), typing, right, down, page);
    // Undone, so that the text is as generated for the debugger.
    code->document()->setModified(false);
}

void aboutTexts()
{
    std::vector<std::string> rtf {"{\\rtf1\\ansi{\\colortbl;\\red128\\green0\\blue0;}"};
    for (int i = 0; i < 5000; ++i)
        rtf.push_back(
            "\\b bold\\b0 \\i italic\\i0 \\cf1 red\\cf0 line " + std::to_string(i) + "\\par");
    rtf.push_back("}");
    aboutText("5,000 formatted RTF lines", rtf);
    aboutText("1,000,000 plain lines", std::vector<std::string>(1000000, "a plain line of text"));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window measured is the built-in one: choices a user's window remembers (a dialect with
    // other cells, say) would change what is timed, and none is written back to the user.
    QStandardPaths::setTestModeEnabled(true);
    QApplication application(argc, argv);
    QTemporaryDir noConfiguration;
    Tfrm_BF_IDE window(noConfiguration.path() + QLatin1Char('/'));
    WindowProbe::setReportError(window,
        [](const QString &text) { std::fprintf(stderr, "report: %s\n", qPrintable(text)); });
    window.show();
    QApplication::processEvents();

    const QStringList arguments = QApplication::arguments();
    const qsizetype programAt = arguments.indexOf(QStringLiteral("--program"));
    if (programAt > 0 && programAt + 1 < arguments.size())
        return timeProgram(window, arguments[programAt + 1]);
    if (arguments.contains(QStringLiteral("--big"))) {
        // Only the large programs: memory is measured first, in a fresh process.
        bigProgram(window, oneLineProgram(), "1 MB in one line");
        bigProgram(window, manyLinesProgram(), "2.2 MB in 30,000 lines");
        keystrokes(window, QString(79, u'+').append(QLatin1Char('\n')).repeated(1024 * 1024 / 80),
            "80-character lines");
        debuggerSteps(window, oneLineProgram(), "one line");
        debuggerSteps(window, manyLinesProgram(), "30,000 lines");
        return 0;
    }
    compareWithEngine(window);
    bulkOutput(window);
    lineBreaksOnly(window);
    aboutTexts();
    const QString line = QString(79, u'+') + QLatin1Char('\n');
    keystrokes(window, line.repeated(1024 * 1024 / 80), "80-character lines");
    keystrokes(window, QString(1024 * 1024, u'+'), "one line");
    const QString loop = QStringLiteral("+[>+<-]>") + QString(71, u'+') + QLatin1Char('\n');
    debuggerSteps(window, loop.repeated(1024 * 1024 / 80), "80-character lines");
    debuggerSteps(window, QString(1024 * 1024, u'+'), "one line");
    bigProgram(window, oneLineProgram(), "1 MB in one line");
    bigProgram(window, manyLinesProgram(), "2.2 MB in 30,000 lines");
    debuggerSteps(window, oneLineProgram(), "1 MB in one line");
    debuggerSteps(window, manyLinesProgram(), "2.2 MB in 30,000 lines");
    return 0;
}
