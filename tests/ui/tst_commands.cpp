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

QString programText(const tBF &engine)
{
    return QString::fromLatin1(engine.m_code.data() + 1, engine.m_codeLength);
}

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

// Runs a command as the user does, through its menu item.
void trigger(const TestWindow &w, const char *item)
{
    w->findChild<QAction *>(QLatin1String(item))->trigger();
}

bool runEnabled(const TestWindow &w)
{
    return w->kn_run->isEnabled() && PMC_RUN->isEnabled() && PMC_DisAsm->isEnabled();
}

bool runDisabled(const TestWindow &w)
{
    return !w->kn_run->isEnabled() && !PMC_RUN->isEnabled() && !PMC_DisAsm->isEnabled();
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
    QAction *example = w->pm_DefltProgs->actions().value(0);
    QCOMPARE(example->text(), QStringLiteral("1 Echo one byte"));
    example->trigger();
    QCOMPARE(w->codeText(), QStringLiteral(", read ; comment\r\n. write\r\n"));
    QVERIFY(runDisabled(w));
    w->kn_load->click();
    QVERIFY(runEnabled(w));
    QCOMPARE(programText(*w->bf_Engine), QStringLiteral(",."));
    QTimer::singleShot(0, w.window.get(), [&] {
        QTest::keyClicks(w->ed_bf_Input, QStringLiteral("Z"));
        QTest::keyClick(w->ed_bf_Input, Qt::Key_Return);
    });
    PMC_RUN->trigger();
    QCOMPARE(w->outputText(), QStringLiteral("(Outp)\r\nZ\r\n\r\n"));
    QVERIFY(w.reports.isEmpty());
    QVERIFY(!w->isRunning());
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
        QCOMPARE(w->bf_Engine->m_codeArrayLength, 0);
    } else {
        QVERIFY(runEnabled(w));
        QCOMPARE(programText(*w->bf_Engine), program);
    }
    QCOMPARE(w->outputText(),
        outputLine.isEmpty() ? outputStart() : outputStart() + outputLine + QStringLiteral("\r\n"));
    if (!program.isNull() && program.isEmpty()) {
        w->kn_runClick(); // runs, printing nothing but the closing line break
        QCOMPARE(w->outputText(), outputStart() + QStringLiteral("\r\n"));
    }
}

void TestCommands::editingWithdrawsRun()
{
    TestWindow w;
    w.compile(QStringLiteral("+."));
    QVERIFY(runEnabled(w));
    w->re_code->setFocus();
    QTest::keyClick(w->re_code, Qt::Key_A);
    QVERIFY(runDisabled(w));
    // The engine keeps its program; only the commands are withdrawn.
    QCOMPARE(programText(*w->bf_Engine), QStringLiteral("+."));
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
    w->kn_runClick();
    QCOMPARE(
        w->outputText(), outputStart() + QStringLiteral("\r\n") + line + QStringLiteral("\r\n"));
    QCOMPARE(w->bf_Engine->m_tapeSize, 0);
}

void TestCommands::compileAndRunIgnoredDuringRun()
{
    TestWindow w;
    w.compile(QStringLiteral("+[]"));
    QTimer::singleShot(0, w.window.get(), [&] {
        w->re_code->setPlainText(QStringLiteral("++."));
        w->kn_load->click();
        PMC_RUN->setEnabled(true);
        PMC_RUN->trigger();
        w->kn_Break1Click();
    });
    w->kn_run->click();
    QCOMPARE(programText(*w->bf_Engine), QStringLiteral("+[]"));
    QCOMPARE(w->outputText(), outputStart() + QStringLiteral("\r\n"));
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
    QTextCursor cursor = w->re_code->textCursor();
    cursor.setPosition(1);
    cursor.setPosition(1 + selection.size(), QTextCursor::KeepAnchor);
    w->re_code->setTextCursor(cursor);
    QVERIFY(runEnabled(w));
    w->findChild<QAction *>(QStringLiteral("PMC_FilterCode"))->trigger();
    QCOMPARE(w->codeText(), QStringLiteral("<") + result + QStringLiteral(">"));
    QCOMPARE(w->re_code->textCursor().position(), 1 + QString(result).remove(u'\r').size());
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
    w->bf_OutChar('x'); // the console's line is left alone
    PMC_DisAsm->trigger();
    const QString listing = fromCp1252(w->bf_Engine->Disassemble());
    QCOMPARE(w->outputText(), QStringLiteral("(Outp)\r\nx\r\n") + listing + QStringLiteral("\r\n"));
    w->bf_OutChar('y');
    QVERIFY(w->outputText().endsWith(QStringLiteral("\r\nxy\r\n")));
}

