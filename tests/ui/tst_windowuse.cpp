#include "windowtesting.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

// The window as people use it: accelerators, dialogs, labels, undo, saving and closing.
class TestWindowUse : public QObject
{
    Q_OBJECT
private slots:
    void acceleratorOfADisabledButtonTypesNothing();
    void noFilterListsEveryFile();
    void adviceLabelsShowTheirWholeText_data();
    void adviceLabelsShowTheirWholeText();
    void loadingIsOneUndoableStep_data();
    void loadingIsOneUndoableStep();
    void closingAsksAboutUnsavedChanges_data();
    void closingAsksAboutUnsavedChanges();
    void fileKeys();
    void savingKeepsTheEncodingOrSaysWhy_data();
    void savingKeepsTheEncodingOrSaysWhy();
    void messagesFollowTheLanguage_data();
    void messagesFollowTheLanguage();
    void windowIconIsTheEmblem();
};

namespace {

// A configuration folder with the shipped files, the interface in the given language.
struct ShippedConfiguration
{
    explicit ShippedConfiguration(const QString &language)
    {
        const QDir source(QStringLiteral(CEREBRIX_SOURCE_DIR));
        QDir target(folder.path());
        target.mkdir(QStringLiteral("lang"));
        QFile settings(source.filePath(QStringLiteral("BF.ini")));
        settings.open(QIODevice::ReadOnly);
        QByteArray text = settings.readAll();
        text.replace("Language=lang2",
            language == QLatin1String("DE") ? "Language=lang1" : "Language=lang2");
        QFile copy(target.filePath(QStringLiteral("BF.ini")));
        copy.open(QIODevice::WriteOnly);
        copy.write(text);
        for (const QString &name :
            QDir(source.filePath(QStringLiteral("lang"))).entryList(QDir::Files))
            QFile::copy(source.filePath(QStringLiteral("lang/") + name),
                target.filePath(QStringLiteral("lang/") + name));
    }
    QString path() const { return folder.path() + QLatin1Char('/'); }
    QTemporaryDir folder;
};

std::unique_ptr<Tfrm_BF_IDE> windowFrom(const QString &dir, QStringList &reports)
{
    Tfrm_BF_IDE::resetOutputState();
    auto window = std::make_unique<Tfrm_BF_IDE>(dir);
    window->m_reportError = [&reports](const QString &text) { reports.append(text); };
    window->show();
    return window;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void typeInto(QWidget *widget, const QString &text)
{
    widget->activateWindow();
    QTest::keyClicks(widget, text);
}

} // namespace

void TestWindowUse::acceleratorOfADisabledButtonTypesNothing()
{
    TestWindow w;
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    w->re_code->setFocus();
    QVERIFY(!w->kn_run->isEnabled());
    QTest::keyClick(w->re_code, Qt::Key_J, Qt::AltModifier); // "&Jolt", disabled
    QTest::keyClick(w->re_code, Qt::Key_Q, Qt::AltModifier); // no accelerator at all
    QCOMPARE(w->codeText(), QStringLiteral("(code)"));
    QTest::keyClick(w->re_code, Qt::Key_B, Qt::AltModifier); // "&Brain", enabled: compiles
    QTRY_VERIFY(w->kn_run->isEnabled()); // a button's accelerator clicks it after a moment
    QCOMPARE(w->codeText(), QStringLiteral("(code)"));
    QTest::keyClicks(w->re_code, QStringLiteral("+")); // plain typing still types
    QCOMPARE(w->codeText().size(), 7);
}

void TestWindowUse::noFilterListsEveryFile()
{
    TestWindow w; // no GUI file: no filter
    for (QFileDialog *dialog : {w->od_bf_fileopen, w->od_bf_filesave})
        QCOMPARE(dialog->nameFilters(), QStringList {QStringLiteral("*")});
}

void TestWindowUse::adviceLabelsShowTheirWholeText_data()
{
    QTest::addColumn<QString>("language"); // empty: the design's texts
    QTest::newRow("design texts") << QString();
    QTest::newRow("shipped English") << QStringLiteral("EN");
    QTest::newRow("shipped German") << QStringLiteral("DE");
}

void TestWindowUse::adviceLabelsShowTheirWholeText()
{
    QFETCH(QString, language);
    QStringList reports;
    std::unique_ptr<ShippedConfiguration> shipped;
    QTemporaryDir broken;
    QString dir;
    if (language.isEmpty()) { // set-up stops at the first file: the design's texts stay
        QDir(broken.path()).mkdir(QStringLiteral("BF.ini"));
        dir = broken.path() + QLatin1Char('/');
    } else {
        shipped = std::make_unique<ShippedConfiguration>(language);
        dir = shipped->path();
    }
    const auto window = windowFrom(dir, reports);
    for (QLabel *label : {window->Label4, window->Label2}) {
        QVERIFY(!label->text().isEmpty());
        QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()),
            qPrintable(label->text()));
        QVERIFY(label->height() >= label->fontMetrics().height());
    }
    QCOMPARE(window->Label4->geometry().right(), 777); // still anchored on the right
    QCOMPARE(window->Label2->x(), 62);
}

