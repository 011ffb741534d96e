#include "codepage.h"
#include "usererror.h"
#include "windowtesting.h"

#include "customwidgets.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QTest>
#include <QTimer>

// Steps typed into the input box: "type:<text>", "set:<text>" (text put in at once),
// "key:Return", "key:Escape".
using Steps = QStringList;

namespace {

void perform(const TestWindow &w, const Steps &steps)
{
    QLineEdit *input = w.input();
    for (const QString &step : steps) {
        const QString arg = step.section(QLatin1Char(':'), 1);
        if (step.startsWith(QLatin1String("type:")))
            QTest::keyClicks(input, arg);
        else if (step.startsWith(QLatin1String("set:")))
            input->setText(arg);
        else if (step == QLatin1String("key:Return"))
            QTest::keyClick(input, Qt::Key_Return);
        else if (step == QLatin1String("key:Escape"))
            QTest::keyClick(input, Qt::Key_Escape);
    }
}

// The byte an input request of the engine returns.
int readInput(const TestWindow &w)
{
    return WindowProbe::readInput(*w.window);
}

} // namespace

class TestConsole : public QObject
{
    Q_OBJECT
private slots:
    void inputEntries_data();
    void inputEntries();
    void inputBoxStates();
    void presetWhileInputAwaited_data();
    void presetWhileInputAwaited();
    void presetWithoutEntryKeepsWaiting_data();
    void presetWithoutEntryKeepsWaiting();
    void presetWhileIdleLeavesNoTrace();
    void dialectChosenInItsDialogRunsAndIsRemembered();
    void badNumberIsReportedAndRunEnds();
    void breakStopsEndlessLoop();
    void breakDuringInputWaitStopsAfterEntry();
    void closingDuringRunEndsIt();
    void closingDuringInputWaitEndsIt();
    void inputRequestEndsTitleView();
    void reportLinesShareLinesWithOutput_data();
    void reportLinesShareLinesWithOutput();
    void outputPastLimitStopsRun();
    void batchedOutputShowsWhatFits_data();
    void batchedOutputShowsWhatFits();
    void lineBreaksPastLineLimitStopRun();
    void pastePastLimitIsRefused_data();
    void pastePastLimitIsRefused();
    void typedNumbers_data();
    void typedNumbers();
    void consecutiveRuns_data();
    void consecutiveRuns();
    void faultLinesStayAboveLaterOutput_data();
    void faultLinesStayAboveLaterOutput();
};

void TestConsole::inputEntries_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<int>("expected");
    QTest::newRow("A") << Steps {"type:A", "key:Return"} << 65;
    QTest::newRow("A with blanks") << Steps {"type: A ", "key:Return"} << 65;
    QTest::newRow("Hello") << Steps {"type:Hello", "key:Return"} << 72;
    QTest::newRow("#65") << Steps {"type:#65", "key:Return"} << 65;
    QTest::newRow("#$41") << Steps {"type:#$41", "key:Return"} << 65;
    QTest::newRow("#0x41") << Steps {"type:#0x41", "key:Return"} << 65;
    QTest::newRow("# 65 leading blank") << Steps {"type:# 65", "key:Return"} << 65;
    QTest::newRow("#300") << Steps {"type:#300", "key:Return"} << 44;
    QTest::newRow("#256") << Steps {"type:#256", "key:Return"} << 0;
    QTest::newRow("#-1") << Steps {"type:#-1", "key:Return"} << 255;
    QTest::newRow("#1000") << Steps {"type:#1000", "key:Return"} << 232;
    QTest::newRow("e acute") << Steps {"set:\u00e9", "key:Return"} << 233;
    QTest::newRow("euro sign") << Steps {"set:\u20ac", "key:Return"} << 128;
    QTest::newRow("Escape") << Steps {"type:A", "key:Escape"} << 0;
    QTest::newRow("Escape after empty Return") << Steps {"key:Return", "key:Escape"} << 0;
    QTest::newRow("blanks only are not taken")
        << Steps {"type:   ", "key:Return", "type:B", "key:Return"} << 66;
    QTest::newRow("typing after empty Return waits for Return")
        << Steps {"key:Return", "type:A", "key:Escape"} << 0;
    QTest::newRow("typed number after empty Return")
        << Steps {"key:Return", "type:#66", "key:Return"} << 66;
    // Cut to 255 characters the entry reads "#0...06"; uncut, its "5x" would be no number.
    QTest::newRow("entry cut to 255 characters")
        << Steps {QStringLiteral("set:#") + QString(253, u'0') + QStringLiteral("65x"),
               "key:Return"}
        << 6;
}