void TestCommands::clearThenRun()
{
    TestWindow w;
    w.compile(QStringLiteral("++++++++[>++++++++<-]>+."));
    w->bf_OutChar('q');
    w->Pm_outp->actions().value(0)->trigger();
    QCOMPARE(w->outputText(), QStringLiteral("(Outp)\r\n \r\n\r\n"));
    w->kn_runClick();
    QCOMPARE(w->outputText(), QStringLiteral("(Outp)\r\n \r\nqA\r\n\r\n"));
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
    QTest::newRow("line feeds and CR")
        << QByteArray("a\nb\rc\r\n") << QStringLiteral("a\r\nb\r\nc\r\n")
        << QByteArray("a\r\nb\r\nc\r\n");
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
    w->m_chooseFile = [&](QFileDialog &dialog, const QString &) {
        return &dialog == w->od_bf_fileopen ? source : target;
    };
    w->findChild<QAction *>(QStringLiteral("PMC_Fileload"))->trigger();
    QCOMPARE(w->codeText(), shown);
    QVERIFY(runDisabled(w));
    w->findChild<QAction *>(QStringLiteral("PMC_Filesave"))->trigger();
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
    w->m_chooseFile = [&](QFileDialog &, const QString &name) {
        proposals.append(name);
        return answer;
    };
    trigger(w, "PMC_Fileload");
    answer = second;
    trigger(w, "PMC_Filesave"); // proposes the opened name
    answer = QString(); // cancelled
    trigger(w, "PMC_Fileload"); // proposes the saved name
    QCOMPARE(proposals, (QStringList {QString(), first, second}));
    QCOMPARE(readFile(second), QByteArray("+"));
}

void TestCommands::unreadableFileIsReported()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.bf"));
    TestWindow w;
    w->m_chooseFile = [&](QFileDialog &, const QString &) { return missing; };
    trigger(w, "PMC_Fileload");
    QCOMPARE(w.reports,
        QStringList {QStringLiteral("Datei %1 kann nicht ge\u00f6ffnet werden.").arg(missing)});
    QCOMPARE(w->codeText(), QStringLiteral("(code)"));
    QCOMPARE(w->saveFileName(), QString());
}

void TestCommands::failedSaveIsReported()
{
    QTemporaryDir dir;
    const QString opened = dir.filePath(QStringLiteral("kept.bf"));
    const QString impossible = dir.filePath(QStringLiteral("no/such/folder/x.bf"));
    writeFile(opened, "old");
    TestWindow w;
    w->m_chooseFile = [&](QFileDialog &dialog, const QString &) {
        return &dialog == w->od_bf_fileopen ? opened : impossible;
    };
    trigger(w, "PMC_Fileload");
    w->re_code->setPlainText(QStringLiteral("new"));
    trigger(w, "PMC_Filesave");
    QCOMPARE(w.reports,
        QStringList {QStringLiteral("Datei %1 kann nicht erstellt werden.").arg(impossible)});
    QCOMPARE(w->openFileName(), opened);
    QCOMPARE(w->codeText(), QStringLiteral("new"));
    QCOMPARE(readFile(opened), QByteArray("old"));
}

