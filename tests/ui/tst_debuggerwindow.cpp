#include "debuggerwindow.h"
#include "runviews.h"
#include "windowtesting.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

// The debugger as the user drives it: keys in either window, the code pane's markers, the
// tape view and the breakpoint list.
class TestDebugger : public QObject
{
    Q_OBJECT
private slots:
    void keysStartTheProgramUnderTheDebugger_data();
    void keysStartTheProgramUnderTheDebugger();
    void nothingCompiledStartsNothing();
    void stepsMarkTheCurrentCommandInTheCode();
    void keysWorkInTheDebuggerWindow();
    void breakpointsAreMarkedListedAndRemoved();
    void breakpointFollowsEditsAndGoesWithItsCommand();
    void hashMarksStopWhenAsked();
    void tapeEditChangesTheRun();
    void tapeShowsAndEditsCellsAtTheirWidth();
    void tapeMenuTravelsToACellsChangesAndReads();
    void watchpointsFromTheTapeMenuAndTheLoopList();
    void tapeNumbersCellsAndValuesAsChosen_data();
    void tapeNumbersCellsAndValuesAsChosen();
    void outputIsShownOnceAcrossStepsBack();
    void outputViewGoesToThePrintingCommandAndMutesTheFuture();
    void profileShowsHeatFiguresAndHotLoops();
    void inputComesFromTheInputBox();
    void compilingEndsTheDebugging();
    void closingWhileWaitingForInputClosesCleanly();
    void closingTheDebuggerWindowEndsTheRun_data();
    void closingTheDebuggerWindowEndsTheRun();
    void pauseStopsAnEndlessRunWhereItIs();
    void loadingAnExampleClearsTheBreakpoints();
};

namespace {

void press(TestWindow &w, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    QTest::keyClick(w.code(), Qt::Key(key), modifiers);
}

void putCode(TestWindow &w, const QString &code)
{
    w.code()->setPlainText(code);
}

void setCaret(TestWindow &w, int offset)
{
    QTextCursor cursor = w.code()->textCursor();
    cursor.setPosition(offset);
    w.code()->setTextCursor(cursor);
}

// The debugger's own window; null until the debugger was first opened.
DebuggerWindow *tool(TestWindow &w)
{
    return w->findChild<DebuggerWindow *>(QStringLiteral("DebuggerWindow"));
}

// The program under the debugger; null when there is none.
const tDebugger *debugger(TestWindow &w)
{
    return WindowProbe::debugger(*w.window);
}

QString stateText(TestWindow &w)
{
    return tool(w)->findChild<QLabel *>(QStringLiteral("dbg_State"))->text();
}

// The code pane offsets of the marks whose background has the given colour.
QList<int> marked(TestWindow &w, const QColor &colour)
{
    QList<int> offsets;
    for (const QTextEdit::ExtraSelection &mark : w.code()->extraSelections()) {
        if (mark.format.background().color() == colour)
            offsets.append(mark.cursor.selectionStart());
    }
    return offsets;
}

// The output pane after a plain run of code (input typed as given).
QString plainRunOutput(const QString &code, const QString &input = QString())
{
    TestWindow w;
    w.compile(code);
    if (!input.isEmpty()) {
        QTimer::singleShot(0, w.window.get(), [&w, input] {
            w.input()->setText(input);
            QTest::keyClick(w.input(), Qt::Key_Return);
        });
    }
    w.click("kn_run");
    return w.outputText();
}

const QColor BreakpointColour(235, 90, 90);
const QColor CommandColour(255, 200, 40);

} // namespace

void TestDebugger::keysStartTheProgramUnderTheDebugger_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("breakpoint"); // code pane offsets
    QTest::addColumn<int>("caret");
    // "; note\n+[-]++." : the breakpoint stands on the last "+", the caret on "[".
    QTest::newRow("F11 stops before the first command")
        << int(Qt::Key_F11) << 0 << 1 << "" << 12 << 8;
    QTest::newRow("F10 stops before the first command")
        << int(Qt::Key_F10) << 0 << 1 << "" << 12 << 8;
    QTest::newRow("F5 runs to the breakpoint") << int(Qt::Key_F5) << 0 << 6 << "" << 12 << 8;
    QTest::newRow("Ctrl+F10 runs to the caret")
        << int(Qt::Key_F10) << int(Qt::ControlModifier) << 2 << "" << 12 << 8;
    // A fresh run already stands before the first command.
    QTest::newRow("F5 stops at a breakpoint on the first command")
        << int(Qt::Key_F5) << 0 << 1 << "" << 7 << 8;
    QTest::newRow("Ctrl+F10 stops with the caret on the first command")
        << int(Qt::Key_F10) << int(Qt::ControlModifier) << 1 << "" << 12 << 7;
}