void TestConsole::typedNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("decimal") << "65" << true << 65;
    QTest::newRow("blanks and sign") << " -1" << true << -1;
    QTest::newRow("dollar") << "$41" << true << 65;
    QTest::newRow("x") << "x41" << true << 65;
    QTest::newRow("X") << "X41" << true << 65;
    QTest::newRow("0x") << "0x41" << true << 65;
    QTest::newRow("0X is no prefix of typed numbers") << "0X41" << false << 0;
    QTest::newRow("0X after a sign") << "-0X41" << false << 0;
    QTest::newRow("trailing letter") << "65x" << false << 0;
}

// The integer conversion of typed numbers names $, x, X and 0x as hexadecimal prefixes.
void TestConsole::typedNumbers()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    if (valid) {
        QCOMPARE(convertToInteger(text, MessageTexts()), value);
        return;
    }
    QVERIFY_THROWS_EXCEPTION(UserError, convertToInteger(text, MessageTexts()));
}

void TestConsole::inputEntries()
{
    QFETCH(Steps, steps);
    QFETCH(int, expected);
    TestWindow w;
    QTimer::singleShot(0, w.window.get(), [&] { perform(w, steps); });
    QCOMPARE(readInput(w), expected);
    QVERIFY(w.reports.isEmpty());
}

void TestConsole::inputBoxStates()
{
    TestWindow w;
    QLineEdit *input = w.input();
    const QColor idle = input->palette().color(QPalette::Base);
    bool waitingEnabled = false;
    QColor waitingColour;
    QString waitingText = QStringLiteral("not emptied");
    QTimer::singleShot(0, w.window.get(), [&] {
        waitingEnabled = input->isEnabled();
        waitingColour = input->palette().color(QPalette::Base);
        waitingText = input->text();
        perform(w, {"type:x", "key:Return"});
    });
    QCOMPARE(readInput(w), int('x'));
    QVERIFY(waitingEnabled);
    QVERIFY(waitingText.isEmpty());
    QVERIFY(waitingColour != idle);
    QVERIFY(!input->isEnabled());
    QCOMPARE(input->palette().color(QPalette::Base), idle);
    QCOMPARE(input->text(), QStringLiteral("x")); // the box keeps the entry
}

void TestConsole::presetWhileInputAwaited_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("expected");
    QTest::newRow("carriage return") << "n13CR"
                                     << "#13 carr/ret" << 13;
    QTest::newRow("blank, two blanks in caption") << "N32Leerzeichen1"
                                                  << "#32  Leerzeichen" << 32;
    QTest::newRow("null") << "n0null"
                          << "#0 Null" << 0;
    QTest::newRow("maxbyte") << "n255"
                             << "#255 maxbyte" << 255;
    QTest::newRow("no blank: whole caption") << "N9Tabulator1"
                                             << "#9" << 9;
}

void TestConsole::presetWhileInputAwaited()
{
    QFETCH(QString, item);
    QFETCH(QString, caption);
    QFETCH(int, expected);
    TestWindow w;
    auto *action = w->findChild<QAction *>(item);
    QVERIFY(action);
    action->setText(caption);
    QTimer::singleShot(0, w.window.get(), [action] { action->trigger(); });
    QCOMPARE(readInput(w), expected);
}

void TestConsole::presetWithoutEntryKeepsWaiting_data()
{
    QTest::addColumn<QString>("caption");
    QTest::newRow("empty caption") << QString();
    QTest::newRow("caption beginning with a blank") << QStringLiteral(" #65");
}

void TestConsole::presetWithoutEntryKeepsWaiting()
{
    QFETCH(QString, caption);
    TestWindow w;
    auto *blank = w.part<QAction>("N32Leerzeichen1");
    blank->setText(caption);
    bool stillWaiting = false;
    QTimer::singleShot(0, w.window.get(), [&] {
        blank->trigger();
        stillWaiting = w.input()->isEnabled();
        perform(w, {"key:Escape"});
    });
    QCOMPARE(readInput(w), 0);
    QVERIFY(stillWaiting);
    QVERIFY(w.reports.isEmpty());
}

