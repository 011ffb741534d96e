#include "windowtesting.h"

#include "codepage.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <stdexcept>
#include <sys/stat.h>

// Commands given at odd moments or on odd input: files that are no regular files, commands
// during a run, a start-up cut short by a configuration error, exceptions from handlers.

class TestCommandFaults : public QObject
{
    Q_OBJECT
private slots:
    void nonRegularFileIsRefused_data();
    void nonRegularFileIsRefused();
    void commandDuringInputWait_data();
    void commandDuringInputWait();
    void commandsAfterFailedStartUp();
    void everyExceptionIsReported_data();
    void everyExceptionIsReported();
    void filterWithoutSelectionChangesNothing();
    void openPassesFolderToSaveDialog();
    void listingPastThePaneLimitIsRefused();
};

void TestCommandFaults::nonRegularFileIsRefused_data()
{
    QTest::addColumn<bool>("pipe"); // false: the character device /dev/zero
    QTest::newRow("character device") << false;
    QTest::newRow("named pipe") << true;
}

void TestCommandFaults::nonRegularFileIsRefused()
{
    QFETCH(bool, pipe);
    QTemporaryDir dir;
    QString path = QStringLiteral("/dev/zero");
    if (pipe) {
        path = dir.filePath(QStringLiteral("pipe.bf"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    TestWindow w;
    WindowProbe::setChooseFile(*w.window, [&](QFileDialog &, const QString &) { return path; });
    w.trigger("PMC_Fileload"); // a pipe with no writer would block an open for good
    QCOMPARE(w.reports,
        QStringList {QStringLiteral("Datei %1 kann nicht ge\u00f6ffnet werden.").arg(path)});
    QCOMPARE(w.codeText(), QStringLiteral("(code)"));
}

void TestCommandFaults::commandDuringInputWait_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("output"); // "%L": the listing
    QTest::addColumn<QString>("code");
    const QString program = QStringLiteral("++++++++[>++++++++<-]>+.,.");
    QTest::newRow("clear") << "clear"
                           << "(Outp)\r\n \r\nAB\r\n\r\n"
                           << program;
    // The listing ends with a line break: the output line goes on in its empty last line.
    QTest::newRow("disassemble") << "PMC_DisAsm"
                                 << "(Outp)\r\nA\r\n%LAB\r\n\r\n"
                                 << program;
    QTest::newRow("example") << "PM_DfltProgs1"
                             << "(Outp)\r\nAB\r\n\r\n"
                             << "++++\r\n.\r\n";
}

void TestCommandFaults::commandDuringInputWait()
{
    QFETCH(QString, item);
    QFETCH(QString, output);
    QFETCH(QString, code);
    TestWindow w(QStringLiteral("twoexamples"));
    w.compile(QStringLiteral("++++++++[>++++++++<-]>+.,."));
    QString listing;
    QTimer::singleShot(0, w.window.get(), [&] {
        listing = fromCp1252(WindowProbe::engine(*w.window)->Disassemble());
        if (item == QLatin1String("clear"))
            w.clearOutput();
        else
            w.trigger(item.toLatin1().constData());
        QTest::keyClicks(w.input(), QStringLiteral("B"));
        QTest::keyClick(w.input(), Qt::Key_Return);
    });
    w.click("kn_run");
    QVERIFY(!w.isRunning());
    QCOMPARE(WindowProbe::engine(*w.window)->m_tapeSize, 0);
    QCOMPARE(w.outputText(), output.replace(QStringLiteral("%L"), listing));
    QCOMPARE(w.codeText(), code);
    QVERIFY(w.reports.isEmpty());
}

void TestCommandFaults::commandsAfterFailedStartUp()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("lang/GUI_DE.ini"))); // cannot be read
    QStringList reports;
    Tfrm_BF_IDE window(dir.path() + QLatin1Char('/'));
    WindowProbe::setReportError(window, [&](const QString &text) { reports.append(text); });
    window.show();
    QTRY_COMPARE(reports,
        QStringList {QStringLiteral("Datei %1/lang/GUI_DE.ini kann nicht ge\u00f6ffnet werden.")
                         .arg(dir.path())});
    for (const char *item : {"PMC_RUN", "PMC_DisAsm"})
        QVERIFY(!window.findChild<QAction *>(QLatin1String(item)));
    auto *code = window.findChild<QPlainTextEdit *>(QStringLiteral("re_code"));
    auto *run = window.findChild<QPushButton *>(QStringLiteral("kn_run"));
    code->setPlainText(QStringLiteral("++++++++[>++++++++<-]>+."));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("kn_load")), Qt::LeftButton);
    QVERIFY(run->isEnabled());
    QTest::mouseClick(run, Qt::LeftButton);
    QCOMPARE(
        textWithCrLf(*window.findChild<QPlainTextEdit *>(QStringLiteral("re_outp"))->document()),
        QStringLiteral("(Outp)\r\nA\r\n\r\n"));
    code->setFocus();
    QTest::keyClick(code, Qt::Key_Plus);
    QVERIFY(!run->isEnabled());
    QCOMPARE(reports.size(), 1);
}

