#include "windowtesting.h"

#include "customwidgets.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <functional>
#include <stdexcept>

using Bytes = QList<int>;
Q_DECLARE_METATYPE(Bytes)

class TestWindowStart : public QObject
{
    Q_OBJECT
private slots:
    void startsWithDefaultState();
    void componentsHaveTheirNames_data();
    void componentsHaveTheirNames();
    void outputLines_data();
    void outputLines();
    void batchedOutputEqualsCharacterByCharacter_data();
    void batchedOutputEqualsCharacterByCharacter();
    void resizingKeepsAnchoredItems();
    void reportAddsFullStop_data();
    void reportAddsFullStop();
    void titleViewCentresGroup();
    void titleLabelKeepsDefaultSize();
    void longAboutTextEndsInACutLine_data();
    void longAboutTextEndsInACutLine();
};

void TestWindowStart::startsWithDefaultState()
{
    TestWindow w;
    QCOMPARE(w->windowTitle(), QStringLiteral("Cerebrix!"));
    QCOMPARE(w->size(), QSize(785, 672));
    QCOMPARE(w.codeText(), QStringLiteral("(code)"));
    QCOMPARE(w.outputText(), outputStart());
    QPushButton *run = w.part<QPushButton>("kn_run");
    QVERIFY(!run->isEnabled());
    QVERIFY(w.part("kn_load")->isEnabled());
    QVERIFY(w.part("kn_Break")->isHidden());
    QVERIFY(!w.input()->isEnabled());
    QCOMPARE(w.input()->text(), QStringLiteral("#10"));
    QVERIFY(w.part("Panel1")->isVisible());
    QVERIFY(w.part("re_title")->isHidden() && w.part("Image1")->isHidden() &&
        w.part("Shape4")->isHidden());
    QCOMPARE(w.part("Panel3")->geometry(), QRect(0, 0, 785, 57));
    QCOMPARE(w.part("Panel1")->geometry(), QRect(0, 57, 785, 672 - 57));
    QCOMPARE(w.part<QSplitter>("Splitter1")->sizes().value(0), 305);
    QCOMPARE(w.part<QSplitter>("Splitter1")->handleWidth(), 4);
    QCOMPARE(w.part<QSplitter>("Splitter3")->sizes().value(0), 32);
    QCOMPARE(w.part<QSplitter>("Splitter3")->handleWidth(), 6);
    QCOMPARE(w.part("kn_Break")->toolTip(), QStringLiteral("Abort current program execution"));
    QVERIFY(w.reports.isEmpty());
    // Nothing was compiled yet, so the run command does nothing, even when forced on.
    run->setEnabled(true);
    w.click("kn_run");
    QCOMPARE(w.outputText(), outputStart());
}

