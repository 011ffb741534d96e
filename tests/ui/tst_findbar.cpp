#include "textsearch.h"
#include "windowtesting.h"

#include <QCheckBox>
#include <QListWidget>
#include <QRandomGenerator>
#include <QtTest>

// Finding, replacing and going to a line in the code pane, the clicks that show a place in
// the code, and long lines coloured where they show.
class TestFindBar : public QObject
{
    Q_OBJECT
private slots:
    void searchAgreesWithBruteForce();
    void findReplaceAndUndoByKeys();
    void goToLineAndColumn_data();
    void goToLineAndColumn();
    void clicksShowBreakpointsAndBracketFaults();
    void linesShowColoursAndBracketPairs_data();
    void linesShowColoursAndBracketPairs();
};

namespace {

// The commands of text as compiling reads it (each line cut at its first ";"), and where
// each stands.
QList<std::pair<int, QChar>> referenceCommands(const QString &text)
{
    QList<std::pair<int, QChar>> commands;
    bool comment = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n'))
            comment = false;
        else if (c == QLatin1Char(';'))
            comment = true;
        else if (!comment && QStringView(u"+-<>,.[]").contains(c))
            commands.append({i, c});
    }
    return commands;
}

// Every occurrence, overlapping ones included, compared character by character.
std::vector<TextMatch> referenceMatches(
    const QString &text, const QString &pattern, SearchOptions options)
{
    std::vector<TextMatch> found;
    if (options.commandsOnly) {
        const auto commands = referenceCommands(text);
        const auto wanted = referenceCommands(pattern);
        for (qsizetype at = 0; !wanted.isEmpty() && at + wanted.size() <= commands.size(); ++at) {
            TextMatch match;
            for (qsizetype k = 0; k < wanted.size(); ++k) {
                if (commands.at(at + k).second != wanted.at(k).second)
                    break;
                match.commands.push_back(commands.at(at + k).first);
            }
            if (match.commands.size() != std::size_t(wanted.size()))
                continue;
            match.start = match.commands.front();
            match.end = match.commands.back() + 1;
            found.push_back(match);
        }
        return found;
    }
    const Qt::CaseSensitivity cs = options.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    for (int at = 0; !pattern.isEmpty() && at + pattern.size() <= text.size(); ++at) {
        if (QStringView(text).mid(at, pattern.size()).compare(pattern, cs) == 0) {
            TextMatch match;
            match.start = at;
            match.end = at + int(pattern.size());
            found.push_back(match);
        }
    }
    return found;
}

bool sameMatch(const TextMatch &a, const TextMatch &b)
{
    return a.start == b.start && a.end == b.end && a.commands == b.commands;
}

QString randomText(QRandomGenerator &random, const char *alphabet, int longest)
{
    QString text;
    const int size = int(std::strlen(alphabet));
    for (int i = int(random.bounded(longest + 1)); i > 0; --i)
        text += QLatin1Char(alphabet[random.bounded(size)]);
    return text;
}

void press(TestWindow &w, QWidget *target, int key, Qt::KeyboardModifiers modifiers = {})
{
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    QTest::keyClick(target, Qt::Key(key), modifiers);
}

QString selection(TestWindow &w)
{
    return w.code()->textCursor().selectedText();
}

} // namespace