void TestDebugger::keysStartTheProgramUnderTheDebugger()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, position);
    QFETCH(int, breakpoint);
    QFETCH(int, caret);
    TestWindow w;
    putCode(w, QStringLiteral("; note\n+[-]++."));
    setCaret(w, breakpoint);
    press(w, Qt::Key_F9);
    setCaret(w, caret);
    press(w, key, Qt::KeyboardModifiers(modifiers));
    QVERIFY(debugger(w));
    QVERIFY(tool(w) && tool(w)->isVisible());
    QCOMPARE(debugger(w)->position(), position);
    QVERIFY(debugger(w)->isLive());
    QVERIFY(stateText(w).contains(QString::number(position)));
    QVERIFY(w.part("kn_run")->isEnabled()); // compiled as the compile command compiles
}

void TestDebugger::nothingCompiledStartsNothing()
{
    TestWindow w;
    putCode(w, QStringLiteral("no commands ; here"));
    for (const int key : {Qt::Key_F11, Qt::Key_F10, Qt::Key_F5})
        press(w, key);
    press(w, Qt::Key_F11, Qt::ShiftModifier);
    press(w, Qt::Key_F5, Qt::ShiftModifier);
    QVERIFY(!debugger(w));
    QVERIFY(w.reports.isEmpty());
    // The pause, step back and reverse commands have nothing to act on either.
    for (const char *name : {"dbg_Pause", "dbg_StepBack", "dbg_Reverse"})
        w.trigger(name);
    QVERIFY(!debugger(w));
}

void TestDebugger::stepsMarkTheCurrentCommandInTheCode()
{
    TestWindow w;
    putCode(w, QStringLiteral("; a comment [with brackets]\n  ++[->+<]  ; more\n>."));
    press(w, Qt::Key_F11);
    const int first = w.codeText().indexOf(QLatin1Char('+')) - 1; // CR LF is one offset
    QCOMPARE(marked(w, CommandColour), QList<int> {first});
    // The pointer's cell is in view from the window's first showing.
    const auto *tape = w.debuggerWindow()->findChild<QTableView *>(QStringLiteral("dbg_Tape"));
    QTRY_VERIFY(std::abs(tape->rowAt(tape->viewport()->height() / 2) - 32767) < 4);
    press(w, Qt::Key_F11);
    press(w, Qt::Key_F11);
    QCOMPARE(marked(w, CommandColour), QList<int> {first + 2}); // "["
    press(w, Qt::Key_F10); // over the loop
    QCOMPARE(debugger(w)->position(), 9);
    QCOMPARE(
        w.code()->document()->characterAt(marked(w, CommandColour).value(0)), QLatin1Char('>'));
    press(w, Qt::Key_F11, Qt::ShiftModifier); // out: no loop around, so to the end
    QVERIFY(!debugger(w)->isLive());
    QVERIFY(marked(w, CommandColour).isEmpty());
    QVERIFY(stateText(w).contains(QStringLiteral("0")));
}

void TestDebugger::keysWorkInTheDebuggerWindow()
{
    TestWindow w;
    putCode(w, QStringLiteral("+++"));
    press(w, Qt::Key_F11);
    DebuggerWindow *debuggerWindow = tool(w);
    debuggerWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(debuggerWindow));
    QTest::keyClick(debuggerWindow, Qt::Key_F11);
    QTest::keyClick(debuggerWindow, Qt::Key_F11);
    QCOMPARE(debugger(w)->commands(), 2);
    // The buttons show their keys.
    auto *stepInto = debuggerWindow->findChild<QToolButton *>(QStringLiteral("dbg_StepIntoButton"));
    QVERIFY(stepInto && stepInto->text().contains(QStringLiteral("F11")));
    QTest::mouseClick(stepInto, Qt::LeftButton);
    QCOMPARE(debugger(w)->commands(), 3);
}

