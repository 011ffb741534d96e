#include "windowtesting.h"

#include "codepage.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QStringList captions(const QMenu *menu)
{
    QStringList result;
    for (const QAction *item : menu->actions())
        result.append(item->isSeparator() ? QStringLiteral("-") : item->text());
    return result;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// The compiled program's commands.
QString programText(const TestWindow &w)
{
    const tBF &engine = *WindowProbe::engine(*w.window);
    return QString::fromLatin1(engine.m_code.data() + 1, engine.m_codeLength);
}

// Whether the run button and the run and disassemble items are all on (or all off).
bool runCommandsAre(const TestWindow &w, bool enabled)
{
    for (const char *name : {"PMC_RUN", "PMC_DisAsm"}) {
        if (w.part<QAction>(name)->isEnabled() != enabled)
            return false;
    }
    return w.part("kn_run")->isEnabled() == enabled;
}

bool runEnabled(const TestWindow &w)
{
    return runCommandsAre(w, true);
}

bool runDisabled(const TestWindow &w)
{
    return runCommandsAre(w, false);
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT
private slots:
    void typicalUseEndToEnd();
    void compile_data();
    void compile();
    void editingWithdrawsRun();
    void runFaultsBecomeLines_data();
    void runFaultsBecomeLines();
    void compileAndRunIgnoredDuringRun();
    void filter_data();
    void filter();
    void disassembleAppendsListing_data();
    void disassembleAppendsListing();
    void clearThenRun();
    void openSaveRoundTrip_data();
    void openSaveRoundTrip();
    void dialogsProposeEachOthersNames();
    void unreadableFileIsReported();
    void failedSaveIsReported();
    void tooLargeFileIsRefused();
    void exampleItems_data();
    void exampleItems();
    void menusFromConfiguration_data();
    void menusFromConfiguration();
    void emptyRunCaption();
    void configurationFromFixture();
    void unreadableConfigurationIsReportedAfterOpening();
};

void TestCommands::typicalUseEndToEnd()
{
    TestWindow w(QStringLiteral("typical"));
    QAction *example = w.part<QMenu>("pm_DefltProgs")->actions().value(0);
    QCOMPARE(example->text(), QStringLiteral("1 Echo one byte"));
    example->trigger();
    QCOMPARE(w.codeText(), QStringLiteral(", read ; comment\r\n. write\r\n"));
    QVERIFY(runDisabled(w));
    w.click("kn_load");
    QVERIFY(runEnabled(w));
    QCOMPARE(programText(w), QStringLiteral(",."));
    QTimer::singleShot(0, w.window.get(), [&] {
        QTest::keyClicks(w.input(), QStringLiteral("Z"));
        QTest::keyClick(w.input(), Qt::Key_Return);
    });
    w.trigger("PMC_RUN");
    QCOMPARE(w.outputText(), QStringLiteral("(Outp)\r\nZ\r\n\r\n"));
    QVERIFY(w.reports.isEmpty());
    QVERIFY(!w.isRunning());
}

void TestCommands::compile_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("program"); // empty: nothing compiled
    QTest::addColumn<QString>("outputLine"); // empty: none
    QTest::newRow("comments and blanks") << QStringLiteral("+++ ; word\n  >[-]<  ;; word")
                                         << QStringLiteral("+++>[-]<") << QString();
    QTest::newRow("only comment lines") << QStringLiteral(";a\n;b") << QString() << QString();
    QTest::newRow("letters only") << QStringLiteral("abc") << QStringLiteral("") << QString();
    QTest::newRow("lone closing bracket") << QStringLiteral("]") << QStringLiteral("]")
                                          << QStringLiteral("too many closing brackets");
    QTest::newRow("unclosed bracket") << QStringLiteral("[+") << QStringLiteral("[+")
                                      << QStringLiteral("too little closing brackets");
}