void TestCommands::tooLargeFileIsRefused()
{
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("big.bf"));
    writeFile(big, QByteArray(20, '+'));
    TestWindow w;
    w->re_code->setCharacterLimit(10);
    w->m_chooseFile = [&](QFileDialog &, const QString &) { return big; };
    trigger(w, "PMC_Fileload");
    QCOMPARE(w.reports.size(), 1);
    QVERIFY(w.reports.first().contains(QStringLiteral("zu gro\u00df")));
    QCOMPARE(w->codeText(), QStringLiteral("(code)"));
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
    QAction *item = w->findChild<QAction *>(QStringLiteral("PM_DfltProgs1"));
    item->setText(caption);
    item->trigger();
    QCOMPARE(w->codeText(), code);
    QCOMPARE(w.reports.value(0), report);
    QCOMPARE(runEnabled(w), code == QLatin1String("(code)"));
}

void TestCommands::menusFromConfiguration_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QStringList>("items");
    const QStringList commands {"&load", "&save", "-", "&filterCode", "-", "&Brain", "&Jolt",
        "&Disassemble", "Debu&gger..."};
    QTest::newRow("no files, no separator on top") << QString() << commands;
    QTest::newRow("two examples, second missing")
        << QStringLiteral("twoexamples") << QStringList {"1 Hello", "2 -no title-", "-"} + commands;
}

void TestCommands::menusFromConfiguration()
{
    QFETCH(QString, fixture);
    QFETCH(QStringList, items);
    TestWindow w(fixture);
    QCOMPARE(captions(w->pm_DefltProgs), items);
    QCOMPARE(captions(w->Pm_outp), QStringList {QStringLiteral("&clear")});
    QCOMPARE(w->kn_load->text(), QStringLiteral("&Brain"));
    QCOMPARE(w->kn_run->text(), QStringLiteral("&Jolt"));
    QVERIFY(runDisabled(w));
    QCOMPARE(captions(w->PopupMenu1), QStringList(6, QString()));
    QCOMPARE(w->Label2->text(), QString());
    QCOMPARE(w->Label4->text(), QString());
    QCOMPARE(w->re_code->toolTip(), QString());
    QVERIFY(w.reports.isEmpty());
}

void TestCommands::emptyRunCaption()
{
    TestWindow w(QStringLiteral("emptyrun"));
    QCOMPARE(w->kn_run->text(), QString());
    QCOMPARE(PMC_RUN->text(), QString());
    QCOMPARE(w->kn_load->text(), QStringLiteral("&Brain"));
}

void TestCommands::configurationFromFixture()
{
    TestWindow w(QStringLiteral("typical"));
    QCOMPARE(w->n13CR->text(), QStringLiteral("#13 Wagenr\u00fccklauf"));
    QCOMPARE(w->kn_run->toolTip(), QStringLiteral("Startet das Programm"));
    QCOMPARE(w->od_bf_fileopen->nameFilters(),
        (QStringList {QStringLiteral("Code (*.bf *.b)"), QStringLiteral("Alles (*.*)")}));
    QCOMPARE(w->od_bf_filesave->defaultSuffix(), QStringLiteral("bf"));
}

void TestCommands::unreadableConfigurationIsReportedAfterOpening()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("BF.ini"))); // exists, cannot be read
    Tfrm_BF_IDE::resetOutputState();
    QStringList reports;
    Tfrm_BF_IDE window(dir.path() + QLatin1Char('/'));
    window.m_reportError = [&](const QString &text) { reports.append(text); };
    window.show();
    QTRY_COMPARE(reports.size(), 1);
    // Set-up stopped at the first file: the design captions stay, no menu items exist.
    QCOMPARE(window.kn_load->text(), QStringLiteral("&BRAIN"));
    QVERIFY(window.pm_DefltProgs->actions().isEmpty());
    QVERIFY(window.bf_Engine != nullptr);
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