// 16-bit cells, all ones at the end of the input: the "end of input" preset answers the ","
// with 65,535 (its low byte shows), and 256 is no longer 0. The next window starts with it.
void TestConsole::dialectChosenInItsDialogRunsAndIsRemembered()
{
    const auto chooseInDialog = [](int cellBits, int endOfInput) {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        dialog->findChild<QComboBox *>(QStringLiteral("dlg_CellBits"))->setCurrentIndex(cellBits);
        dialog->findChild<QComboBox *>(QStringLiteral("dlg_EndOfInput"))
            ->setCurrentIndex(endOfInput);
        dialog->accept();
    };
    {
        TestWindow w;
        QTimer::singleShot(0, w.window.get(), [&] { chooseInDialog(1, 1); });
        w.trigger("PMC_Dialect");
        w.compile(
            QStringLiteral(",.>++++++++[>++++++++<-]>[<++++>-]<[[-]>+<]>>++++++++[<++++++++>-]<."));
        QTimer::singleShot(0, w.window.get(), [&w] { w.trigger("nEndOfInput"); });
        w.click("kn_run");
        QVERIFY2(w.outputText().contains(QStringLiteral("\u00FFA")), qPrintable(w.outputText()));
        QVERIFY(w.reports.isEmpty());
    }
    TestWindow next;
    int shownBits = -1;
    QTimer::singleShot(0, next.window.get(), [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        shownBits = dialog->findChild<QComboBox *>(QStringLiteral("dlg_CellBits"))->currentIndex();
        dialog->reject();
    });
    next.trigger("PMC_Dialect");
    QSettings(QStringLiteral("Cerebrix"), QStringLiteral("Cerebrix")).clear();
    QCOMPARE(shownBits, 1);
}

void TestConsole::presetWhileIdleLeavesNoTrace()
{
    TestWindow w;
    auto *carriageReturn = w.part<QAction>("n13CR");
    carriageReturn->setText(QStringLiteral("#13 carr/ret"));
    carriageReturn->trigger(); // no input awaited
    // Had the preset's Return stayed pending, "#" alone would be taken as the entry.
    QTimer::singleShot(0, w.window.get(), [&] { perform(w, {"type:#65", "key:Return"}); });
    QCOMPARE(readInput(w), 65);
    QVERIFY(w.reports.isEmpty());
}

void TestConsole::badNumberIsReportedAndRunEnds()
{
    TestWindow w;
    w.compile(QStringLiteral(",."));
    QTimer::singleShot(0, w.window.get(), [&] { perform(w, {"type:#abc", "key:Return"}); });
    w.click("kn_run");
    QCOMPARE(w.reports, QStringList {QStringLiteral("'abc' ist kein g\u00fcltiger Integerwert.")});
    // The run ended at the ",": no output, no closing line break, but the window is idle.
    QCOMPARE(w.outputText(), outputStart());
    QVERIFY(!w.isRunning());
    QVERIFY(!w.input()->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(WindowProbe::engine(*w.window)->m_tapeSize, 0);
    // "#" alone fails the same way.
    QTimer::singleShot(0, w.window.get(), [&] { perform(w, {"type:#", "key:Return"}); });
    w.click("kn_run");
    QCOMPARE(w.reports.value(1), QStringLiteral("'' ist kein g\u00fcltiger Integerwert."));
}

void TestConsole::breakStopsEndlessLoop()
{
    TestWindow w;
    w.compile(QStringLiteral("+[>+<]"));
    bool busyDuringRun = false;
    QTimer::singleShot(0, w.window.get(), [&] {
        busyDuringRun =
            QApplication::overrideCursor() != nullptr && w.part("kn_Break")->isVisible();
        w.click("kn_Break");
    });
    w.click("kn_run");
    QVERIFY(busyDuringRun);
    QVERIFY(w.part("kn_Break")->isHidden());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(w.outputText(), outputStart() + QStringLiteral("\r\n")); // no error line
}

void TestConsole::breakDuringInputWaitStopsAfterEntry()
{
    TestWindow w;
    w.compile(QStringLiteral(",.,."));
    QTimer::singleShot(0, w.window.get(), [&] {
        w.click("kn_Break");
        perform(w, {"type:A", "key:Return"});
    });
    w.click("kn_run");
    QCOMPARE(w.outputText(), QStringLiteral("(Outp)\r\n \r\n\r\n"));
}

void TestConsole::closingDuringRunEndsIt()
{
    TestWindow w;
    w.compile(QStringLiteral("+[]"));
    QTimer::singleShot(0, w.window.get(), [&] { w->close(); });
    w.click("kn_run");
    QVERIFY(!w.isRunning());
    QTRY_VERIFY(!w->isVisible());
}

void TestConsole::closingDuringInputWaitEndsIt()
{
    TestWindow w;
    w.compile(QStringLiteral(",+[]"));
    QTimer::singleShot(0, w.window.get(), [&] { w->close(); });
    w.click("kn_run");
    QVERIFY(!w.isRunning());
    QTRY_VERIFY(!w->isVisible());
    QVERIFY(w.reports.isEmpty());
}

void TestConsole::inputRequestEndsTitleView()
{
    TestWindow w;
    w.compile(QStringLiteral(","));
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(w.part("Label3"), &enter);
    QVERIFY(w.part("Panel1")->isHidden());
    bool boxVisible = false;
    QTimer::singleShot(0, w.window.get(), [&] {
        boxVisible = w.input()->isVisible();
        perform(w, {"key:Escape"});
    });
    w.trigger("PMC_RUN"); // from the menu: the mouse stays over the title
    QVERIFY(boxVisible);
}

void TestConsole::consecutiveRuns_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("expected");
    // ++++++++[>++++++++<-]>+ leaves 65 ("A") in cell 1; "++++++++++." prints a line feed.
    const QString a = QStringLiteral("++++++++[>++++++++<-]>+.");
    const QString lf = QStringLiteral(">++++++++++.");
    QTest::newRow("ends with line feed: one empty line between")
        << a + lf << QStringLiteral("(Outp)\r\nA\r\n\r\nA\r\n\r\n\r\n");
    QTest::newRow("ends without break: next line")
        << a << QStringLiteral("(Outp)\r\nA\r\nA\r\n\r\n");
    QTest::newRow("first byte line feed pairs with closing CR")
        << lf + QStringLiteral("<<") + a << QStringLiteral("(Outp)\r\n \r\nA\r\nA\r\n\r\n");
}