void TestDebugger::breakpointsAreMarkedListedAndRemoved()
{
    TestWindow w;
    putCode(w, QStringLiteral("+ +\n ."));
    setCaret(w, 1); // a blank: the next command takes it
    press(w, Qt::Key_F9);
    setCaret(w, 5);
    press(w, Qt::Key_F9);
    QCOMPARE(marked(w, BreakpointColour), (QList<int> {2, 5}));
    press(w, Qt::Key_F5);
    QCOMPARE(debugger(w)->position(), 2);
    auto *list = tool(w)->findChild<QListWidget *>(QStringLiteral("dbg_Breakpoints"));
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(1)->text(), QStringLiteral("Line 2, column 2"));
    list->setCurrentRow(0);
    QTest::mouseClick(
        tool(w)->findChild<QPushButton *>(QStringLiteral("dbg_RemoveBreakpoint")), Qt::LeftButton);
    QCOMPARE(marked(w, BreakpointColour), QList<int> {5});
    QCOMPARE(list->count(), 1);
    setCaret(w, 5);
    press(w, Qt::Key_F9); // toggles it off
    QVERIFY(marked(w, BreakpointColour).isEmpty());
    QCOMPARE(list->count(), 0);
    press(w, Qt::Key_F5);
    QVERIFY(!debugger(w)->isLive());
}

void TestDebugger::breakpointFollowsEditsAndGoesWithItsCommand()
{
    TestWindow w;
    putCode(w, QStringLiteral("+-."));
    setCaret(w, 1);
    press(w, Qt::Key_F9);
    QTextCursor edit(w.code()->document());
    edit.insertText(QStringLiteral(">>")); // before it: the marker moves along
    QCOMPARE(marked(w, BreakpointColour), QList<int> {3});
    edit.setPosition(4);
    edit.insertText(QStringLiteral("+")); // just after it: not part of it
    edit.setPosition(3);
    edit.deleteChar(); // its command goes, and the breakpoint with it
    QVERIFY(marked(w, BreakpointColour).isEmpty());
    setCaret(w, 4);
    press(w, Qt::Key_F9);
    press(w, Qt::Key_F5); // compiles the edited code
    QCOMPARE(debugger(w)->position(), 5); // ">>++." : the "."
    press(w, Qt::Key_F5, Qt::ShiftModifier);
    QTextCursor all(w.code()->document());
    all.select(QTextCursor::Document);
    all.insertText(QStringLiteral("+"));
    press(w, Qt::Key_F11); // no command after it any more: the breakpoint is gone
    const QList<int> left = marked(w, BreakpointColour);
    QVERIFY(left.isEmpty() || left == QList<int> {0});
    QVERIFY(w.reports.isEmpty());
}

void TestDebugger::hashMarksStopWhenAsked()
{
    TestWindow w;
    putCode(w, QStringLiteral("++#+. ; # not here\n#."));
    press(w, Qt::Key_F5);
    QVERIFY(!debugger(w)->isLive()); // off by default
    press(w, Qt::Key_F11);
    QTest::keyClick(
        tool(w)->findChild<QCheckBox *>(QStringLiteral("dbg_HashStops")), Qt::Key_Space);
    press(w, Qt::Key_F5);
    QCOMPARE(debugger(w)->position(), 3);
    press(w, Qt::Key_F5);
    QCOMPARE(debugger(w)->position(), 5);
    press(w, Qt::Key_F5);
    QVERIFY(!debugger(w)->isLive());
}

void TestDebugger::tapeEditChangesTheRun()
{
    TestWindow w;
    putCode(w, QStringLiteral("+.>."));
    press(w, Qt::Key_F11);
    press(w, Qt::Key_F11);
    TapeModel *model = tool(w)->tapeModel();
    const int pointer = debugger(w)->dataPointer();
    QCOMPARE(model->data(model->index(pointer, 1), Qt::DisplayRole).toInt(), 1);
    QVERIFY(!model->setData(model->index(pointer, 1), QStringLiteral("256"), Qt::EditRole));
    QVERIFY(!model->setData(model->index(pointer, 1), QStringLiteral("x"), Qt::EditRole));
    QVERIFY(model->setData(model->index(pointer + 1, 1), QStringLiteral("66"), Qt::EditRole));
    QVERIFY(model->setData(model->index(pointer, 1), QStringLiteral(" 65 "), Qt::EditRole));
    QCOMPARE(model->data(model->index(pointer, 2), Qt::DisplayRole).toString(), "41");
    QCOMPARE(model->data(model->index(pointer, 3), Qt::DisplayRole).toString(), "A");
    press(w, Qt::Key_F5);
    QCOMPARE(w.outputText(),
        plainRunOutput(QStringLiteral("+++++++++++++++++++++++++++++++++"
                                      "++++++++++++++++++++++++++++++++.>"
                                      "++++++++++++++++++++++++++++++++++"
                                      "++++++++++++++++++++++++++++++++.")));
}