void TestCommands::compile()
{
    QFETCH(QString, code);
    QFETCH(QString, program);
    QFETCH(QString, outputLine);
    TestWindow w;
    w.compile(code);
    if (program.isNull()) {
        QVERIFY(runDisabled(w));
        QCOMPARE(WindowProbe::engine(*w.window)->m_codeArrayLength, 0);
    } else {
        QVERIFY(runEnabled(w));
        QCOMPARE(programText(w), program);
    }
    QCOMPARE(w.outputText(),
        outputLine.isEmpty() ? outputStart() : outputStart() + outputLine + QStringLiteral("\r\n"));
    if (!program.isNull() && program.isEmpty()) {
        w.click("kn_run"); // runs, printing nothing but the closing line break
        QCOMPARE(w.outputText(), outputStart() + QStringLiteral("\r\n"));
    }
}

void TestCommands::editingWithdrawsRun()
{
    TestWindow w;
    w.compile(QStringLiteral("+."));
    QVERIFY(runEnabled(w));
    w.code()->setFocus();
    QTest::keyClick(w.code(), Qt::Key_A);
    QVERIFY(runDisabled(w));
    // The engine keeps its program; only the commands are withdrawn.
    QCOMPARE(programText(w), QStringLiteral("+."));
}

void TestCommands::runFaultsBecomeLines_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("line");
    QTest::newRow("above, replaced text") << QString(32769, u'>') << "oberhalb des Bandes";
    QTest::newRow("below, built-in text") << QString(32768, u'<') << "access below data-area";
}

void TestCommands::runFaultsBecomeLines()
{
    QFETCH(QString, code);
    QFETCH(QString, line);
    TestWindow w(QStringLiteral("typical")); // data wrap off
    w.compile(code);
    w.click("kn_run");
    QCOMPARE(
        w.outputText(), outputStart() + QStringLiteral("\r\n") + line + QStringLiteral("\r\n"));
    QCOMPARE(WindowProbe::engine(*w.window)->m_tapeSize, 0);
}

void TestCommands::compileAndRunIgnoredDuringRun()
{
    TestWindow w;
    w.compile(QStringLiteral("+[]"));
    QTimer::singleShot(0, w.window.get(), [&] {
        w.code()->setPlainText(QStringLiteral("++."));
        w.click("kn_load");
        w.part<QAction>("PMC_RUN")->setEnabled(true);
        w.trigger("PMC_RUN");
        w.click("kn_Break");
    });
    w.click("kn_run");
    QCOMPARE(programText(w), QStringLiteral("+[]"));
    QCOMPARE(w.outputText(), outputStart() + QStringLiteral("\r\n"));
    QVERIFY(w.reports.isEmpty());
}

void TestCommands::filter_data()
{
    QTest::addColumn<QString>("selection");
    QTest::addColumn<QString>("result");
    const QString commands64 = QString(32, u'+') + QString(32, u'[');
    QTest::newRow("no command") << "abc"
                                << "\r\n\r\n\r\n";
    QTest::newRow("five characters") << "ab+c-"
                                     << "\r\n\r\n+-\r\n";
    QTest::newRow("64 commands") << commands64 + QStringLiteral("x")
                                 << QStringLiteral("\r\n\r\n") + commands64 +
            QStringLiteral("\r\n\r\n");
    QTest::newRow("65 commands") << commands64 + QStringLiteral("y.")
                                 << QStringLiteral("\r\n\r\n") + commands64 +
            QStringLiteral("\r\n.\r\n");
    QTest::newRow("over lines") << "+a\n-b;c"
                                << "\r\n\r\n+-\r\n";
}

void TestCommands::filter()
{
    QFETCH(QString, selection);
    QFETCH(QString, result);
    TestWindow w;
    w.compile(QStringLiteral("<") + selection + QStringLiteral(">"));
    QTextCursor cursor = w.code()->textCursor();
    cursor.setPosition(1);
    cursor.setPosition(1 + selection.size(), QTextCursor::KeepAnchor);
    w.code()->setTextCursor(cursor);
    QVERIFY(runEnabled(w));
    w.trigger("PMC_FilterCode");
    QCOMPARE(w.codeText(), QStringLiteral("<") + result + QStringLiteral(">"));
    QCOMPARE(w.code()->textCursor().position(), 1 + QString(result).remove(u'\r').size());
    QVERIFY(runDisabled(w));
}

void TestCommands::disassembleAppendsListing_data()
{
    QTest::addColumn<QString>("code");
    QTest::newRow("program") << QStringLiteral("+++[->+<]");
    QTest::newRow("no command") << QStringLiteral("abc");
}

