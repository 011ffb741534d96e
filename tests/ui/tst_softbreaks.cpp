#include "codeview.h"
#include "findbar.h"
#include "linebreaks.h"
#include "sourcedocument.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QtTest>

// Long lines held as chains of short blocks: random edits through the keys, the clipboard and
// undo on a pane that chunks lines of more than a few characters, checked against the same
// edits on a plain string.
class TestSoftBreaks : public QObject
{
    Q_OBJECT
private slots:
    void randomEditsKeepTheSource();
};

namespace {

constexpr int Limit = 4;

struct Session
{
    CodePane pane;
    MessageTexts messages;
    SourceDocument document {pane, messages};
    FindBar find {pane, [](const std::function<void()> &command) { command(); }};
    QString model;
    QRandomGenerator random;
    QStringList history;
    QString log;

    explicit Session(quint32 seed)
        : random(seed)
    {
        pane.setSoftBreakLimit(Limit);
        model = text(30);
        const bool undoable = random.bounded(2) == 0;
        document.replaceText(model, undoable);
        history = undoable ? QStringList {QString(), model} : QStringList {model};
    }

    int below(int bound) { return int(random.bounded(std::max(bound, 1))); }

    QString text(int most)
    {
        static const QString letters = QStringLiteral("+-<>[].,; a\n");
        QString made;
        for (int k = below(most + 1); k > 0; --k)
            made += letters.at(below(int(letters.size())));
        return made;
    }

    const SoftBreaks &breaks() const { return pane.softBreaks(); }

    // The caret at a source offset: either document position where it stands at a soft break.
    void placeCaret(int offset, int anchor = -1)
    {
        QTextCursor caret = pane.textCursor();
        const auto positionOf = [&](int at) {
            int position = breaks().toDocument(at);
            const QTextBlock block = pane.document()->findBlock(position);
            if (position == block.position() && breaks().continues(block) && below(2) == 0)
                --position; // the end of the chunk before
            return position;
        };
        caret.setPosition(positionOf(anchor < 0 ? offset : anchor));
        caret.setPosition(positionOf(offset), QTextCursor::KeepAnchor);
        pane.setTextCursor(caret);
    }

    void edit()
    {
        if (log.count(QLatin1Char('#')) > 3)
            log = log.mid(log.indexOf(QLatin1Char('#'), 1));
        const int length = int(model.size());
        const int at = below(length + 1);
        placeCaret(at);
        const int operation = below(11);
        log += QStringLiteral("#op %1 at %2 in \"%3\" blocks:").arg(operation).arg(at).arg(model);
        for (QTextBlock b = pane.document()->begin(); b.isValid(); b = b.next())
            log += (breaks().continues(b) ? QStringLiteral(" ~") : QStringLiteral(" |")) + b.text();
        switch (operation) {
        case 0: {
            const QChar typed = QStringLiteral("+-;[]a").at(below(6));
            QTest::keyClick(&pane, typed.toLatin1());
            model.insert(at, typed);
            break;
        }
        case 1:
            QTest::keyClick(&pane, Qt::Key_Return);
            model.insert(at, QLatin1Char('\n'));
            break;
        case 2:
            QTest::keyClick(&pane, Qt::Key_Backspace);
            if (at > 0)
                model.remove(at - 1, 1);
            break;
        case 3:
            QTest::keyClick(&pane, Qt::Key_Delete);
            if (at < length)
                model.remove(at, 1);
            break;
        case 4: {
            // A selection, across soft breaks or not, removed, typed over or copied.
            const int other = below(length + 1);
            placeCaret(other, at);
            const int from = std::min(at, other);
            const int to = std::max(at, other);
            const int what = below(3);
            if (what == 0) {
                QTest::keyClick(&pane, Qt::Key_Backspace);
                if (from < to)
                    model.remove(from, to - from);
                else if (from > 0) // only soft breaks selected: as no selection
                    model.remove(from - 1, 1);
            } else if (what == 1) {
                QTest::keyClick(&pane, 'x');
                model.replace(from, to - from, QStringLiteral("x"));
            } else if (from < to) {
                pane.copy();
                QCOMPARE(QApplication::clipboard()->text(), model.mid(from, to - from));
            }
            break;
        }
        case 5: {
            const QString pasted = text(below(2) == 0 ? 3 * Limit : 12);
            QApplication::clipboard()->setText(pasted);
            pane.paste();
            model.insert(at, pasted);
            break;
        }
        case 6: {
            // Undone and redone: back to an earlier text and then to this one.
            const QString before = model;
            const bool undone = pane.document()->isUndoAvailable();
            pane.undo();
            QVERIFY(history.contains(breaks().sourceText()));
            if (undone && below(2) == 0) {
                pane.redo();
                QCOMPARE(breaks().sourceText(), before);
            } else {
                model = breaks().sourceText();
            }
            break;
        }
        case 9: {
            // Replace all: a character (which may sit at a soft break) by two.
            const QString what(QStringLiteral("+-;[a").at(below(5)));
            const QString with = QStringLiteral("<>");
            find.findChild<QLineEdit *>(QStringLiteral("ed_Find"))->setText(what);
            find.findChild<QLineEdit *>(QStringLiteral("ed_Replace"))->setText(with);
            QCOMPARE(find.replaceAll(), int(model.count(what)));
            model.replace(what, with);
            break;
        }
        case 10: {
            // Go to a line and column of the source.
            const QStringList lines = model.split(QLatin1Char('\n'));
            const int line = below(int(lines.size()));
            const int column = below(int(lines[line].size()) + 1);
            QVERIFY(find.goToLine(QStringLiteral("%1:%2").arg(line + 1).arg(column + 1)));
            int offset = column;
            for (int k = 0; k < line; ++k)
                offset += int(lines[k].size()) + 1;
            QCOMPARE(breaks().toSource(pane.textCursor().position()), offset);
            break;
        }
        case 7:
        case 8: {
            // The caret passes one source character at a time.
            const bool right = below(2) == 0;
            QTest::keyClick(&pane, right ? Qt::Key_Right : Qt::Key_Left);
            const int expected = std::clamp(at + (right ? 1 : -1), 0, length);
            QCOMPARE(breaks().toSource(pane.textCursor().position()), expected);
            break;
        }
        }
        QApplication::processEvents(); // the chunks split again
        history.append(model);
    }