void TestWindowStart::componentsHaveTheirNames_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : {"Panel3", "Shape1", "Shape2", "Shape3", "Label3", "Label4", "kn_load",
             "kn_run", "Image1", "Shape4", "re_title", "Panel1", "Splitter1", "re_code", "Panel4",
             "Splitter3", "re_outp", "Panel5", "Label2", "ed_bf_Input", "kn_Break", "PopupMenu1",
             "n0null", "N9Tabulator1", "N10Neuezeile1", "n13CR", "N32Leerzeichen1", "n255",
             "pm_DefltProgs", "Pm_outp", "od_bf_fileopen", "od_bf_filesave", "PMC_Fileload",
             "PMC_Filesave", "PMC_FilterCode", "PMC_Compile", "PMC_RUN", "PMC_DisAsm"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestWindowStart::componentsHaveTheirNames()
{
    QFETCH(QString, name);
    TestWindow w;
    QVERIFY(w->findChild<QObject *>(name) != nullptr);
}

void TestWindowStart::outputLines_data()
{
    QTest::addColumn<Bytes>("bytes");
    QTest::addColumn<QString>("expected");
    const QString start = QStringLiteral("(Outp)\r\n");
    QTest::newRow("Hi") << Bytes {'H', 'i'} << start + QStringLiteral("Hi\r\n");
    Bytes many(200, 'A');
    QTest::newRow("200 letters") << many
                                 << start + QString(81, u'A') + QStringLiteral("\r\n") +
            QString(81, u'A') + QStringLiteral("\r\n") + QString(38, u'A') + QStringLiteral("\r\n");
    QTest::newRow("a CR LF b") << Bytes {'a', 13, 10, 'b'} << start + QStringLiteral("a\r\nb\r\n");
    QTest::newRow("a LF CR b") << Bytes {'a', 10, 13, 'b'}
                               << start + QStringLiteral("a\r\n\r\nb\r\n");
    QTest::newRow("a CR CR LF b") << Bytes {'a', 13, 13, 10, 'b'}
                                  << start + QStringLiteral("a\r\n\r\nb\r\n");
    QTest::newRow("byte 0") << Bytes {0} << start + QStringLiteral("\u00b7\r\n");
    QTest::newRow("code page bytes")
        << Bytes {233, 128, 159, 129} << start + QStringLiteral("\u00e9\u20ac\u0178\u0081\r\n");
    QTest::newRow("control bytes kept") << Bytes {9, 7} << start + QStringLiteral("\t\a\r\n");
    QTest::newRow("LF first") << Bytes {10, 'x'} << start + QStringLiteral(" \r\nx\r\n");
}

void TestWindowStart::outputLines()
{
    QFETCH(Bytes, bytes);
    QFETCH(QString, expected);
    TestWindow w;
    for (const int b : bytes)
        WindowProbe::outputByte(*w.window, std::uint8_t(b));
    QCOMPARE(WindowProbe::outputText(*w.window), expected);
}

void TestWindowStart::batchedOutputEqualsCharacterByCharacter_data()
{
    QTest::addColumn<QString>("paneText");
    QTest::addColumn<Bytes>("bytes");
    Bytes mixed;
    for (int i = 0; i < 400; ++i)
        mixed.append(i % 97 == 0 ? 13 : i % 89 == 0 ? 10 : 'a' + i % 26);
    QTest::newRow("start text") << QString() << mixed;
    QTest::newRow("typed at the end") << QStringLiteral("(Outp)\n typed") << mixed;
    QTest::newRow("typed, break first") << QStringLiteral("x\ny") << (Bytes {10, 'b', 13, 'c'});
    QTest::newRow("empty pane") << QStringLiteral("") << (Bytes {'a', 13, 'b'});
}

void TestWindowStart::batchedOutputEqualsCharacterByCharacter()
{
    QFETCH(QString, paneText);
    QFETCH(Bytes, bytes);
    QStringList results;
    for (const bool eachCharacter : {true, false}) {
        TestWindow w;
        if (!paneText.isNull())
            w.output()->setPlainText(paneText);
        for (const int b : bytes) {
            WindowProbe::outputByte(*w.window, std::uint8_t(b));
            if (eachCharacter)
                WindowProbe::outputText(*w.window);
        }
        results.append(WindowProbe::outputText(*w.window));
    }
    QCOMPARE(results.at(1), results.at(0));
}

void TestWindowStart::resizingKeepsAnchoredItems()
{
    TestWindow w;
    QWidget *loadButton = w.part("kn_load");
    QWidget *runButton = w.part("kn_run");
    QWidget *adviceLabel = w.part("Label4");
    QWidget *inputBar = w.part("Panel5");
    QWidget *breakControl = w.part("kn_Break");
    auto *columns = w.part<QSplitter>("Splitter1");
    const QPoint load = loadButton->pos(), run = runButton->pos(), advice = adviceLabel->pos();
    const int breakRight = inputBar->width() - breakControl->geometry().right();
    w->resize(985, 772);
    QTRY_COMPARE(runButton->pos(), run + QPoint(200, 0));
    QCOMPARE(loadButton->pos(), load + QPoint(200, 0));
    QCOMPARE(adviceLabel->pos(), advice + QPoint(200, 0));
    QCOMPARE(w.part("Panel1")->geometry(), QRect(0, 57, 985, 772 - 57));
    QCOMPARE(columns->sizes().value(0), 305); // the panes take the new room
    columns->setSizes({405, 500});
    QTRY_COMPARE(inputBar->width() - breakControl->geometry().right(), breakRight);
}

void TestWindowStart::reportAddsFullStop_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("report");
    QTest::newRow("letter") << QStringLiteral("abc") << QStringLiteral("abc.");
    QTest::newRow("digit") << QStringLiteral("abc 1") << QStringLiteral("abc 1.");
    QTest::newRow("full stop") << QStringLiteral("abc.") << QStringLiteral("abc.");
    QTest::newRow("blank") << QStringLiteral("abc ") << QStringLiteral("abc ");
    QTest::newRow("comma") << QStringLiteral("a,") << QStringLiteral("a,");
    QTest::newRow("slash") << QStringLiteral("a/") << QStringLiteral("a/.");
    QTest::newRow("umlaut") << QStringLiteral("\u00fc") << QStringLiteral("\u00fc.");
    QTest::newRow("empty") << QString() << QString();
}