void TestWindowUse::loadingIsOneUndoableStep_data()
{
    QTest::addColumn<bool>("fromFile");
    QTest::newRow("example") << false;
    QTest::newRow("file") << true;
}

void TestWindowUse::loadingIsOneUndoableStep()
{
    QFETCH(bool, fromFile);
    TestWindow w(QStringLiteral("twoexamples"));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("program.bf"));
    writeFile(path, "+++.\r\n");
    w->re_code->selectAll();
    typeInto(w->re_code, QStringLiteral("my work"));
    QCOMPARE(w->codeText(), QStringLiteral("my work"));
    if (fromFile) {
        w->m_chooseFile = [&path](QFileDialog &, const QString &) { return path; };
        w->findChild<QAction *>(QStringLiteral("PMC_Fileload"))->trigger();
    } else {
        w->LoadExample(1);
    }
    QVERIFY(w->codeText() != QStringLiteral("my work"));
    w->re_code->undo();
    QCOMPARE(w->codeText(), QStringLiteral("my work"));
    w->re_code->redo();
    QVERIFY(w->codeText() != QStringLiteral("my work"));
}

void TestWindowUse::closingAsksAboutUnsavedChanges_data()
{
    QTest::addColumn<bool>("edit");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("haveFile");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<QByteArray>("saved"); // the file afterwards
    QTest::newRow("nothing changed") << false << 0 << true << false << true << QByteArray("+\r\n");
    QTest::newRow("cancel") << true << int(QMessageBox::Cancel) << true << true << false
                            << QByteArray("+\r\n");
    QTest::newRow("discard") << true << int(QMessageBox::Discard) << true << true << true
                             << QByteArray("+\r\n");
    QTest::newRow("save to the file")
        << true << int(QMessageBox::Save) << true << true << true << QByteArray("+\r\n-");
    QTest::newRow("save, name dialog cancelled")
        << true << int(QMessageBox::Save) << false << true << false << QByteArray();
}

void TestWindowUse::closingAsksAboutUnsavedChanges()
{
    QFETCH(bool, edit);
    QFETCH(int, answer);
    QFETCH(bool, haveFile);
    QFETCH(bool, asked);
    QFETCH(bool, closed);
    QFETCH(QByteArray, saved);
    TestWindow w;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("program.bf"));
    if (haveFile) {
        writeFile(path, "+\r\n");
        w->m_chooseFile = [&path](QFileDialog &, const QString &) { return path; };
        w->findChild<QAction *>(QStringLiteral("PMC_Fileload"))->trigger();
    }
    w->m_chooseFile = [](QFileDialog &, const QString &) { return QString(); };
    if (edit) {
        QTextCursor end(w->re_code->document());
        end.movePosition(QTextCursor::End);
        end.insertText(QStringLiteral("-"));
    }
    int questions = 0;
    w->m_askToSave = [&](const QString &) {
        ++questions;
        return answer;
    };
    w->close();
    QCOMPARE(questions, asked ? 1 : 0);
    QCOMPARE(w->isVisible(), !closed);
    QCOMPARE(fileBytes(path), saved);
    QVERIFY(w.reports.isEmpty());
}