void TestCommands::disassembleAppendsListing()
{
    QFETCH(QString, code);
    TestWindow w;
    w.compile(code);
    WindowProbe::outputByte(*w.window, 'x'); // the console's line is left alone
    w.trigger("PMC_DisAsm");
    const QString listing = fromCp1252(WindowProbe::engine(*w.window)->Disassemble());
    QCOMPARE(WindowProbe::outputText(*w.window),
        QStringLiteral("(Outp)\r\nx\r\n") + listing + QStringLiteral("\r\n"));
    WindowProbe::outputByte(*w.window, 'y');
    QVERIFY(WindowProbe::outputText(*w.window).endsWith(QStringLiteral("\r\nxy\r\n")));
}

void TestCommands::clearThenRun()
{
    TestWindow w;
    w.compile(QStringLiteral("++++++++[>++++++++<-]>+."));
    WindowProbe::outputByte(*w.window, 'q');
    w.clearOutput();
    QCOMPARE(WindowProbe::outputText(*w.window), QStringLiteral("(Outp)\r\n \r\n\r\n"));
    w.click("kn_run");
    QCOMPARE(WindowProbe::outputText(*w.window), QStringLiteral("(Outp)\r\n \r\nqA\r\n\r\n"));
}

void TestCommands::openSaveRoundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("ASCII") << QByteArray("+\r\n-") << QStringLiteral("+\r\n-")
                           << QByteArray("+\r\n-");
    QTest::newRow("UTF-8") << QByteArray("\xc3\xa9+\r\n\xe2\x82\xac")
                           << QStringLiteral("\u00e9+\r\n\u20ac")
                           << QByteArray("\xc3\xa9+\r\n\xe2\x82\xac");
    QTest::newRow("Windows-1252") << QByteArray("\xe9+\r\n\x80\x81")
                                  << QStringLiteral("\u00e9+\r\n\u20ac\u0081")
                                  << QByteArray("\xe9+\r\n\x80\x81");
    QTest::newRow("UTF-8 with byte order mark")
        << QByteArray("\xef\xbb\xbf+\r\n") << QStringLiteral("+\r\n")
        << QByteArray("\xef\xbb\xbf+\r\n");
    QTest::newRow("line and paragraph separators")
        << QByteArray("+\xe2\x80\xa8-\xe2\x80\xa9.\r\n") << QStringLiteral("+\ue028-\ue029.\r\n")
        << QByteArray("+\xe2\x80\xa8-\xe2\x80\xa9.\r\n");
    QTest::newRow("stand-ins in the file")
        << QByteArray("\xee\x80\xa8+\r\n") << QStringLiteral("\ue028+\r\n")
        << QByteArray("\xee\x80\xa8+\r\n");
    QTest::newRow("UTF-8 cut off at the end")
        << QByteArray("+\r\n\xec") << QStringLiteral("+\r\n\u00ec") << QByteArray("+\r\n\xec");
    // A file keeps its line breaks; one that mixes them takes its first one's.
    QTest::newRow("line feeds") << QByteArray("a\nb\n") << QStringLiteral("a\r\nb\r\n")
                                << QByteArray("a\nb\n");
    QTest::newRow("carriage returns")
        << QByteArray("a\rb") << QStringLiteral("a\r\nb") << QByteArray("a\rb");
    QTest::newRow("mixed breaks") << QByteArray("a\nb\rc\r\n") << QStringLiteral("a\r\nb\r\nc\r\n")
                                  << QByteArray("a\nb\nc\n");
}

void TestCommands::openSaveRoundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QFETCH(QByteArray, saved);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("in.bf"));
    const QString target = dir.filePath(QStringLiteral("out.bf"));
    writeFile(source, bytes);
    TestWindow w;
    w.compile(QStringLiteral("+"));
    WindowProbe::setChooseFile(*w.window, [&](QFileDialog &dialog, const QString &) {
        return dialog.objectName() == QLatin1String("od_bf_fileopen") ? source : target;
    });
    w.trigger("PMC_Fileload");
    QCOMPARE(w.codeText(), shown);
    QVERIFY(runDisabled(w));
    w.trigger("PMC_Filesave");
    QCOMPARE(readFile(target), saved);
    QVERIFY(w.reports.isEmpty());
}