void TestWindowStart::reportAddsFullStop()
{
    QFETCH(QString, text);
    QFETCH(QString, report);
    TestWindow w;
    // An error of the program itself, raised while the open command asks for a file.
    WindowProbe::setChooseFile(*w.window, [&text](QFileDialog &, const QString &) -> QString {
        throw std::runtime_error(text.toStdString());
    });
    w.trigger("PMC_Fileload");
    QCOMPARE(w.reports, QStringList {report});
}

void TestWindowStart::titleViewCentresGroup()
{
    TestWindow w;
    QWidget *about = w.part("re_title");
    QWidget *bar = w.part("Shape4");
    QWidget *picture = w.part("Image1");
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(w.part("Label3"), &enter);
    QVERIFY(w.part("Panel1")->isHidden());
    QVERIFY(about->isVisible() && bar->isVisible() && picture->isVisible());
    QCOMPARE(about->pos(), QPoint(122, 72));
    QCOMPARE(bar->geometry(), QRect(466, 57, 4, 672 - 57));
    QCOMPARE(picture->pos(), QPoint(477, 176));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w.part("Label3"), &leave);
    QVERIFY(w.part("Panel1")->isVisible());
    QVERIFY(about->isHidden());
}

void TestWindowStart::titleLabelKeepsDefaultSize()
{
    TestWindow w;
    auto *title = w.part<QLabel>("Label3");
    QCOMPARE(title->geometry(), QRect(21, 18, 180, 18));
    QCOMPARE(title->minimumSize(), QSize(180, 18));
    QCOMPARE(title->maximumSize(), QSize(180, 18));
    // The caption is not clipped: the font is made small enough instead.
    QVERIFY(QFontMetrics(title->font()).horizontalAdvance(title->text()) <= 180);
    QVERIFY(title->font().bold());
    // Just right of the label lies the ellipse, where hovering must no longer count.
    QVERIFY(w.part("Panel3")->childAt(QPoint(21 + 185, 27)) != title);
    // Hovering it shows the title view and, after a moment, the version.
    QCOMPARE(title->toolTip(), QStringLiteral("Cerebrix " CEREBRIX_VERSION));
}

void TestWindowStart::longAboutTextEndsInACutLine_data()
{
    QTest::addColumn<QByteArray>("interfaceTexts"); // lang/GUI_EN.ini, none when empty
    QTest::addColumn<QString>("lastLine");
    QTest::newRow("interface text")
        << QByteArray("[Hints]\naboutCut=(more left out)\n") << QStringLiteral("(more left out)");
    QTest::newRow("built-in text")
        << QByteArray() << QStringLiteral("(Der Rest des Textes ist ausgelassen.)");
}

void TestWindowStart::longAboutTextEndsInACutLine()
{
    QFETCH(QByteArray, interfaceTexts);
    QFETCH(QString, lastLine);
    QTemporaryDir folder;
    QFile settings(folder.filePath(QStringLiteral("BF.ini")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[GUI]\nlang1=EN\n[about]\n");
    for (int k = 1; k <= 20000; ++k)
        settings.write("line" + QByteArray::number(k) + "=" + QByteArray::number(k % 10) + "\n");
    settings.close();
    if (!interfaceTexts.isEmpty()) {
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("lang")));
        QFile texts(folder.filePath(QStringLiteral("lang/GUI_EN.ini")));
        QVERIFY(texts.open(QIODevice::WriteOnly));
        texts.write(interfaceTexts);
    }
    Tfrm_BF_IDE window(folder.path() + QLatin1Char('/'));
    const QTextDocument *about =
        window.findChild<QTextEdit *>(QStringLiteral("re_title"))->document();
    QCOMPARE(about->blockCount(), 10001);
    QCOMPARE(about->firstBlock().text(), QStringLiteral("1"));
    QCOMPARE(about->lastBlock().previous().text(), QStringLiteral("0")); // line 10,000
    QCOMPARE(about->lastBlock().text(), lastLine);
}

QTEST_MAIN(TestWindowStart)
#include "tst_window.moc"
