#include "debugsession.h"
#include "windowtesting.h"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QtTest>

// The debug session where it meets the rest of the window: edits, input waits, the other
// marks of the code pane, the screen.
class TestDebugSession : public QObject
{
    Q_OBJECT
private slots:
    void editWhilePausedKeepsTheCompiledText_data();
    void editWhilePausedKeepsTheCompiledText();
    void replacedTextTakesNoBreakpointsAlong();
    void countersAreLiveAndWaitingIsNoRunTime();
    void pauseOrStopBreaksAnInputWaitOff_data();
    void pauseOrStopBreaksAnInputWaitOff();
    void currentCommandIsDrawnOverOtherMarks_data();
    void currentCommandIsDrawnOverOtherMarks();
    void unpairedBracketsAreRefused();
    void longLineIsSteppedInTheSource();
    void windowOpensBesideAndWhereLeft();
};

namespace {

const QColor CommandColour(255, 200, 40);

const DebugSession &session(const TestWindow &w)
{
    return WindowProbe::session(*w.window);
}

// Does act once the next input wait has begun.
void whenAsked(TestWindow &w, const std::function<void()> &act)
{
    auto *poll = new QTimer(w.window.get());
    QObject::connect(poll, &QTimer::timeout, poll, [&w, poll, act] {
        if (!w.input()->isEnabled())
            return;
        poll->deleteLater();
        poll->stop();
        act();
    });
    poll->start(10);
}

// Gives the input box text once the next input wait has begun.
void typeWhenAsked(TestWindow &w, const QString &text)
{
    whenAsked(w, [&w, text] {
        w.input()->setText(text);
        QTest::keyClick(w.input(), Qt::Key_Return);
    });
}

} // namespace

void TestDebugSession::editWhilePausedKeepsTheCompiledText_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("position"); // where the fresh start stands
    QTest::addColumn<QString>("place"); // line and column in the edited text
    QTest::newRow("F5 to the breakpoint") << int(Qt::Key_F5) << 0 << 4 << "line 3, column 2";
    QTest::newRow("F10 before the first") << int(Qt::Key_F10) << 0 << 1 << "line 2, column 1";
    QTest::newRow("F11 before the first") << int(Qt::Key_F11) << 0 << 1 << "line 2, column 1";
    QTest::newRow("Ctrl+F10 to the breakpoint first")
        << int(Qt::Key_F10) << int(Qt::ControlModifier) << 4 << "line 3, column 2";
}

// A line inserted above the paused command: the state line keeps naming the compiled text,
// the notice says what the keys do, and each run-control key starts the edited code afresh.
void TestDebugSession::editWhilePausedKeepsTheCompiledText()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    TestWindow w;
    w.code()->setPlainText(QStringLiteral("++\n+.+"));
    w.setCaret(4);
    w.press(Qt::Key_F9);
    w.press(Qt::Key_F5);
    QVERIFY(w.debuggerText("dbg_State").contains(QStringLiteral("line 2, column 2")));
    QTextCursor(w.code()->document()).insertText(QStringLiteral("; a new line\n"));
    QVERIFY(w.debuggerText("dbg_State").contains(QStringLiteral("line 2, column 2")));
    QVERIFY(w.debuggerText("dbg_Notice").contains(QStringLiteral("afresh")));
    QCOMPARE(WindowProbe::state(*w.window), WindowState::DebugEdited);
    w.setCaret(18); // the last "+"
    w.press(key, Qt::KeyboardModifiers(modifiers));
    QFETCH(int, position);
    QFETCH(QString, place);
    QCOMPARE(session(w).debugger()->position(), position);
    QVERIFY2(w.debuggerText("dbg_State").contains(place), qPrintable(w.debuggerText("dbg_State")));
    QVERIFY(w.debuggerText("dbg_Notice").isEmpty());
}