void TestDebugger::outputIsShownOnceAcrossStepsBack()
{
    TestWindow w;
    putCode(w, QStringLiteral("++++++++[>++++++++<-]>+.+.+."));
    press(w, Qt::Key_F5);
    const QString plain = w.outputText();
    QCOMPARE(plain, plainRunOutput(QStringLiteral("++++++++[>++++++++<-]>+.+.+.")));
    for (int i = 0; i < 5; ++i)
        w.trigger("dbg_StepBack");
    QVERIFY(debugger(w)->isLive());
    press(w, Qt::Key_F5);
    QCOMPARE(w.outputText(), plain);
}

// A click on a character of the output view goes to just after the '.' that printed it, the
// '.' marked; what the run prints after that point is muted until the run gets there again.
void TestDebugger::outputViewGoesToThePrintingCommandAndMutesTheFuture()
{
    const QColor FoundColour(150, 200, 255);
    const QString code = QStringLiteral("++++++++[>++++++++<-]>+.+.\n+.");
    TestWindow w;
    putCode(w, code);
    press(w, Qt::Key_F5);
    auto *view = tool(w)->findChild<OutputView *>(QStringLiteral("dbg_Output"));
    QVERIFY(view);
    const auto future = [&] {
        const QList<QTextEdit::ExtraSelection> marks = view->extraSelections();
        return marks.isEmpty() ? -1 : marks.first().cursor.selectionStart();
    };
    QCOMPARE(view->toPlainText(), QStringLiteral("ABC"));
    QCOMPARE(future(), -1);
    const struct
    {
        int character;
        int dot; // its '.', in the code
        std::int64_t outputs;
    } clicks[] = {{1, 25, 2}, {0, 23, 1}, {2, 28, 3}};
    for (const auto &click : clicks) {
        QTextCursor at(view->document());
        at.setPosition(click.character);
        const QPoint point = view->cursorRect(at).center() + QPoint(2, 0);
        QCOMPARE(view->byteAt(point), click.character);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, point);
        QCOMPARE(debugger(w)->outputs(), click.outputs);
        QCOMPARE(marked(w, FoundColour), QList<int> {click.dot});
        QCOMPARE(future(), click.outputs < 3 ? int(click.outputs) : -1);
    }
    // Stepping back mutes what the steps undid; going on makes it present again.
    w.trigger("dbg_StepBack");
    QCOMPARE(future(), 2);
    press(w, Qt::Key_F5);
    QCOMPARE(future(), -1);
    QCOMPARE(w.outputText(), plainRunOutput(code));
}

// A run with a profile colours each command by how often it ran, puts each line's sum in the
// gutter and lists the loops with the most rounds first.
void TestDebugger::profileShowsHeatFiguresAndHotLoops()
{
    const QString code = QStringLiteral("++[>+++[-]<-]\n>.");
    TestWindow w;
    putCode(w, code);
    press(w, Qt::Key_F11); // a step first: the profile still counts from the start
    tool(w)->findChild<QPushButton *>(QStringLiteral("dbg_RunProfiled"))->click();
    QVERIFY(!debugger(w)->isLive());
    // Every command ran: the heat covers each, the clear loop's body (6 times) the deepest.
    QList<int> heated;
    int hottest = -1, deepest = 0;
    for (const QTextEdit::ExtraSelection &mark : w.code()->extraSelections()) {
        const QColor background = mark.format.background().color();
        if (background.hue() != 24)
            continue;
        for (int at = mark.cursor.selectionStart(); at < mark.cursor.selectionEnd(); ++at)
            heated.append(at);
        if (background.saturation() > deepest) {
            deepest = background.saturation();
            hottest = mark.cursor.selectionStart();
        }
    }
    QCOMPARE(heated, (QList<int> {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15}));
    QCOMPARE(hottest, 8);
    const QHash<int, QString> figures = w.code()->lineFigures();
    QCOMPARE(figures.value(0), QStringLiteral("31"));
    QCOMPARE(figures.value(1), QStringLiteral("2"));
    auto *loops = tool(w)->findChild<QTableWidget *>(QStringLiteral("dbg_HotLoops"));
    QCOMPARE(loops->rowCount(), 2);
    QCOMPARE(loops->item(0, 0)->text(), QStringLiteral("Line 1, column 8"));
    QCOMPARE(loops->item(0, 1)->text(), QStringLiteral("6"));
    QCOMPARE(loops->item(0, 2)->text(), QStringLiteral("2"));
    QCOMPARE(loops->item(0, 3)->text(), QStringLiteral("clear"));
    // A click on a loop shows its "["; an edit takes the counts away with the text they counted.
    emit loops->cellClicked(1, 0);
    QCOMPARE(w.code()->textCursor().position(), 2);
    w.code()->textCursor().insertText(QStringLiteral(" "));
    QVERIFY(w.code()->lineFigures().isEmpty());
}