    void check()
    {
        QCOMPARE(breaks().sourceText(), model);
        QCOMPARE(textWithCrLf(*pane.document()), QString(model).replace(u'\n', "\r\n"));
        QCOMPARE(breaks().lineCount(), int(model.count(QLatin1Char('\n'))) + 1);
        for (int offset = 0; offset <= model.size(); ++offset)
            QCOMPARE(breaks().toSource(breaks().toDocument(offset)), offset);
        // Every chunk is short, and the comment after a line's first ";" holds no command
        // through all the chunks of its line.
        int offset = 0;
        for (QTextBlock block = pane.document()->begin(); block.isValid(); block = block.next()) {
            QVERIFY2(block.length() - 1 <= 2 * Limit, qPrintable(block.text()));
            if (block.position() > 0 && !breaks().continues(block))
                ++offset; // the line break
            for (int k = 0; k < block.length() - 1; ++k, ++offset) {
                const qsizetype lineStart =
                    offset == 0 ? 0 : model.lastIndexOf(QLatin1Char('\n'), offset - 1) + 1;
                const qsizetype semicolon = model.indexOf(QLatin1Char(';'), lineStart);
                const qsizetype lineEnd = model.indexOf(QLatin1Char('\n'), lineStart);
                const bool comment =
                    semicolon >= 0 && semicolon <= offset && (lineEnd < 0 || semicolon < lineEnd);
                const bool command = QStringView(u"+-<>[].,").contains(model.at(offset));
                QCOMPARE(pane.isCommandAt(block.position() + k), command && !comment);
            }
        }
    }
};

} // namespace

void TestSoftBreaks::randomEditsKeepTheSource()
{
    for (quint32 seed = 1; seed <= 40; ++seed) {
        Session session(seed);
        for (int step = 0; step < 150; ++step) {
            session.edit();
            session.check();
            if (QTest::currentTestFailed()) {
                QString now;
                for (QTextBlock b = session.pane.document()->begin(); b.isValid(); b = b.next())
                    now += (session.breaks().continues(b) ? QStringLiteral(" ~")
                                                          : QStringLiteral(" |")) +
                        b.text();
                QFAIL(qPrintable(QStringLiteral("seed %1, step %2: %3 now %4")
                                     .arg(seed)
                                     .arg(step)
                                     .arg(session.log, now)));
            }
        }
    }
}

QTEST_MAIN(TestSoftBreaks)
#include "tst_softbreaks.moc"
