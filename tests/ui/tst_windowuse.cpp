#include "windowtesting.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QtTest>

// The window as people use it: accelerators, dialogs, labels, undo, saving and closing.
class TestWindowUse : public QObject
{
    Q_OBJECT
private slots:
    void acceleratorOfADisabledButtonTypesNothing();
    void noFilterListsEveryFile();
    void shippedFilterListsBothExtensions();
    void adviceLabelsShowTheirWholeText_data();
    void adviceLabelsShowTheirWholeText();
    void findBarFitsTheCodePane_data() { adviceLabelsShowTheirWholeText_data(); }
    void findBarFitsTheCodePane();
    void loadingIsOneUndoableStep_data();
    void loadingIsOneUndoableStep();
    void closingAsksAboutUnsavedChanges_data();
    void closingAsksAboutUnsavedChanges();
    void fileKeys();
    void redoKeys_data();
    void redoKeys();
    void quitKeyAsksAboutUnsavedChanges();
    void lineNumbersCoverAnOpenedFile();
    void savingKeepsTheEncodingOrSaysWhy_data();
    void savingKeepsTheEncodingOrSaysWhy();
    void messagesFollowTheLanguage_data();
    void messagesFollowTheLanguage();
    void windowIconIsTheEmblem();
    void commandsAreColouredAndCommentsMuted();
    void coloursFollowEdits();
    void bracketAtTheCaretShowsItsPartner_data();
    void bracketAtTheCaretShowsItsPartner();
    void compileMarksTheUnpairedBracket_data();
    void compileMarksTheUnpairedBracket();
    void lineNumbersFollowTheSetting_data();
    void lineNumbersFollowTheSetting();
    void workAreaAtTheDefaultPositions();
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

// The configuration a language row names: the shipped files in that language or, for none, a
// folder whose BF.ini cannot be read, so the set-up stops at the first file and the built-in
// texts stay.
struct RowConfiguration
{
    explicit RowConfiguration(const QString &language)
    {
        if (language.isEmpty()) {
            QDir(broken.path()).mkdir(QStringLiteral("BF.ini"));
            dir = broken.path() + QLatin1Char('/');
        } else {
            shipped = std::make_unique<ShippedConfiguration>(language);
            dir = shipped->path();
        }
    }
    std::unique_ptr<ShippedConfiguration> shipped;
    QTemporaryDir broken;
    QString dir;
};

std::unique_ptr<Tfrm_BF_IDE> windowFrom(const QString &dir, QStringList &reports)
{
    auto window = std::make_unique<Tfrm_BF_IDE>(dir);
    WindowProbe::setReportError(*window, [&reports](const QString &text) { reports.append(text); });
    window->show();
    return window;
}

template<typename T>
T *partOf(const Tfrm_BF_IDE &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

// The file dialogs all answer path.
void chooseAlways(Tfrm_BF_IDE &window, const QString &path)
{
    WindowProbe::setChooseFile(window, [path](QFileDialog &, const QString &) { return path; });
}

// Ctrl+S, typed in the code pane of the active window.
void saveByKey(const TestWindow &w)
{
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    QTest::keyClick(w.code(), Qt::Key_S, Qt::ControlModifier);
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
    w.code()->setFocus();
    QVERIFY(!w.part("kn_run")->isEnabled());
    QTest::keyClick(w.code(), Qt::Key_J, Qt::AltModifier); // "&Jolt", disabled
    QTest::keyClick(w.code(), Qt::Key_Q, Qt::AltModifier); // no accelerator at all
    QCOMPARE(w.codeText(), QStringLiteral("(code)"));
    QTest::keyClick(w.code(), Qt::Key_B, Qt::AltModifier); // "&Brain", enabled: compiles
    QTRY_VERIFY(w.part("kn_run")->isEnabled()); // a button's accelerator clicks it after a moment
    QCOMPARE(w.codeText(), QStringLiteral("(code)"));
    QTest::keyClicks(w.code(), QStringLiteral("+")); // plain typing still types
    QCOMPARE(w.codeText().size(), 7);
}

void TestWindowUse::noFilterListsEveryFile()
{
    TestWindow w; // no GUI file: no filter
    for (QFileDialog *dialog :
        {w.part<QFileDialog>("od_bf_fileopen"), w.part<QFileDialog>("od_bf_filesave")})
        QCOMPARE(dialog->nameFilters(), QStringList {QStringLiteral("*")});
}

// Downloaded programs end in .b as often as in .bf.
void TestWindowUse::shippedFilterListsBothExtensions()
{
    for (const char *language : {"EN", "DE"}) {
        const ShippedConfiguration shipped {QLatin1String(language)};
        QStringList reports;
        const auto window = windowFrom(shipped.path(), reports);
        const QStringList filters = partOf<QFileDialog>(*window, "od_bf_fileopen")->nameFilters();
        QVERIFY2(filters.value(0).endsWith(QStringLiteral("(*.bf *.b)")), language);
        QVERIFY(filters.last().endsWith(QStringLiteral("(*)")));
    }
}

void TestWindowUse::adviceLabelsShowTheirWholeText_data()
{
    QTest::addColumn<QString>("language"); // empty: the built-in texts
    QTest::newRow("built-in texts") << QString();
    QTest::newRow("shipped English") << QStringLiteral("EN");
    QTest::newRow("shipped German") << QStringLiteral("DE");
}

void TestWindowUse::adviceLabelsShowTheirWholeText()
{
    QFETCH(QString, language);
    QStringList reports;
    const RowConfiguration configuration(language);
    const auto window = windowFrom(configuration.dir, reports);
    auto *buttonsAdvice = partOf<QLabel>(*window, "Label4");
    auto *inputAdvice = partOf<QLabel>(*window, "Label2");
    for (QLabel *label : {buttonsAdvice, inputAdvice}) {
        QVERIFY(!label->text().isEmpty());
        QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()),
            qPrintable(label->text()));
        QVERIFY(label->height() >= label->fontMetrics().height());
    }
    QCOMPARE(buttonsAdvice->geometry().right(), 777); // still anchored on the right
    QCOMPARE(inputAdvice->x(), 62);
}