void TestDebugger::inputComesFromTheInputBox()
{
    TestWindow w;
    putCode(w, QStringLiteral(",+."));
    press(w, Qt::Key_F11);
    QTimer::singleShot(0, w.window.get(), [&w] {
        QVERIFY(stateText(w).contains(QStringLiteral("input")));
        w.input()->setText(QStringLiteral("a"));
        QTest::keyClick(w.input(), Qt::Key_Return);
    });
    press(w, Qt::Key_F5);
    const QString plain = plainRunOutput(QStringLiteral(",+."), QStringLiteral("a"));
    QCOMPARE(w.outputText(), plain);
    // Back before the input and forward again: the byte comes from the history.
    for (int i = 0; i < 3; ++i)
        w.trigger("dbg_StepBack");
    QCOMPARE(debugger(w)->commands(), 0);
    press(w, Qt::Key_F5);
    QCOMPARE(w.outputText(), plain);
    QVERIFY(!w.input()->isEnabled());
}

void TestDebugger::compilingEndsTheDebugging()
{
    TestWindow w;
    putCode(w, QStringLiteral("+.+"));
    press(w, Qt::Key_F11);
    press(w, Qt::Key_F11);
    w.click("kn_load");
    QVERIFY(!debugger(w));
    QVERIFY(stateText(w).contains(QStringLiteral("No program")));
    w.click("kn_run"); // a plain run after it works as ever
    QVERIFY(
        w.outputText().endsWith(QStringLiteral("\x01\r\n")) || w.outputText().contains(QChar(1)));
}

void TestDebugger::closingWhileWaitingForInputClosesCleanly()
{
    TestWindow w;
    putCode(w, QStringLiteral(",."));
    press(w, Qt::Key_F11);
    QTimer::singleShot(0, w.window.get(), [&w] { w->close(); });
    press(w, Qt::Key_F5);
    QVERIFY(!w.isRunning());
    QVERIFY(!debugger(w)->isLive());
    QTRY_VERIFY(!w->isVisible());
    QVERIFY(w.reports.isEmpty());
}

void TestDebugger::closingTheDebuggerWindowEndsTheRun_data()
{
    QTest::addColumn<int>("how"); // 0 the window manager, 1 the Close button, 2 Escape
    QTest::newRow("window manager") << 0;
    QTest::newRow("Close button") << 1;
    QTest::newRow("Escape") << 2;
}

// No run goes on unseen: closing the debugger window ends it, also in the middle of a leg,
// and the next key starts afresh with the window shown.
void TestDebugger::closingTheDebuggerWindowEndsTheRun()
{
    QFETCH(int, how);
    for (const bool duringLeg : {false, true}) {
        TestWindow w;
        putCode(w, duringLeg ? QStringLiteral("+[]") : QStringLiteral("+++"));
        press(w, Qt::Key_F11);
        DebuggerWindow *window = tool(w);
        const auto close = [window, how] {
            if (how == 0) {
                window->close();
            } else if (how == 1) {
                QTest::mouseClick(
                    window->findChild<QPushButton *>(QStringLiteral("dbg_Close")), Qt::LeftButton);
            } else {
                window->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(window));
                QTest::keyClick(window, Qt::Key_Escape);
            }
        };
        if (duringLeg) {
            QTimer::singleShot(50, window, close);
            press(w, Qt::Key_F5);
        } else {
            close();
        }
        QVERIFY(!window->isVisible());
        QVERIFY(!debugger(w));
        QVERIFY(!w.isRunning());
        press(w, Qt::Key_F11);
        QCOMPARE(debugger(w)->commands(), 0);
        QVERIFY(tool(w)->isVisible());
    }
}