// Select all and paste: the old text's breakpoints go, and a live session counts as edited.
void TestDebugSession::replacedTextTakesNoBreakpointsAlong()
{
    TestWindow w;
    w.code()->setPlainText(QStringLiteral("+++\n+++"));
    w.setCaret(5);
    w.press(Qt::Key_F9);
    w.press(Qt::Key_F11);
    QApplication::clipboard()->setText(QStringLiteral("-\n-\n-\n-\n."));
    w.press(Qt::Key_A, Qt::ControlModifier);
    w.press(Qt::Key_V, Qt::ControlModifier);
    QVERIFY(session(w).breakpointOffsets().isEmpty());
    w.press(Qt::Key_F5); // the pasted program, afresh, to its end
    QVERIFY(!session(w).debugger()->isLive());
    QCOMPARE(session(w).debugger()->commands(), 5);
}

void TestDebugSession::countersAreLiveAndWaitingIsNoRunTime()
{
    TestWindow w;
    w.code()->setPlainText(QStringLiteral("+[>+<]"));
    QString during;
    QTimer::singleShot(600, w.window.get(), [&] {
        during = w.debuggerText("dbg_Counters");
        w.trigger("dbg_Pause");
    });
    w.press(Qt::Key_F5);
    QVERIFY2(!during.contains(QStringLiteral("executed: 0 ")), qPrintable(during));
    QVERIFY(!during.contains(QStringLiteral("0.000 s")));

    w.code()->setPlainText(QStringLiteral("+++,."));
    w.press(Qt::Key_F11);
    QString waiting;
    QTimer::singleShot(700, w.window.get(), [&w, &waiting] {
        waiting = w.debuggerText("dbg_Counters");
        w.input()->setText(QStringLiteral("a"));
        QTest::keyClick(w.input(), Qt::Key_Return);
    });
    w.press(Qt::Key_F5);
    QVERIFY2(waiting.contains(QStringLiteral("executed: 3 ")), qPrintable(waiting)); // not the ","
    const QString after = w.debuggerText("dbg_Counters");
    const double seconds = after.section(QLatin1Char(' '), -2, -2).toDouble();
    QVERIFY2(seconds < 0.5, qPrintable(after));
}

void TestDebugSession::pauseOrStopBreaksAnInputWaitOff_data()
{
    QTest::addColumn<bool>("pause");
    QTest::newRow("pause") << true;
    QTest::newRow("stop") << false;
}

// Broken off, the wait is undone: the run stands before the "," that waited, and neither going
// back to the breakpoint nor on asks for a byte that was never given.
void TestDebugSession::pauseOrStopBreaksAnInputWaitOff()
{
    QFETCH(bool, pause);
    TestWindow w;
    w.code()->setPlainText(QStringLiteral("+.,."));
    w.setCaret(0);
    w.press(Qt::Key_F9);
    w.press(Qt::Key_F11);
    w.press(Qt::Key_F11);
    whenAsked(w, [&w, pause] { w.trigger(pause ? "dbg_Pause" : "dbg_Stop"); });
    w.press(Qt::Key_F5);
    QVERIFY(!w.input()->isEnabled());
    QCOMPARE(session(w).debugger()->isLive(), pause);
    QCOMPARE(session(w).debugger()->commands(), 2);
    bool asked = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, w.window.get(), [&] {
        if (w.input()->isEnabled()) {
            asked = true;
            QTest::keyClick(w.input(), Qt::Key_Escape);
        }
    });
    watch.start(20);
    w.trigger("dbg_Reverse");
    QVERIFY(!asked);
    QCOMPARE(session(w).debugger()->commands(), 0);
    watch.stop();
    typeWhenAsked(w, QStringLiteral("b"));
    w.press(Qt::Key_F5);
    QVERIFY(!session(w).debugger()->isLive());
    QCOMPARE(w.outputText().count(QChar(1)), 1); // shown once
    QCOMPARE(w.outputText().count(QLatin1Char('b')), 1);
}

void TestDebugSession::currentCommandIsDrawnOverOtherMarks_data()
{
    QTest::addColumn<bool>("breakpoint");
    QTest::addColumn<bool>("caretOnIt"); // its bracket partner is marked too
    QTest::newRow("breakpoint") << true << false;
    QTest::newRow("bracket partner") << false << true;
    QTest::newRow("both") << true << true;
}