void TestConsole::consecutiveRuns()
{
    QFETCH(QString, code);
    QFETCH(QString, expected);
    TestWindow w;
    w.compile(code);
    w.click("kn_run");
    w.click("kn_run");
    QCOMPARE(w.outputText(), expected);
}

void TestConsole::faultLinesStayAboveLaterOutput_data()
{
    QTest::addColumn<QStringList>("codes"); // each compiled and run in turn
    QTest::addColumn<QString>("expected");
    const QString a = QStringLiteral("++++++++[>++++++++<-]>+.");
    const QString below = QStringLiteral("access below data-area\r\n");
    const QString fault = a + QString(32769, u'<'); // the data pointer starts mid-tape
    QTest::newRow("run fault, then a run that prints")
        << QStringList {fault, fault}
        << QStringLiteral("(Outp)\r\nA\r\n\r\n") + below + QStringLiteral("A\r\n\r\n") + below;
    QTest::newRow("bracket fault, then a run that prints")
        << QStringList {QStringLiteral("]"), a}
        << QStringLiteral("(Outp)\r\n \r\ntoo many closing brackets\r\nA\r\n\r\n");
}

void TestConsole::faultLinesStayAboveLaterOutput()
{
    QFETCH(QStringList, codes);
    QFETCH(QString, expected);
    TestWindow w(QStringLiteral("typical")); // data wrap off
    for (const QString &code : codes) {
        w.compile(code);
        if (code != QLatin1String("]")) // an unpaired "]" would run forever
            w.click("kn_run");
    }
    QCOMPARE(w.outputText(), expected);
}

void TestConsole::reportLinesShareLinesWithOutput_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<bool>("listFirst");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("runs");
    QTest::addColumn<QString>("ending");
    // A listing ends with a line break: the output that follows takes its empty last line.
    QTest::newRow("output after a listing")
        << QString() << true << QStringLiteral("[-]") + QString(65, u'+') + QStringLiteral(".") << 1
        << QStringLiteral(" 65\r\n \r\nA\r\n\r\n"); // no listing words: " " for "."
    // The closing line break of a run after a fault line makes the one empty line between.
    QTest::newRow("two faults in a row")
        << QStringLiteral("typical") << false << QStringLiteral("+[<+]") << 2
        << QStringLiteral("data-area\r\n\r\naccess below data-area\r\n");
}

