#include "customwidgets.h"
#include "sourcedocument.h"

#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QtTest>

// The code as a file on its own, without the window: what opening and saving keep, and the
// question about unsaved changes.
class TestSourceDocument : public QObject
{
    Q_OBJECT
private slots:
    void savingKeepsTheFilesForm_data();
    void savingKeepsTheFilesForm();
    void closingAsksOnceWhileChanged_data();
    void closingAsksOnceWhileChanged();
};

void TestSourceDocument::savingKeepsTheFilesForm_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("saved"); // after "+" is typed at the end
    QTest::newRow("new text: CR LF") << QByteArray() << QByteArray("a\r\n+");
    QTest::newRow("LF") << QByteArray("a\nb") << QByteArray("a\nb+");
    QTest::newRow("CR, Windows-1252") << QByteArray("\xe9\rb") << QByteArray("\xe9\rb+");
    QTest::newRow("no break at all") << QByteArray("ab") << QByteArray("ab+");
}

void TestSourceDocument::savingKeepsTheFilesForm()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, saved);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("program.b"));
    LimitedTextEdit pane;
    const MessageTexts messages;
    SourceDocument document(pane, messages);
    if (file.isEmpty()) {
        document.replaceText(QStringLiteral("a\n"));
    } else {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
        out.close();
        document.open(path);
        QVERIFY(!document.isModified());
    }
    QTextCursor end(pane.document());
    end.movePosition(QTextCursor::End);
    end.insertText(QStringLiteral("+"));
    QVERIFY(document.isModified());
    QVERIFY(document.saveTo(path).isEmpty());
    QFile in(path);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.readAll(), saved);
    QCOMPARE(document.fileName(), path);
    QVERIFY(!document.isModified());
}

void TestSourceDocument::closingAsksOnceWhileChanged_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("saveWorks");
    QTest::addColumn<bool>("mayClose");
    QTest::newRow("cancel") << int(QMessageBox::Cancel) << true << false;
    QTest::newRow("discard") << int(QMessageBox::Discard) << true << true;
    QTest::newRow("save") << int(QMessageBox::Save) << true << true;
    QTest::newRow("save fails") << int(QMessageBox::Save) << false << false;
}

// A close that may go on is not asked again (it may wait for a run to end); one that may not
// asks the next time.
void TestSourceDocument::closingAsksOnceWhileChanged()
{
    QFETCH(int, answer);
    QFETCH(bool, saveWorks);
    QFETCH(bool, mayClose);
    LimitedTextEdit pane;
    const MessageTexts messages;
    SourceDocument document(pane, messages);
    int questions = 0;
    const auto ask = [&](const QString &) {
        ++questions;
        return answer;
    };
    const auto save = [&] {
        if (saveWorks)
            document.setUnmodified();
    };
    QVERIFY(document.mayClose(ask, save)); // nothing changed
    QCOMPARE(questions, 0);
    QTextCursor(pane.document()).insertText(QStringLiteral("+")); // typed: changed
    QCOMPARE(document.mayClose(ask, save), mayClose);
    QCOMPARE(document.mayClose(ask, save), mayClose);
    QCOMPARE(questions, mayClose ? 1 : 2);
}

QTEST_MAIN(TestSourceDocument)
#include "tst_sourcedocument.moc"