void TestDebugSession::currentCommandIsDrawnOverOtherMarks()
{
    QFETCH(bool, breakpoint);
    QFETCH(bool, caretOnIt);
    TestWindow w;
    w.code()->setPlainText(QStringLiteral("+[-]"));
    w.setCaret(1);
    if (breakpoint)
        w.press(Qt::Key_F9);
    if (breakpoint)
        w.press(Qt::Key_F5);
    else
        w.press(Qt::Key_F10, Qt::ControlModifier);
    QCOMPARE(session(w).debugger()->position(), 2);
    w.setCaret(caretOnIt ? 1 : 4);
    // The last mark on the "[" is drawn on top: it must be the current command's.
    QColor top;
    for (const QTextEdit::ExtraSelection &mark : w.code()->extraSelections()) {
        if (mark.cursor.selectionStart() <= 1 && mark.cursor.selectionEnd() > 1)
            top = mark.format.background().color();
    }
    QCOMPARE(top, CommandColour);
}

// Run keeps running such a program; the debugger says why it does not.
void TestDebugSession::unpairedBracketsAreRefused()
{
    TestWindow w;
    w.code()->setPlainText(QStringLiteral("+++]>."));
    w.press(Qt::Key_F5);
    QVERIFY(!session(w).debugger());
    QVERIFY(w.debuggerWindow() && w.debuggerWindow()->isVisible());
    QVERIFY(w.debuggerText("dbg_Notice").contains(QStringLiteral("do not pair")));
    QVERIFY(w.outputText().contains(QStringLiteral("too many closing brackets")));
    bool faultMarked = false;
    for (const QTextEdit::ExtraSelection &mark : w.code()->extraSelections())
        faultMarked |= mark.cursor.selectionStart() == 3 &&
            mark.format.underlineStyle() == QTextCharFormat::WaveUnderline;
    QVERIFY(faultMarked);
    const QString before = w.outputText();
    w.click("kn_run");
    QVERIFY(w.outputText().size() > before.size());
}

// A program in one line longer than the code pane's chunks: the debugger stops, names and
// marks the command by the source's line and column, whatever blocks hold it.
void TestDebugSession::longLineIsSteppedInTheSource()
{
    TestWindow w;
    QApplication::clipboard()->setText(QString(2500, u'+') + QStringLiteral("."));
    w.press(Qt::Key_A, Qt::ControlModifier);
    w.press(Qt::Key_V, Qt::ControlModifier);
    const SoftBreaks &breaks = w.code()->softBreaks();
    QVERIFY(breaks.any());
    QCOMPARE(breaks.sourceText().size(), 2501);
    w.setCaret(breaks.toDocument(2300));
    w.press(Qt::Key_F9);
    w.press(Qt::Key_F5);
    QCOMPARE(session(w).debugger()->position(), 2301);
    QVERIFY2(w.debuggerText("dbg_State")
                 .contains(QRegularExpression(QStringLiteral("line 1, column 2\\D?301\\)"))),
        qPrintable(w.debuggerText("dbg_State")));
    QCOMPARE(session(w).breakpointOffsets(), QList<int> {2300});
    bool marked = false;
    for (const QTextEdit::ExtraSelection &mark : w.code()->extraSelections())
        marked |= mark.format.background().color() == CommandColour &&
            breaks.toSource(mark.cursor.selectionStart()) == 2300;
    QVERIFY(marked);
}

void TestDebugSession::windowOpensBesideAndWhereLeft()
{
    QSettings(QStringLiteral("Cerebrix"), QStringLiteral("Cerebrix")).clear();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QPoint moved;
    for (const bool again : {false, true}) {
        TestWindow w;
        // Neither beside it has room on this screen: the debugger goes below the input box.
        w.window->move(screen.topLeft());
        w.code()->setPlainText(QStringLiteral("+"));
        w.press(Qt::Key_F11);
        QWidget *tool = w.debuggerWindow();
        QVERIFY(screen.contains(tool->frameGeometry()));
        if (again) {
            QCOMPARE(tool->pos(), moved);
        } else {
            for (const char *button : {"kn_load", "kn_run", "ed_bf_Input"}) {
                QWidget *part = w.part(button);
                const QRect global(part->mapToGlobal(QPoint(0, 0)), part->size());
                QVERIFY(!tool->frameGeometry().intersects(global));
            }
            moved = tool->pos() - QPoint(0, 20);
            tool->move(moved);
            tool->close();
        }
    }
}

QTEST_MAIN(TestDebugSession)
#include "tst_debugsession.moc"