void TestDebugger::tapeShowsAndEditsCellsAtTheirWidth()
{
    QSettings settings(QStringLiteral("Cerebrix"), QStringLiteral("Cerebrix"));
    settings.setValue(QStringLiteral("Dialect/CellBits"), 16); // as the dialect dialog keeps it
    settings.setValue(QStringLiteral("Dialect/TapeCells"), 300);
    settings.sync();
    TestWindow w;
    settings.clear();
    putCode(w, QStringLiteral("-."));
    press(w, Qt::Key_F11);
    press(w, Qt::Key_F11);
    TapeModel *model = tool(w)->tapeModel();
    QCOMPARE(model->rowCount(), 300);
    const int pointer = debugger(w)->dataPointer();
    QCOMPARE(pointer, 149);
    QCOMPARE(model->data(model->index(pointer, 1), Qt::DisplayRole).toInt(), 65535);
    QCOMPARE(model->data(model->index(pointer, 2), Qt::DisplayRole).toString(), "FFFF");
    QVERIFY(!model->setData(model->index(pointer, 1), QStringLiteral("65536"), Qt::EditRole));
    QVERIFY(model->setData(model->index(pointer, 1), QStringLiteral("321"), Qt::EditRole));
    QCOMPARE(model->data(model->index(pointer, 2), Qt::DisplayRole).toString(), "0141");
    QCOMPARE(model->data(model->index(pointer, 3), Qt::DisplayRole).toString(), "A");
    press(w, Qt::Key_F5);
    QVERIFY(w.outputText().contains(QLatin1Char('A'))); // "." writes the low byte
}

// From the end of a run, the tape view's menu goes back to the writes of the chosen cell and
// on to its reads, marking the command found, and says when the history has no change left.
void TestDebugger::tapeMenuTravelsToACellsChangesAndReads()
{
    const QColor FoundColour(150, 200, 255);
    TestWindow w;
    putCode(w, QStringLiteral("++>+++<-."));
    press(w, Qt::Key_F11);
    press(w, Qt::Key_F5);
    QVERIFY(!debugger(w)->isLive());
    const int start = debugger(w)->dataPointer();
    auto *tape = tool(w)->findChild<QTableView *>(QStringLiteral("dbg_Tape"));
    auto *menu = tape->findChild<QMenu *>();
    QVERIFY(menu);
    // A right click on a cell selects it and offers the menu.
    const QModelIndex right = tool(w)->tapeModel()->index(start + 1, 0);
    tape->scrollTo(right);
    emit tape->customContextMenuRequested(tape->visualRect(right).center());
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(tape->currentIndex().row(), start + 1);
    menu->hide();
    const struct
    {
        const char *action;
        int cell;
        std::int64_t commands; // where the run stands then
        int found; // the marked command's offset
    } steps[] = {{"dbg_LastChange", start + 1, 6, 5}, {"dbg_FirstRead", start, 7, -1},
        {"dbg_LastChange", start, 2, 1}, {"dbg_LastChange", start, 1, 0},
        {"dbg_LastChange", start, 1, 0}};
    for (const auto &step : steps) {
        tape->setCurrentIndex(tool(w)->tapeModel()->index(step.cell, 0));
        tool(w)->findChild<QAction *>(QLatin1String(step.action))->trigger();
        QCOMPARE(debugger(w)->commands(), step.commands);
        QVERIFY(debugger(w)->isLive());
        QCOMPARE(marked(w, FoundColour), step.found < 0 ? QList<int> {} : QList<int> {step.found});
    }
    // Nothing before the first "+": the run stays, and the notice says so, naming the cell
    // as the view numbers it.
    tool(w)->findChild<QCheckBox *>(QStringLiteral("dbg_RelativeCells"))->setChecked(true);
    tool(w)->findChild<QAction *>(QStringLiteral("dbg_LastChange"))->trigger();
    QVERIFY(tool(w)
                ->findChild<QLabel *>(QStringLiteral("dbg_Notice"))
                ->text()
                .contains(QStringLiteral("Cell 0 ")));
    QCOMPARE(w.outputText(), plainRunOutput(QStringLiteral("++>+++<-.")));
}