void TestCommandFaults::everyExceptionIsReported_data()
{
    QTest::addColumn<bool>("standard"); // false: an exception of no standard type
    QTest::addColumn<QString>("report");
    QTest::newRow("standard exception") << true << "Datentr\u00e4ger voll.";
    QTest::newRow("any other exception") << false << "Unerwarteter Fehler.";
}

void TestCommandFaults::everyExceptionIsReported()
{
    QFETCH(bool, standard);
    QFETCH(QString, report);
    TestWindow w;
    WindowProbe::setChooseFile(*w.window, [standard](QFileDialog &, const QString &) -> QString {
        if (standard)
            throw std::runtime_error("Datentr\u00e4ger voll");
        throw 42;
    });
    w.trigger("PMC_Fileload");
    QCOMPARE(w.reports, QStringList {report});
    QCOMPARE(w.codeText(), QStringLiteral("(code)"));
}

void TestCommandFaults::filterWithoutSelectionChangesNothing()
{
    TestWindow w;
    w.compile(QStringLiteral("+a-\nb."));
    QTextCursor cursor = w.code()->textCursor();
    cursor.setPosition(2);
    w.code()->setTextCursor(cursor);
    w.trigger("PMC_FilterCode");
    QCOMPARE(w.codeText(), QStringLiteral("+a-\r\nb."));
    QCOMPARE(w.code()->textCursor().position(), 2);
    QVERIFY(w.part("kn_run")->isEnabled() && w.part<QAction>("PMC_RUN")->isEnabled());
    QVERIFY(w.reports.isEmpty());
}

void TestCommandFaults::openPassesFolderToSaveDialog()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.bf"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("+");
    file.close();
    TestWindow w;
    auto *saveDialog = w.part<QFileDialog>("od_bf_filesave");
    QVERIFY(saveDialog->directory() != QDir(dir.path()));
    WindowProbe::setChooseFile(*w.window, [&](QFileDialog &dialog, const QString &) {
        dialog.setDirectory(dir.path()); // where the user went
        return path;
    });
    w.trigger("PMC_Fileload");
    QCOMPARE(saveDialog->directory().absolutePath(), QDir(dir.path()).absolutePath());
}

void TestCommandFaults::listingPastThePaneLimitIsRefused()
{
    TestWindow w;
    w.compile(QStringLiteral("[[-]>+++<]"));
    const QString listing = fromCp1252(WindowProbe::engine(*w.window)->Disassemble());
    const QString before = w.outputText();
    // Room for the listing and its line break, less one character: refused, pane unchanged.
    const qsizetype used = w.output()->document()->characterCount() - 1;
    w.output()->setCharacterLimit(used + listing.size());
    w.trigger("PMC_DisAsm");
    QCOMPARE(w.reports.size(), 1);
    QVERIFY(w.reports.first().startsWith(QStringLiteral("Der Text passt nicht mehr")));
    QCOMPARE(w.outputText(), before);
    // With exactly the room it needs the listing goes in.
    w.output()->setCharacterLimit(used + listing.size() + 1);
    w.trigger("PMC_DisAsm");
    QCOMPARE(w.reports.size(), 1);
    QVERIFY(w.outputText().endsWith(listing + QStringLiteral("\r\n")));
}

QTEST_MAIN(TestCommandFaults)
#include "tst_commandfaults.moc"