void TestCommands::dialogsProposeEachOthersNames()
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("first.bf"));
    const QString second = dir.filePath(QStringLiteral("second.bf"));
    writeFile(first, "+");
    TestWindow w;
    QStringList proposals;
    QString answer = first;
    WindowProbe::setChooseFile(*w.window, [&](QFileDialog &, const QString &name) {
        proposals.append(name);
        return answer;
    });
    w.trigger("PMC_Fileload");
    answer = second;
    w.trigger("PMC_Filesave"); // proposes the opened name
    answer = QString(); // cancelled
    w.trigger("PMC_Fileload"); // proposes the saved name
    QCOMPARE(proposals, (QStringList {QString(), first, second}));
    QCOMPARE(readFile(second), QByteArray("+"));
}

void TestCommands::unreadableFileIsReported()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.bf"));
    TestWindow w;
    QString proposal = QStringLiteral("(not asked)");
    WindowProbe::setChooseFile(*w.window, [&](QFileDialog &dialog, const QString &name) {
        if (dialog.objectName() == QLatin1String("od_bf_fileopen"))
            return missing;
        proposal = name;
        return QString(); // cancelled
    });
    w.trigger("PMC_Fileload");
    QCOMPARE(w.reports,
        QStringList {QStringLiteral("Datei %1 kann nicht ge\u00f6ffnet werden.").arg(missing)});
    QCOMPARE(w.codeText(), QStringLiteral("(code)"));
    w.trigger("PMC_Filesave"); // proposes no name: nothing was opened
    QCOMPARE(proposal, QString());
}

void TestCommands::failedSaveIsReported()
{
    QTemporaryDir dir;
    const QString opened = dir.filePath(QStringLiteral("kept.bf"));
    const QString impossible = dir.filePath(QStringLiteral("no/such/folder/x.bf"));
    writeFile(opened, "old");
    TestWindow w;
    QString proposal;
    bool opening = true;
    WindowProbe::setChooseFile(*w.window, [&](QFileDialog &dialog, const QString &name) {
        if (dialog.objectName() == QLatin1String("od_bf_filesave"))
            return impossible;
        proposal = name;
        return opening ? opened : QString(); // the second time cancelled
    });
    w.trigger("PMC_Fileload");
    w.code()->setPlainText(QStringLiteral("new"));
    w.trigger("PMC_Filesave");
    QCOMPARE(w.reports,
        QStringList {QStringLiteral("Datei %1 kann nicht erstellt werden.").arg(impossible)});
    opening = false;
    w.trigger("PMC_Fileload"); // proposes the file still open, not the failed name
    QCOMPARE(proposal, opened);
    QCOMPARE(w.codeText(), QStringLiteral("new"));
    QCOMPARE(readFile(opened), QByteArray("old"));
}

void TestCommands::tooLargeFileIsRefused()
{
    QTemporaryDir dir;
    // Markers in the name stay as they are: the message's own are replaced in one pass.
    const QString big = dir.filePath(QStringLiteral("x%2y%1z.bf"));
    writeFile(big, QByteArray(20, '+'));
    TestWindow w;
    w.code()->setCharacterLimit(10);
    WindowProbe::setChooseFile(*w.window, [&](QFileDialog &, const QString &) { return big; });
    w.trigger("PMC_Fileload");
    QCOMPARE(w.reports,
        QStringList {QStringLiteral("Datei ") + big +
            QStringLiteral(" ist zu gro\u00df f\u00fcr das Codefeld (h\u00f6chstens 10 "
                           "Zeichen)")});
    QCOMPARE(w.codeText(), QStringLiteral("(code)"));
}

void TestCommands::exampleItems_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("report");
    QTest::newRow("number and title") << "1 Hello World"
                                      << "++++\r\n.\r\n"
                                      << QString();
    QTest::newRow("missing example") << "2 x"
                                     << "" << QString();
    QTest::newRow("outside the catalogue") << "3 x"
                                           << "(code)" << QString();
    QTest::newRow("zero") << "0 x"
                          << "(code)" << QString();
    QTest::newRow("letter first") << "Hello"
                                  << "(code)" << QString();
    QTest::newRow("empty caption") << ""
                                   << "(code)" << QString();
    QTest::newRow("not a number") << "3x Foo"
                                  << "(code)"
                                  << "'3x' ist kein g\u00fcltiger Integerwert.";
}