// The tape view's menu sets a watchpoint on the chosen cell, listed with the breakpoints; F5
// stops just after each change of the cell, saying so, with the loop around it listed; a click
// on the loop shows its "["; the menu takes the watchpoint away again.
void TestDebugger::watchpointsFromTheTapeMenuAndTheLoopList()
{
    TestWindow w;
    putCode(w, QStringLiteral("+++[>++<-]>."));
    press(w, Qt::Key_F11);
    const int start = debugger(w)->dataPointer();
    auto *tape = tool(w)->findChild<QTableView *>(QStringLiteral("dbg_Tape"));
    auto *list = tool(w)->findChild<QListWidget *>(QStringLiteral("dbg_Breakpoints"));
    auto *loops = tool(w)->findChild<QListWidget *>(QStringLiteral("dbg_Loops"));
    auto *change = tool(w)->findChild<QAction *>(QStringLiteral("dbg_WatchChange"));
    tape->setCurrentIndex(tool(w)->tapeModel()->index(start + 1, 0));
    change->trigger();
    QCOMPARE(list->count(), 1);
    QVERIFY(list->item(0)->text().contains(QStringLiteral("changes")));
    // "+++[>+" and "+": each "+" on the cell is a stop, the rounds counted as they finish.
    for (const auto &[commands, rounds] : {std::pair {6, 0}, {7, 0}, {12, 1}}) {
        press(w, Qt::Key_F5);
        QCOMPARE(debugger(w)->lastStop(), DebugStop::Watchpoint);
        QCOMPARE(debugger(w)->commands(), commands);
        QVERIFY(tool(w)->findChild<QLabel *>(QStringLiteral("dbg_Notice"))->isVisible());
        QCOMPARE(loops->count(), 1);
        QCOMPARE(loops->item(0)->text(),
            QStringLiteral("Line 1, column 4: entered with 3, rounds run: %1").arg(rounds));
    }
    setCaret(w, 0);
    emit loops->itemClicked(loops->item(0));
    QCOMPARE(w.code()->textCursor().selectionStart(), 3);
    tape->setCurrentIndex(tool(w)->tapeModel()->index(start + 1, 0));
    change->trigger();
    QCOMPARE(list->count(), 0);
    press(w, Qt::Key_F5);
    QVERIFY(!debugger(w)->isLive());
    QCOMPARE(loops->count(), 0);
}

void TestDebugger::tapeNumbersCellsAndValuesAsChosen_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("relative");
    QTest::addColumn<bool>("signedValues");
    QTest::addColumn<QString>("language");
    for (int row = 0; row < 8; ++row) {
        const int bits = row & 4 ? 32 : 8;
        const QString language = row % 3 ? QStringLiteral("EN") : QStringLiteral("DE");
        QTest::addRow("%d bits, relative %d, signed %d, %s", bits, row & 1, row >> 1 & 1,
            qPrintable(language))
            << bits << bool(row & 1) << bool(row & 2) << language;
    }
}