void TestConsole::reportLinesShareLinesWithOutput()
{
    QFETCH(QString, fixture);
    QFETCH(bool, listFirst);
    QFETCH(QString, code);
    QFETCH(int, runs);
    QFETCH(QString, ending);
    TestWindow w(fixture);
    w.clearOutput();
    w.compile(code);
    if (listFirst)
        w.trigger("PMC_DisAsm");
    for (int i = 0; i < runs; ++i)
        w.click("kn_run");
    const QString text = w.outputText();
    QVERIFY2(text.endsWith(ending),
        qPrintable(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("|"))));
}

void TestConsole::outputPastLimitStopsRun()
{
    TestWindow w;
    w.output()->setCharacterLimit(20000);
    w.compile(QStringLiteral("++++++++[>++++++++<-]>+[.]"));
    w.click("kn_run");
    const QString text = w.outputText();
    QVERIFY(text.startsWith(QStringLiteral("(Outp)\r\nAAA")));
    QVERIFY(text.contains(QStringLiteral("das Ausgabefeld ist voll (20000 Zeichen)\r\n")));
    QVERIFY(w.output()->document()->characterCount() > 10000);
    QVERIFY(w.output()->document()->characterCount() < 20100);
    QVERIFY(!w.isRunning());
}

void TestConsole::batchedOutputShowsWhatFits_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("characters");
    QTest::addColumn<int>("lines");
    QTest::newRow("a letter and two breaks, four lines") << QByteArray("A\n\n") << 20 << 4;
    QTest::newRow("one long line past the characters") << QByteArray(300, 'x') << 60 << 0;
    QTest::newRow("breaks past the lines") << QByteArray(50, '\n') << 0 << 10;
    QRandomGenerator random(19);
    for (int row = 0; row < 6; ++row) {
        QByteArray bytes;
        for (int i = 0; i < 200; ++i)
            bytes.append("ab\r\n\0"[random.bounded(5)]);
        QTest::addRow("random output %d", row)
            << bytes << 20 + 10 * row << int(random.bounded(4, 30));
    }
}

// Output that passes a limit in the middle of a batch shows what fits, as byte by byte.
void TestConsole::batchedOutputShowsWhatFits()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, characters);
    QFETCH(int, lines);
    QString shown[2];
    for (const bool eachByte : {true, false}) {
        TestWindow w;
        w.output()->setCharacterLimit(characters);
        w.output()->setLineLimit(lines);
        for (const char byte : std::as_const(bytes)) {
            WindowProbe::outputByte(*w.window, std::uint8_t(byte));
            if (eachByte)
                WindowProbe::outputText(*w.window);
        }
        shown[eachByte] = WindowProbe::outputText(*w.window);
    }
    QVERIFY(shown[1].contains(QStringLiteral("Ausgabefeld ist voll")));
    QCOMPARE(shown[0], shown[1]);
}

void TestConsole::lineBreaksPastLineLimitStopRun()
{
    TestWindow w;
    w.output()->setLineLimit(5000);
    w.compile(QStringLiteral("++++++++++[.]"));
    w.click("kn_run");
    QVERIFY(!w.isRunning());
    QVERIFY(w.outputText().endsWith(
        QStringLiteral("\r\nProgramm angehalten: das Ausgabefeld ist voll (5000 Zeilen)\r\n")));
    QVERIFY(w.output()->document()->blockCount() > 5000 - 4200); // all the batches that fit
    QVERIFY(w.output()->document()->blockCount() <= 5002);
}

void TestConsole::pastePastLimitIsRefused_data()
{
    QTest::addColumn<QString>("pane");
    QTest::newRow("code pane") << QStringLiteral("re_code");
    QTest::newRow("output pane") << QStringLiteral("re_outp");
}

void TestConsole::pastePastLimitIsRefused()
{
    QFETCH(QString, pane);
    TestWindow w;
    auto *edit = w->findChild<LimitedTextEdit *>(pane);
    const QString before = edit->toPlainText();
    edit->setCharacterLimit(before.size() + 5);
    edit->setReadOnly(false);
    QApplication::clipboard()->setText(QStringLiteral("0123456789"));
    edit->paste();
    QCOMPARE(edit->toPlainText(), before);
    QCOMPARE(w.reports.size(), 1);
    QApplication::clipboard()->setText(QStringLiteral("0123"));
    edit->paste();
    QCOMPARE(edit->toPlainText().size(), before.size() + 4);
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