void TestWindowUse::findBarFitsTheCodePane()
{
    QFETCH(QString, language);
    QStringList reports;
    const RowConfiguration configuration(language);
    const auto window = windowFrom(configuration.dir, reports);
    partOf<QAction>(*window, "ac_Replace")->trigger(); // the bar at its widest
    const auto *bar = partOf<QWidget>(*window, "pn_Find");
    const auto *code = partOf<QWidget>(*window, "re_code");
    QVERIFY(bar->isVisible());
    QVERIFY2(bar->minimumSizeHint().width() <= code->width(),
        qPrintable(QString::number(bar->minimumSizeHint().width())));
    QVERIFY(code->rect().contains(bar->geometry()));
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
    w.code()->selectAll();
    typeInto(w.code(), QStringLiteral("my work"));
    QCOMPARE(w.codeText(), QStringLiteral("my work"));
    if (fromFile) {
        chooseAlways(*w.window, path);
        w.trigger("PMC_Fileload");
    } else {
        w.trigger("PM_DfltProgs1");
    }
    QVERIFY(w.codeText() != QStringLiteral("my work"));
    QTest::keySequence(w.code(), QKeySequence::Undo);
    QCOMPARE(w.codeText(), QStringLiteral("my work"));
    QTest::keySequence(w.code(), QKeySequence::Redo);
    QVERIFY(w.codeText() != QStringLiteral("my work"));
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
        chooseAlways(*w.window, path);
        w.trigger("PMC_Fileload");
    }
    chooseAlways(*w.window, QString()); // the name dialog is cancelled
    if (edit) {
        QTextCursor end(w.code()->document());
        end.movePosition(QTextCursor::End);
        end.insertText(QStringLiteral("-"));
    }
    int questions = 0;
    WindowProbe::setAskToSave(*w.window, [&](const QString &) {
        ++questions;
        return answer;
    });
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
    WindowProbe::setChooseFile(*w.window, [&](QFileDialog &dialog, const QString &) {
        dialogs.append(dialog.objectName());
        return chosen;
    });
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    QTest::keyClick(w.code(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(w.codeText(), QStringLiteral(">"));
    w.code()->moveCursor(QTextCursor::End);
    QTest::keyClicks(w.code(), QStringLiteral("<"));
    QTest::keyClick(w.code(), Qt::Key_S, Qt::ControlModifier); // to the file, no dialog
    QCOMPARE(fileBytes(path), QByteArray("><"));
    QCOMPARE(dialogs, QStringList {QStringLiteral("od_bf_fileopen")});
    chosen = folder.filePath(QStringLiteral("other.bf"));
    QTest::keyClick(w.code(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(dialogs.last(), QStringLiteral("od_bf_filesave"));
    QCOMPARE(fileBytes(chosen), QByteArray("><"));
    QTest::keyClicks(w.code(), QStringLiteral("+"));
    QTest::keyClick(w.code(), Qt::Key_S, Qt::ControlModifier); // now to the new name
    QCOMPARE(fileBytes(chosen), QByteArray("><+"));
    QCOMPARE(dialogs.size(), 2);
}

void TestWindowUse::redoKeys_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Ctrl+Y") << int(Qt::ControlModifier);
    QTest::newRow("Ctrl+Shift+Z") << int(Qt::ControlModifier | Qt::ShiftModifier);
}

void TestWindowUse::redoKeys()
{
    QFETCH(int, modifiers);
    TestWindow w;
    w.code()->selectAll();
    typeInto(w.code(), QStringLiteral("+-"));
    QTest::keyClick(w.code(), Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(w.codeText() != QStringLiteral("+-"));
    const int key = modifiers & Qt::ShiftModifier ? Qt::Key_Z : Qt::Key_Y;
    QTest::keyClick(w.code(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(w.codeText(), QStringLiteral("+-"));
}

void TestWindowUse::quitKeyAsksAboutUnsavedChanges()
{
    TestWindow w;
    typeInto(w.code(), QStringLiteral("+"));
    int answer = QMessageBox::Cancel, questions = 0;
    WindowProbe::setAskToSave(*w.window, [&](const QString &) {
        ++questions;
        return answer;
    });
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    QTest::keyClick(w.code(), Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(questions, 1);
    QVERIFY(w->isVisible());
    answer = QMessageBox::Discard;
    QTest::keyClick(w.code(), Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(questions, 2);
    QVERIFY(!w->isVisible());
}

// The gutter widens for a file with more lines than the text before it, at once.
void TestWindowUse::lineNumbersCoverAnOpenedFile()
{
    TestWindow w;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("long.bf"));
    writeFile(path, QByteArray("+\n").repeated(20000));
    chooseAlways(*w.window, path);
    const int before = w.code()->gutterWidth();
    w.trigger("PMC_Fileload");
    QVERIFY(w.code()->gutterWidth() > before);
    auto *gutter = w.code()->findChild<QWidget *>(QStringLiteral("re_codeLineNumbers"));
    QCOMPARE(gutter->width(), w.code()->gutterWidth());
    QVERIFY(w.code()->viewport()->x() >= w.code()->gutterWidth());
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
    chooseAlways(*w.window, path);
    w.trigger("PMC_Fileload");
    QTextCursor end(w.code()->document());
    end.movePosition(QTextCursor::End);
    end.insertText(added);
    saveByKey(w);
    QCOMPARE(fileBytes(path), saved);
    QCOMPARE(w.reports.size(), said ? 1 : 0);
    if (said)
        QVERIFY(w.reports.value(0).contains(QStringLiteral("UTF-8")));
}

void TestWindowUse::messagesFollowTheLanguage_data()
{
    QTest::addColumn<QString>("language"); // empty: no configuration, the built-in texts
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("notANumber");
    QTest::newRow("English") << QStringLiteral("EN") << QStringLiteral("File ")
                             << QStringLiteral("'zz' is not a valid whole number.");
    QTest::newRow("German") << QStringLiteral("DE") << QStringLiteral("Datei ")
                            << QStringLiteral("'zz' ist kein g\u00fcltiger Integerwert.");
    QTest::newRow("built-in") << QString() << QStringLiteral("Datei ")
                              << QStringLiteral("'zz' ist kein g\u00fcltiger Integerwert.");
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
    chooseAlways(*window, missing);
    partOf<QAction>(*window, "PMC_Fileload")->trigger();
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports.value(0).startsWith(start), qPrintable(reports.value(0)));
    // A typed number that is none is said in the same language.
    QFETCH(QString, notANumber);
    auto *input = partOf<QLineEdit>(*window, "ed_bf_Input");
    QTimer::singleShot(0, window.get(), [input] {
        input->setText(QStringLiteral("#zz"));
        QTest::keyClick(input, Qt::Key_Return);
    });
    partOf<QPlainTextEdit>(*window, "re_code")->setPlainText(QStringLiteral(","));
    QTest::mouseClick(partOf<QPushButton>(*window, "kn_load"), Qt::LeftButton);
    // As the user runs it: the error is reported, not thrown.
    QTest::mouseClick(partOf<QPushButton>(*window, "kn_run"), Qt::LeftButton);
    QCOMPARE(reports.value(1), notANumber);
}

void TestWindowUse::windowIconIsTheEmblem()
{
    TestWindow w;
    QVERIFY(!w->windowIcon().isNull());
}

namespace {

// The foreground colour the code pane's highlighting gives the character at offset.
QColor colourAt(TestWindow &w, int offset)
{
    const QTextBlock block = w.code()->document()->findBlock(offset);
    const int inBlock = offset - block.position();
    for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
        if (inBlock >= range.start && inBlock < range.start + range.length)
            return range.format.foreground().color();
    }
    return QColor();
}

// The offsets the code pane marks with the given background.
QList<int> markedWith(TestWindow &w, const QColor &colour)
{
    QList<int> offsets;
    for (const QTextEdit::ExtraSelection &mark : w.code()->extraSelections()) {
        if (mark.format.background().color() == colour)
            offsets.append(mark.cursor.selectionStart());
    }
    std::sort(offsets.begin(), offsets.end());
    return offsets;
}

const QColor PartnerColour(190, 235, 190);
const QColor UnpairedColour(255, 190, 190);
const QColor FaultColour(255, 170, 170);

} // namespace

void TestWindowUse::commandsAreColouredAndCommentsMuted()
{
    TestWindow w;
    w.code()->setPlainText(QStringLiteral("a+[.] ; +[\n-"));
    const QColor muted = colourAt(w, 0);
    QVERIFY(muted.isValid());
    QVERIFY(colourAt(w, 1) != muted); // "+"
    QVERIFY(colourAt(w, 2) != muted && colourAt(w, 2) != colourAt(w, 1)); // "[" has its own
    QCOMPARE(colourAt(w, 8), muted); // "+" after ";": a comment
    QCOMPARE(colourAt(w, 9), muted);
    QCOMPARE(colourAt(w, 11), colourAt(w, 1)); // "-" on the next line counts again
}

// Lines are coloured as they are edited: after random insertions (line breaks and ";"
// included), removals, undos and redos, every line has the colours the same text gets at once.
void TestWindowUse::coloursFollowEdits()
{
    const QString pieces[] = {QStringLiteral("+[-"), QStringLiteral("]>."), QStringLiteral("\n"),
        QStringLiteral(" ; c+"), QStringLiteral("x,<")};
    QRandomGenerator random(23);
    CodePane edited;
    for (int step = 0; step < 300; ++step) {
        QTextCursor cursor(edited.document());
        const int end = edited.document()->characterCount() - 1;
        cursor.setPosition(int(random.bounded(end + 1)));
        switch (random.bounded(5)) {
        case 0: edited.undo(); break;
        case 1: edited.redo(); break;
        case 2:
            cursor.setPosition(
                std::min(end, cursor.position() + int(random.bounded(6))), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            break;
        default: cursor.insertText(pieces[random.bounded(5)]);
        }
        CodePane fresh;
        fresh.setPlainText(edited.toPlainText());
        for (QTextBlock line = edited.document()->firstBlock(),
                        same = fresh.document()->firstBlock();
             line.isValid(); line = line.next(), same = same.next())
            QVERIFY2(line.layout()->formats() == same.layout()->formats(),
                qPrintable(QStringLiteral("step %1, line %2: %3")
                               .arg(step)
                               .arg(line.blockNumber())
                               .arg(line.text())));
    }
}

void TestWindowUse::bracketAtTheCaretShowsItsPartner_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QList<int>>("partners");
    QTest::addColumn<QList<int>>("unpaired");
    QTest::newRow("on the open bracket") << "+[-[+]-]" << 1 << QList<int> {1, 7} << QList<int> {};
    QTest::newRow("just after the close") << "+[-[+]-]" << 6 << QList<int> {3, 5} << QList<int> {};
    QTest::newRow("across lines and a comment")
        << "[ ; ]\n+\n]" << 0 << QList<int> {0, 8} << QList<int> {};
    QTest::newRow("no partner") << "[[+]" << 0 << QList<int> {} << QList<int> {0};
    QTest::newRow("bracket in a comment is none") << "+;[]" << 2 << QList<int> {} << QList<int> {};
    QTest::newRow("no bracket") << "+-" << 1 << QList<int> {} << QList<int> {};
}

void TestWindowUse::bracketAtTheCaretShowsItsPartner()
{
    QFETCH(QString, code);
    QFETCH(int, caret);
    QFETCH(QList<int>, partners);
    QFETCH(QList<int>, unpaired);
    TestWindow w;
    w.code()->setPlainText(code);
    QTextCursor cursor = w.code()->textCursor();
    cursor.setPosition(caret);
    w.code()->setTextCursor(cursor);
    QCOMPARE(markedWith(w, PartnerColour), partners);
    QCOMPARE(markedWith(w, UnpairedColour), unpaired);
}

void TestWindowUse::compileMarksTheUnpairedBracket_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QList<int>>("marked");
    QTest::newRow("a close with no open") << "+[]]-" << QList<int> {3};
    QTest::newRow("an open never closed") << "[[-]" << QList<int> {0};
    QTest::newRow("comment brackets do not count") << "[-] ; ]" << QList<int> {};
}

void TestWindowUse::compileMarksTheUnpairedBracket()
{
    QFETCH(QString, code);
    QFETCH(QList<int>, marked);
    TestWindow w;
    w.compile(code);
    QCOMPARE(markedWith(w, FaultColour), marked);
    QTextCursor end(w.code()->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QStringLiteral("+")); // an edit: the mark is the old compile's
    QVERIFY(markedWith(w, FaultColour).isEmpty());
}

void TestWindowUse::lineNumbersFollowTheSetting_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("shown");
    QTest::newRow("no key: shown") << QByteArray() << true;
    QTest::newRow("switched off") << QByteArray("[GUI]\r\nLineNumbers=0\r\n") << false;
    QTest::newRow("switched on") << QByteArray("[GUI]\r\nLineNumbers=1\r\n") << true;
}

void TestWindowUse::lineNumbersFollowTheSetting()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, shown);
    QTemporaryDir folder;
    if (!settings.isEmpty())
        writeFile(folder.filePath(QStringLiteral("BF.ini")), settings);
    QStringList reports;
    const auto window = windowFrom(folder.path() + QLatin1Char('/'), reports);
    auto *code = partOf<CodePane>(*window, "re_code");
    QCOMPARE(code->lineNumbersShown(), shown);
    auto *gutter = code->findChild<QWidget *>(QStringLiteral("re_codeLineNumbers"));
    QCOMPARE(gutter != nullptr, shown);
    if (shown)
        QVERIFY(gutter->width() > 0 && code->viewport()->x() >= gutter->width());
}

// The columns stand at their default places in the work area: inside its one-pixel bevel.
void TestWindowUse::workAreaAtTheDefaultPositions()
{
    TestWindow w;
    QWidget *workArea = w.part("Panel1");
    QWidget *column = w.part("Panel4");
    QCOMPARE(column->mapTo(workArea, QPoint(0, 0)), QPoint(1, 1));
    QCOMPARE(column->width(), 305);
    QCOMPARE(w.code()->mapTo(workArea, QPoint(0, 0)), QPoint(310, 1));
    QCOMPARE(w.code()->width(), 474);
}

QTEST_MAIN(TestWindowUse)
#include "tst_windowuse.moc"