void TestFindBar::searchAgreesWithBruteForce()
{
    QRandomGenerator random(23);
    for (int round = 0; round < 400; ++round) {
        SearchOptions options;
        options.commandsOnly = random.bounded(2) == 1;
        options.caseSensitive = random.bounded(2) == 1;
        const QString text = randomText(random, "+-<>[].,;ab A\n", 60);
        const QString pattern = options.commandsOnly ? randomText(random, "+-[]><; a\n", 5)
                                                     : randomText(random, "+-aAb;", 3);
        const auto all = referenceMatches(text, pattern, options);
        const QString what =
            QStringLiteral("round %1: \"%2\" in \"%3\"").arg(round).arg(pattern, text);
        // findAll: left to right, each after the one before it.
        std::vector<TextMatch> expected;
        for (const TextMatch &match : all) {
            const int after = expected.empty() ? -1
                : options.commandsOnly         ? expected.back().commands.back()
                                               : expected.back().end - 1;
            if (match.start > after)
                expected.push_back(match);
        }
        const auto found = findAll(text, pattern, options);
        QVERIFY2(
            std::equal(found.begin(), found.end(), expected.begin(), expected.end(), sameMatch),
            qPrintable(what));
        // findNext from anywhere, both ways, going on at the other end.
        const int from = int(random.bounded(int(text.size()) + 1));
        const bool backward = random.bounded(2) == 1;
        TextMatch want;
        bool wantWrapped = false;
        for (const TextMatch &match : all) {
            if (!backward && match.start >= from && !want.isValid())
                want = match;
            if (backward && match.end <= from)
                want = match;
        }
        if (!want.isValid() && !all.empty()) {
            want = backward ? all.back() : all.front();
            wantWrapped = true;
        }
        bool wrapped = false;
        const TextMatch next = findNext(text, pattern, from, backward, options, &wrapped);
        QVERIFY2(sameMatch(next, want) && wrapped == wantWrapped,
            qPrintable(what + QStringLiteral(" from %1").arg(from)));
    }
}

void TestFindBar::findReplaceAndUndoByKeys()
{
    TestWindow w;
    const QString code = QStringLiteral("+[->+<]\n[- ; a [-> comment\n>+<]+\nABC abc\n");
    w.code()->setPlainText(code);
    press(w, w.code(), Qt::Key_F, Qt::ControlModifier);
    auto *bar = w.part("pn_Find");
    auto *find = w.part<QLineEdit>("ed_Find");
    QVERIFY(bar->isVisible() && find->hasFocus());
    QTest::keyClicks(find, QStringLiteral("abc")); // found while typed, in any case
    QCOMPARE(selection(w), QStringLiteral("ABC"));
    press(w, find, Qt::Key_F3);
    QCOMPARE(w.code()->textCursor().selectionStart(), code.indexOf(QStringLiteral("abc")));
    press(w, find, Qt::Key_F3); // on from the start
    QCOMPARE(selection(w), QStringLiteral("ABC"));
    QCOMPARE(w.part<QLabel>("lb_FindStatus")->text(), QStringLiteral("Continued at the other end"));
    w.part<QCheckBox>("cb_CaseSensitive")->setChecked(true);
    press(w, find, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(selection(w), QStringLiteral("abc"));

    // Commands only: the loop is found split over lines and around a comment, and replacing
    // it keeps the comment.
    w.part<QCheckBox>("cb_CommandsOnly")->setChecked(true);
    find->setText(QStringLiteral("[- >+<]"));
    w.setCaret(2);
    press(w, w.code(), Qt::Key_F3);
    QCOMPARE(w.code()->textCursor().selectionStart(), 8);
    QCOMPARE(w.code()->textCursor().selectionEnd(), code.indexOf(QLatin1Char(']'), 8) + 1);
    press(w, w.code(), Qt::Key_H, Qt::ControlModifier);
    QVERIFY(w.part("ed_Replace")->isVisible());
    w.part<QLineEdit>("ed_Replace")->setText(QStringLiteral("X"));
    QTest::mouseClick(w.part("kn_ReplaceAll"), Qt::LeftButton);
    QCOMPARE(w.code()->toPlainText(), QStringLiteral("+X\nX ; a [-> comment\n+\nABC abc\n"));
    QCOMPARE(w.part<QLabel>("lb_FindStatus")->text(), QStringLiteral("2 replaced"));
    QVERIFY(!WindowProbe::codeCompiled(*w.window)); // an edit as any other
    press(w, w.part("ed_Replace"), Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QVERIFY(w.code()->hasFocus());
    press(w, w.code(), Qt::Key_Z, Qt::ControlModifier); // all of it, as one step
    QCOMPARE(w.code()->toPlainText(), code);
}

void TestFindBar::goToLineAndColumn_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("caret"); // -1: refused, the bar stays open
    // "ab\n;c\n\nlast" : lines start at 0, 3, 6 and 7.
    QTest::newRow("line") << "2" << 3;
    QTest::newRow("line and column") << "2:3" << 5;
    QTest::newRow("comma, blanks") << " 4 , 2 " << 8;
    QTest::newRow("column past the line's end") << "1:99" << 2;
    QTest::newRow("line past the last") << "99:2" << 8;
    QTest::newRow("line 0") << "0" << 0;
    QTest::newRow("no number") << "x2" << -1;
    QTest::newRow("negative") << "-3" << -1;
}

void TestFindBar::goToLineAndColumn()
{
    QFETCH(QString, entry);
    QFETCH(int, caret);
    TestWindow w;
    w.code()->setPlainText(QStringLiteral("ab\n;c\n\nlast"));
    w.setCaret(1);
    press(w, w.code(), Qt::Key_G, Qt::ControlModifier);
    auto *line = w.part<QLineEdit>("ed_GoToLine");
    QCOMPARE(line->text(), QStringLiteral("1:2")); // where the caret is
    line->setText(entry);
    press(w, line, Qt::Key_Return);
    QCOMPARE(w.part("pn_Find")->isVisible(), caret < 0);
    QCOMPARE(w.code()->textCursor().position(), caret < 0 ? 1 : caret);
    QCOMPARE(w.code()->hasFocus(), caret >= 0);
    QVERIFY(w.reports.isEmpty());
}

void TestFindBar::clicksShowBreakpointsAndBracketFaults()
{
    TestWindow w;
    w.compile(QStringLiteral("+\n+[[-]\n"));
    // The compile's error line in the output pane leads to the bracket never closed.
    QPlainTextEdit *output = w.output();
    const QTextBlock errorLine = output->document()->findBlockByNumber(2);
    QCOMPARE(errorLine.text(), QStringLiteral("too little closing brackets"));
    QTextCursor onIt(errorLine);
    QTest::mouseClick(output->viewport(), Qt::LeftButton, {}, output->cursorRect(onIt).center());
    QCOMPARE(w.code()->textCursor().position(), 3);
    // So does the debugger's notice that it cannot start.
    w.setCaret(0);
    press(w, w.code(), Qt::Key_F11);
    QLabel *notice = w.debuggerWindow()->findChild<QLabel *>(QStringLiteral("dbg_Notice"));
    QVERIFY(notice->isVisible());
    QTest::mouseClick(notice, Qt::LeftButton);
    QCOMPARE(w.code()->textCursor().position(), 3);
    // A breakpoint of the debugger's list leads to its command.
    w.code()->setPlainText(QStringLiteral("+\n+[-]\n"));
    for (const int at : {4, 0}) {
        w.setCaret(at);
        press(w, w.code(), Qt::Key_F9);
    }
    auto *list = w.debuggerWindow()->findChild<QListWidget *>(QStringLiteral("dbg_Breakpoints"));
    QCOMPARE(list->count(), 2);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
        list->visualItemRect(list->item(0)).center()); // the first set
    QCOMPARE(w.code()->textCursor().position(), 4);
}