void TestCommands::exampleItems()
{
    QFETCH(QString, caption);
    QFETCH(QString, code);
    QFETCH(QString, report);
    TestWindow w(QStringLiteral("twoexamples"));
    w.compile(QStringLiteral("(code)"));
    QAction *item = w.part<QAction>("PM_DfltProgs1");
    item->setText(caption);
    item->trigger();
    QCOMPARE(w.codeText(), code);
    QCOMPARE(w.reports.value(0), report);
    QCOMPARE(runEnabled(w), code == QLatin1String("(code)"));
}

void TestCommands::menusFromConfiguration_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QStringList>("items");
    const QStringList commands {"&load", "&save", "-", "&filterCode", "-", "&Brain", "&Jolt",
        "&Disassemble", "Debu&gger...", "Dia&lect..."};
    QTest::newRow("no files, no separator on top") << QString() << commands;
    QTest::newRow("two examples, second missing")
        << QStringLiteral("twoexamples") << QStringList {"1 Hello", "2 -no title-", "-"} + commands;
}

void TestCommands::menusFromConfiguration()
{
    QFETCH(QString, fixture);
    QFETCH(QStringList, items);
    TestWindow w(fixture);
    QCOMPARE(captions(w.part<QMenu>("pm_DefltProgs")), items);
    QCOMPARE(captions(w.part<QMenu>("Pm_outp")), QStringList {QStringLiteral("&clear")});
    QCOMPARE(w.part<QPushButton>("kn_load")->text(), QStringLiteral("&Brain"));
    QCOMPARE(w.part<QPushButton>("kn_run")->text(), QStringLiteral("&Jolt"));
    QVERIFY(runDisabled(w));
    // The six built-in presets are empty without their keys; the added one has its own text.
    QCOMPARE(captions(w.part<QMenu>("PopupMenu1")),
        QStringList(6, QString()) << QStringLiteral("end of input"));
    QCOMPARE(w.part<QLabel>("Label2")->text(), QString());
    QCOMPARE(w.part<QLabel>("Label4")->text(), QString());
    QCOMPARE(w.code()->toolTip(), QString());
    QVERIFY(w.reports.isEmpty());
}

void TestCommands::emptyRunCaption()
{
    TestWindow w(QStringLiteral("emptyrun"));
    QCOMPARE(w.part<QPushButton>("kn_run")->text(), QString());
    QCOMPARE(w.part<QAction>("PMC_RUN")->text(), QString());
    QCOMPARE(w.part<QPushButton>("kn_load")->text(), QStringLiteral("&Brain"));
}

void TestCommands::configurationFromFixture()
{
    TestWindow w(QStringLiteral("typical"));
    QCOMPARE(w.part<QAction>("n13CR")->text(), QStringLiteral("#13 Wagenr\u00fccklauf"));
    QCOMPARE(w.part<QPushButton>("kn_run")->toolTip(), QStringLiteral("Startet das Programm"));
    QCOMPARE(w.part<QFileDialog>("od_bf_fileopen")->nameFilters(),
        (QStringList {QStringLiteral("Code (*.bf *.b)"), QStringLiteral("Alles (*.*)")}));
    QCOMPARE(w.part<QFileDialog>("od_bf_filesave")->defaultSuffix(), QStringLiteral("bf"));
}

void TestCommands::unreadableConfigurationIsReportedAfterOpening()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("BF.ini"))); // exists, cannot be read
    QStringList reports;
    Tfrm_BF_IDE window(dir.path() + QLatin1Char('/'));
    WindowProbe::setReportError(window, [&](const QString &text) { reports.append(text); });
    window.show();
    QTRY_COMPARE(reports.size(), 1);
    // Set-up stopped at the first file: the built-in captions stay, no menu items exist.
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("kn_load"))->text(),
        QStringLiteral("&BRAIN"));
    QVERIFY(window.findChild<QMenu *>(QStringLiteral("pm_DefltProgs"))->actions().isEmpty());
    QVERIFY(WindowProbe::engine(window) != nullptr);
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