void TestWindowUse::fileKeys()
{
    TestWindow w;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("program.bf"));
    writeFile(path, ">");
    QStringList dialogs;
    QString chosen = path;
    w->m_chooseFile = [&](QFileDialog &dialog, const QString &) {
        dialogs.append(dialog.objectName());
        return chosen;
    };
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    QTest::keyClick(w->re_code, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(w->codeText(), QStringLiteral(">"));
    w->re_code->moveCursor(QTextCursor::End);
    QTest::keyClicks(w->re_code, QStringLiteral("<"));
    QTest::keyClick(w->re_code, Qt::Key_S, Qt::ControlModifier); // to the file, no dialog
    QCOMPARE(fileBytes(path), QByteArray("><"));
    QCOMPARE(dialogs, QStringList {QStringLiteral("od_bf_fileopen")});
    chosen = folder.filePath(QStringLiteral("other.bf"));
    QTest::keyClick(w->re_code, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(dialogs.last(), QStringLiteral("od_bf_filesave"));
    QCOMPARE(fileBytes(chosen), QByteArray("><"));
    QTest::keyClicks(w->re_code, QStringLiteral("+"));
    QTest::keyClick(w->re_code, Qt::Key_S, Qt::ControlModifier); // now to the new name
    QCOMPARE(fileBytes(chosen), QByteArray("><+"));
    QCOMPARE(dialogs.size(), 2);
}

void TestWindowUse::savingKeepsTheEncodingOrSaysWhy_data()
{
    QTest::addColumn<QByteArray>("original");
    QTest::addColumn<QString>("added");
    QTest::addColumn<QByteArray>("saved");
    QTest::addColumn<bool>("said");
    QTest::newRow("Windows-1252 kept")
        << QByteArray("\xe9+") << QStringLiteral("\u20ac") << QByteArray("\xe9+\x80") << false;
    QTest::newRow("UTF-8 kept") << QByteArray("\xc3\xa9+") << QStringLiteral("-")
                                << QByteArray("\xc3\xa9+-") << false;
    QTest::newRow("UTF-8 forced and said") << QByteArray("\xe9+") << QStringLiteral("\u2603")
                                           << QByteArray("\xc3\xa9+\xe2\x98\x83") << true;
}

void TestWindowUse::savingKeepsTheEncodingOrSaysWhy()
{
    QFETCH(QByteArray, original);
    QFETCH(QString, added);
    QFETCH(QByteArray, saved);
    QFETCH(bool, said);
    TestWindow w;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("program.bf"));
    writeFile(path, original);
    w->m_chooseFile = [&path](QFileDialog &, const QString &) { return path; };
    w->findChild<QAction *>(QStringLiteral("PMC_Fileload"))->trigger();
    QTextCursor end(w->re_code->document());
    end.movePosition(QTextCursor::End);
    end.insertText(added);
    w->fileSaveShortcut();
    QCOMPARE(fileBytes(path), saved);
    QCOMPARE(w.reports.size(), said ? 1 : 0);
    if (said)
        QVERIFY(w.reports.value(0).contains(QStringLiteral("UTF-8")));
}

void TestWindowUse::messagesFollowTheLanguage_data()
{
    QTest::addColumn<QString>("language"); // empty: no configuration, the design's texts
    QTest::addColumn<QString>("start");
    QTest::newRow("English") << QStringLiteral("EN") << QStringLiteral("File ");
    QTest::newRow("German") << QStringLiteral("DE") << QStringLiteral("Datei ");
    QTest::newRow("built-in") << QString() << QStringLiteral("Datei ");
}

void TestWindowUse::messagesFollowTheLanguage()
{
    QFETCH(QString, language);
    QFETCH(QString, start);
    std::unique_ptr<ShippedConfiguration> shipped;
    QTemporaryDir empty;
    if (!language.isEmpty())
        shipped = std::make_unique<ShippedConfiguration>(language);
    QStringList reports;
    const auto window =
        windowFrom(shipped ? shipped->path() : empty.path() + QLatin1Char('/'), reports);
    const QString missing = empty.filePath(QStringLiteral("missing.bf"));
    window->m_chooseFile = [&missing](QFileDialog &, const QString &) { return missing; };
    window->findChild<QAction *>(QStringLiteral("PMC_Fileload"))->trigger();
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports.value(0).startsWith(start), qPrintable(reports.value(0)));
}

void TestWindowUse::windowIconIsTheEmblem()
{
    TestWindow w;
    QVERIFY(!w->windowIcon().isNull());
}

QTEST_MAIN(TestWindowUse)
#include "tst_windowuse.moc"