void TestFindBar::linesShowColoursAndBracketPairs_data()
{
    QTest::addColumn<int>("padding"); // commands on either side of the loop
    QTest::newRow("short line") << 10;
    QTest::newRow("line of 100,000 characters") << 50'000;
}

void TestFindBar::linesShowColoursAndBracketPairs()
{
    QFETCH(int, padding);
    TestWindow w;
    w.code()->setPlainText(
        QString(padding, u'+') + QStringLiteral("[->+<]") + QString(padding, u'+'));
    w.setCaret(padding); // on the "[": it and its partner are marked
    w.code()->ensureCursorVisible();
    const QImage view = w.code()->viewport()->grab().toImage();
    const auto shows = [&view](const QColor &colour, int tolerance) {
        for (int y = 0; y < view.height(); ++y) {
            for (int x = 0; x < view.width(); ++x) {
                const QColor seen = view.pixelColor(x, y);
                if (std::abs(seen.red() - colour.red()) + std::abs(seen.green() - colour.green()) +
                        std::abs(seen.blue() - colour.blue()) <=
                    tolerance)
                    return true;
            }
        }
        return false;
    };
    QVERIFY(shows(QColor(190, 235, 190), 0)); // the bracket pair's mark
    QVERIFY(shows(QColor(0xB0, 0x50, 0x00), 60)); // brackets
    QVERIFY(shows(QColor(0x10, 0x40, 0xA0), 60)); // + and -
    QVERIFY(shows(QColor(0x00, 0x70, 0x30), 60)); // > and <
}

QTEST_MAIN(TestFindBar)
#include "tst_findbar.moc"