// The tape view numbers cells from the start cell or the left end and reads values signed or
// not; the go-to box takes the number as shown; numbers carry the language's separators; and
// the switches are remembered for the next window.
void TestDebugger::tapeNumbersCellsAndValuesAsChosen()
{
    QFETCH(int, bits);
    QFETCH(bool, relative);
    QFETCH(bool, signedValues);
    QFETCH(QString, language);
    const QChar separator = language == QLatin1String("DE") ? QLatin1Char('.') : QLatin1Char(',');
    // Digits grouped by three from the right, the sign kept in front.
    const auto grouped = [separator](qint64 number) {
        QString digits = QString::number(number < 0 ? -number : number);
        for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
            digits.insert(at, separator);
        return number < 0 ? QLatin1Char('-') + digits : digits;
    };
    constexpr int cells = 2001;
    constexpr int start = 1000; // the middle cell, where the run starts
    const std::size_t bytes = std::size_t(bits / 8);
    const std::uint32_t values[] = {0xFFFFFFFFu, 1, 0x80000000u | 0x80, 1234567};
    const int places[] = {0, start, cells - 1, start - 1};
    tDataArr tape(cells * bytes, 0);
    for (std::size_t i = 0; i < std::size(places); ++i)
        for (std::size_t byte = 0; byte < bytes; ++byte)
            tape[std::size_t(places[i]) * bytes + byte] = std::uint8_t(values[i] >> (8 * byte));

    DebuggerTexts texts;
    texts.languageCode = language.toStdString();
    DebuggerWindow window(texts, {}, nullptr);
    window.findChild<QCheckBox *>(QStringLiteral("dbg_RelativeCells"))->setChecked(relative);
    window.findChild<QCheckBox *>(QStringLiteral("dbg_SignedValues"))->setChecked(signedValues);
    window.showTape(&tape, {}, start, true, bits, start);
    TapeModel *model = window.tapeModel();
    auto *box = window.findChild<QSpinBox *>(QStringLiteral("dbg_Cell"));
    QCOMPARE(box->value(), relative ? 0 : start); // the box starts on the start cell
    auto *view = window.findChild<QTableView *>(QStringLiteral("dbg_Tape"));
    for (std::size_t i = 0; i < std::size(places); ++i) {
        const int cell = places[i];
        const qint64 shown = relative ? cell - start : cell;
        QCOMPARE(model->data(model->index(cell, 0), Qt::DisplayRole).toString(), grouped(shown));
        const std::uint32_t value = bits == 8 ? values[i] & 0xFF : values[i];
        const qint64 expected = !signedValues ? qint64(value)
            : bits == 8                       ? qint64(std::int8_t(value))
                                              : qint64(std::int32_t(value));
        QCOMPARE(model->data(model->index(cell, 1), Qt::DisplayRole).toLongLong(), expected);
        box->setValue(int(shown));
        QVERIFY(box->text().endsWith(grouped(shown).section(QLatin1Char('-'), -1)));
        window.findChild<QPushButton *>(QStringLiteral("dbg_GoTo"))->click();
        QCOMPARE(view->currentIndex().row(), cell);
    }
    // A negative value is typed only while values are signed; it is stored at the cell's width.
    QSignalSpy edited(model, &TapeModel::cellEdited);
    QCOMPARE(
        model->setData(model->index(start, 1), QStringLiteral("-2"), Qt::EditRole), signedValues);
    if (signedValues)
        QCOMPARE(edited.value(0).value(1).toLongLong(), (qint64 {1} << bits) - 2);
    QCOMPARE(window.countText(1234567), grouped(1234567));

    const DebuggerWindow next(texts, {}, nullptr);
    QCOMPARE(
        next.findChild<QCheckBox *>(QStringLiteral("dbg_RelativeCells"))->isChecked(), relative);
    QCOMPARE(
        next.findChild<QCheckBox *>(QStringLiteral("dbg_SignedValues"))->isChecked(), signedValues);
    QSettings settings(QStringLiteral("Cerebrix"), QStringLiteral("Cerebrix"));
    settings.remove(QStringLiteral("DebuggerWindow/RelativeCells"));
    settings.remove(QStringLiteral("DebuggerWindow/SignedValues"));
}

void TestDebugger::pauseStopsAnEndlessRunWhereItIs()
{
    TestWindow w;
    putCode(w, QStringLiteral("+[>+<]"));
    auto *pause = w.part<QAction>("dbg_Pause");
    QVERIFY(!pause->isEnabled()); // nothing runs
    QTimer::singleShot(50, w.window.get(), [&w, pause] {
        QVERIFY(pause->isEnabled());
        // Only pause and stop apply while the run goes on.
        QVERIFY(!w.part<QAction>("dbg_StepInto")->isEnabled());
        QVERIFY(stateText(w).contains(QStringLiteral("Running")));
        TapeModel *tape = tool(w)->tapeModel();
        QVERIFY(!(tape->flags(tape->index(0, 1)) & Qt::ItemIsEditable)); // not while it runs
        pause->trigger();
    });
    press(w, Qt::Key_F5);
    QVERIFY(debugger(w)->isLive());
    QCOMPARE(debugger(w)->lastStop(), DebugStop::Paused);
    QVERIFY(debugger(w)->commands() > 100);
    QVERIFY(stateText(w).contains(QStringLiteral("Paused")));
    QVERIFY(!marked(w, CommandColour).isEmpty());
    press(w, Qt::Key_F11); // steps on from there
    QVERIFY(debugger(w)->isLive());
}

void TestDebugger::loadingAnExampleClearsTheBreakpoints()
{
    TestWindow w(QStringLiteral("twoexamples"));
    putCode(w, QStringLiteral("+++"));
    setCaret(w, 2);
    press(w, Qt::Key_F9);
    QCOMPARE(marked(w, BreakpointColour), QList<int> {2});
    w.trigger("PM_DfltProgs1");
    QVERIFY(marked(w, BreakpointColour).isEmpty());
}

QTEST_MAIN(TestDebugger)
#include "tst_debuggerwindow.moc"
