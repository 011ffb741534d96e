#pragma once

#include "Ufrm_BrainF_ck.h"
#include "codeview.h"
#include "debuggerwindow.h"
#include "debugsession.h"
#include "linebreaks.h"
#include "softbreaks.h"
#include "windowprobe.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <cstdint>
#include <functional>

// Drives a window through user actions chosen by a source of numbers (a seeded generator in
// the tests, the fuzzer's bytes in the fuzz target) and checks after every action what must
// always hold. While a run goes on, a timer answers its input requests and ends it when it
// takes too long, with choices from the same source.
class UserSession
{
public:
    // next(n) returns a number from 0 to n - 1; folder receives the files opened and saved.
    UserSession(Tfrm_BF_IDE &window, std::function<int(int)> next, const QString &folder)
        : m_window(window)
        , m_next(std::move(next))
        , m_folder(folder)
    {
        // Qt's warnings about misuse (a text position out of range, a bad connection) are
        // findings too; those about the platform are not.
        instance() = this;
        m_previousHandler = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                static const char *const misuse[] = {"QTextCursor", "out of range",
                    "QObject::", "ASSERT", "QAbstractItemModel", "QLayout"};
                for (const char *sign : misuse) {
                    if (type != QtDebugMsg && message.contains(QLatin1String(sign)))
                        instance()->fail(QStringLiteral("Qt said: ") + message);
                }
                instance()->m_previousHandler(type, context, message);
            });
        WindowProbe::setReportError(window, [this](const QString &text) { report(text); });
        WindowProbe::setAskToSave(window, [](const QString &) { return int(QMessageBox::Cancel); });
        WindowProbe::setChooseFile(
            window, [this](QFileDialog &dialog, const QString &) { return chooseFile(dialog); });
        QObject::connect(&m_autopilot, &QTimer::timeout, &m_window, [this] { steer(); });
        m_autopilot.start(5);
    }

    ~UserSession()
    {
        qInstallMessageHandler(m_previousHandler);
        instance() = nullptr;
    }
    UserSession(const UserSession &) = delete;
    UserSession &operator=(const UserSession &) = delete;

    // Runs one action and checks the invariants; false (with failure() saying why) when one
    // does not hold.
    bool step()
    {
        const int action = m_next(ActionCount);
        m_lastAction = action;
        const std::int64_t shownBefore = shownOutputs();
        act(action);
        QApplication::processEvents();
        check(action, shownBefore);
        return m_failure.isEmpty();
    }
    const QString &failure() const { return m_failure; }

    // Forgets the choices a window remembers for the user (the dialect, the debugger window's
    // place and switches), so that every session starts alike whatever ran before it.
    static void forgetUserChoices()
    {
        QSettings settings(QStringLiteral("Cerebrix"), QStringLiteral("Cerebrix"));
        settings.remove(QStringLiteral("Dialect"));
        settings.remove(QStringLiteral("DebuggerWindow"));
    }

private:
    static constexpr int ActionCount = 36;

    static UserSession *&instance()
    {
        static UserSession *current = nullptr;
        return current;
    }

    template<typename T = QWidget>
    T *part(const char *name) const
    {
        return m_window.findChild<T *>(QLatin1String(name));
    }
    CodePane *code() const { return part<CodePane>("re_code"); }
    QString snippet()
    {
        static const char alphabet[] = "+-<>[].,;# \nab";
        QString text;
        for (int i = m_next(6) + 1; i > 0; --i)
            text += QLatin1Char(alphabet[m_next(int(sizeof alphabet) - 1)]);
        return text;
    }
    // A line over the code pane's chunk limit: a snippet's commands over and over, at times
    // broken once by a line break.
    QString longLine()
    {
        QString unit = snippet().remove(QLatin1Char('\n'));
        if (unit.isEmpty())
            unit = QStringLiteral("+>");
        QString text;
        const int length = 1'001 + m_next(1'600);
        while (text.size() < length)
            text += unit;
        if (m_next(3) == 0)
            text.insert(m_next(int(text.size())), QLatin1Char('\n'));
        return text;
    }
    void key(int keyCode, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(code(), Qt::Key(keyCode), modifiers);
    }
    void type(const QString &text)
    {
        for (const QChar c : text) {
            if (c == QLatin1Char('\n'))
                key(Qt::Key_Return);
            else
                QTest::keyClicks(code(), QString(c));
        }
    }
    void trigger(const char *name)
    {
        if (auto *action = part<QAction>(name))
            action->trigger();
    }
    void selectRange()
    {
        const int size = code()->document()->characterCount() - 1;
        QTextCursor cursor = code()->textCursor();
        cursor.setPosition(m_next(size + 1));
        cursor.setPosition(m_next(size + 1), QTextCursor::KeepAnchor);
        code()->setTextCursor(cursor);
    }

    void act(int action)
    {
        switch (action) {
        case 0: type(snippet()); break;
        case 1:
            QApplication::clipboard()->setText(snippet() + snippet());
            key(Qt::Key_V, Qt::ControlModifier);
            break;
        case 2:
            selectRange();
            key(Qt::Key_Backspace);
            break;
        case 3: selectRange(); break;
        case 4: QTest::mouseClick(part("kn_load"), Qt::LeftButton); break;
        case 5: QTest::mouseClick(part("kn_run"), Qt::LeftButton); break;
        case 6: key(Qt::Key_F5); break;
        case 7: key(Qt::Key_F9); break;
        case 8: key(Qt::Key_F10); break;
        case 9: key(Qt::Key_F11); break;
        case 10: key(Qt::Key_F5, Qt::ShiftModifier); break;
        case 11: key(Qt::Key_F11, Qt::ShiftModifier); break;
        case 12: key(Qt::Key_F10, Qt::ControlModifier); break;
        case 13: trigger("dbg_StepBack"); break;
        case 14: trigger("dbg_Reverse"); break;
        case 15: editCell(); break;
        case 16:
            if (QWidget *tool = part("DebuggerWindow"))
                tool->close();
            break;
        case 17: trigger("PMC_Debugger"); break;
        case 18: trigger("PM_DfltProgs1"); break;
        case 19: key(Qt::Key_Z, Qt::ControlModifier); break;
        case 20: key(Qt::Key_Y, Qt::ControlModifier); break;
        case 21: openFile(); break;
        case 22:
            QFile::remove(savedPath());
            trigger("PMC_Filesave");
            break;
        case 23: trigger("PMC_FilterCode"); break;
        case 24: trigger("PMC_DisAsm"); break;
        case 25:
            QApplication::clipboard()->setText(longLine());
            key(Qt::Key_V, Qt::ControlModifier);
            break;
        case 26: find(); break;
        case 27:
            key(Qt::Key_H, Qt::ControlModifier);
            part<QLineEdit>("ed_Find")->setText(snippet());
            part<QLineEdit>("ed_Replace")->setText(snippet());
            QTest::mouseClick(part("kn_ReplaceAll"), Qt::LeftButton);
            break;
        case 28:
            key(Qt::Key_G, Qt::ControlModifier);
            part<QLineEdit>("ed_GoToLine")
                ->setText(QStringLiteral("%1:%2").arg(m_next(5)).arg(m_next(9)));
            QTest::keyClick(part("ed_GoToLine"), Qt::Key_Return);
            break;
        case 29: chooseDialect(); break;
        case 30: searchCell(); break;
        case 31:
            if (auto *box = part<QAbstractButton>(
                    m_next(2) == 0 ? "dbg_RelativeCells" : "dbg_SignedValues"))
                box->click();
            break;
        case 32: clickOutput(); break;
        case 33:
            if (auto *button = part<QAbstractButton>("dbg_RunProfiled"))
                button->click();
            break;
        case 34: toggleWatch(); break;
        case 35:
            if (auto *loops = part<QListWidget>("dbg_Loops"); loops && loops->count() > 0)
                emit loops->itemClicked(loops->item(m_next(loops->count())));
            break;
        default: key(Qt::Key_F11); break;
        }
    }

    // A click on a character the run printed (or on the output view's empty part).
    void clickOutput()
    {
        auto *view = part<QPlainTextEdit>("dbg_Output");
        if (!view || !view->isVisible())
            return;
        QTextCursor at(view->document());
        at.setPosition(m_next(view->document()->characterCount()));
        QTest::mouseClick(
            view->viewport(), Qt::LeftButton, {}, view->cursorRect(at).center() + QPoint(2, 0));
    }

    // A watchpoint of any kind on a cell or two by the pointer, set or taken away; the value
    // one asks for its value, answered with a relation or something it does not take.
    void toggleWatch()
    {
        QAbstractItemView *view = chooseCellByThePointer();
        if (!view)
            return;
        const int cell = view->currentIndex().row();
        if (m_next(3) == 0)
            view->selectionModel()->select(view->model()->index(cell + 1, 1),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTimer::singleShot(0, &m_window, [this] {
            auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            static const char *const answers[] = {"= 0", "<> 1", "< -1", "> 2", "x"};
            dialog->setTextValue(QLatin1String(answers[m_next(5)]));
            dialog->accept();
        });
        static const char *const kinds[] = {
            "dbg_WatchChange", "dbg_WatchValue", "dbg_WatchEnter", "dbg_WatchLeave"};
        trigger(kinds[m_next(4)]);
    }

    // Searches the code, by its commands alone or not, in either direction.
    void find()
    {
        key(Qt::Key_F, Qt::ControlModifier);
        part<QAbstractButton>("cb_CommandsOnly")->setChecked(m_next(2) == 1);
        part<QLineEdit>("ed_Find")->setText(snippet());
        key(Qt::Key_F3, m_next(2) == 1 ? Qt::ShiftModifier : Qt::NoModifier);
    }

    // The dialect dialog, answered with random choices, small tapes among them.
    void chooseDialect()
    {
        QTimer::singleShot(0, &m_window, [this] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog || dialog->objectName() != QLatin1String("DialectDialog"))
                return;
            for (QComboBox *box : dialog->findChildren<QComboBox *>())
                box->setCurrentIndex(m_next(box->count()));
            static const int cells[] = {1, 7, 300, 65536};
            for (QSpinBox *spin : dialog->findChildren<QSpinBox *>())
                spin->setValue(cells[m_next(4)]);
            if (m_next(2) == 0)
                dialog->accept();
            else
                dialog->reject();
        });
        trigger("PMC_Dialect");
    }

    // Makes a cell by the pointer (one to its left, the pointer's, one to its right) current in
    // the tape view; the view, or null without a debugged run and its window.
    QAbstractItemView *chooseCellByThePointer()
    {
        const tDebugger *debugger = WindowProbe::debugger(m_window);
        auto *tool = part<DebuggerWindow>("DebuggerWindow");
        auto *view =
            tool ? tool->findChild<QAbstractItemView *>(QStringLiteral("dbg_Tape")) : nullptr;
        if (!debugger || !view)
            return nullptr;
        view->setCurrentIndex(view->model()->index(debugger->dataPointer() + m_next(3) - 1, 1));
        return view;
    }

    // Last change or first read of a cell by the pointer, chosen in the tape view.
    void searchCell()
    {
        if (!chooseCellByThePointer())
            return;
        trigger(m_next(2) == 0 ? "dbg_LastChange" : "dbg_FirstRead");
    }

    void editCell()
    {
        const tDebugger *debugger = WindowProbe::debugger(m_window);
        auto *tool = part<DebuggerWindow>("DebuggerWindow");
        if (!debugger || !tool)
            return;
        TapeModel *tape = tool->tapeModel();
        const int cell = debugger->dataPointer() + m_next(3) - 1;
        tape->setData(tape->index(cell, 1), QString::number(m_next(300)), Qt::EditRole);
    }

    void openFile()
    {
        QFile file(QDir(m_folder).filePath(QStringLiteral("opened.b")));
        if (file.open(QIODevice::WriteOnly))
            file.write((snippet() + QLatin1Char('\n') + (m_next(4) == 0 ? longLine() : snippet()))
                           .toLatin1());
        file.close();
        trigger("PMC_Fileload");
    }

    QString chooseFile(const QFileDialog &dialog)
    {
        const bool opening = dialog.objectName() == QLatin1String("od_bf_fileopen");
        return opening ? QDir(m_folder).filePath(QStringLiteral("opened.b")) : savedPath();
    }
    QString savedPath() const { return QDir(m_folder).filePath(QStringLiteral("saved.bf")); }

    // While a run goes on: answers input requests and ends what runs too long.
    void steer()
    {
        QLineEdit *input = part<QLineEdit>("ed_bf_Input");
        const bool running = !part("kn_Break")->isHidden();
        if (!running) {
            m_runTicks = 0;
            return;
        }
        if (input->isEnabled()) {
            static const char *const entries[] = {"a", "#65", "#abc", "#300", "#0", "Z"};
            const int choice = m_next(10);
            if (choice < 6) {
                input->setText(QLatin1String(entries[choice]));
                QTest::keyClick(input, Qt::Key_Return);
            } else if (choice == 6) {
                QTest::keyClick(input, Qt::Key_Escape);
            } else if (choice == 9) {
                trigger("nEndOfInput");
            } else {
                trigger(choice == 7 ? "dbg_Pause" : "dbg_Stop");
            }
            return;
        }
        if (++m_runTicks < 4)
            return;
        m_runTicks = 0;
        if (!WindowProbe::session(m_window).exists())
            QTest::mouseClick(part("kn_Break"), Qt::LeftButton);
        else
            trigger(m_next(2) == 0 ? "dbg_Pause" : "dbg_Stop");
    }

    void report(const QString &text)
    {
        // The one error a user can cause here: a "#" entry that is no number.
        if (!text.contains(QStringLiteral("abc")))
            fail(QStringLiteral("unexpected report: ") + text);
    }
    void fail(const QString &why)
    {
        if (m_failure.isEmpty())
            m_failure = QStringLiteral("after action %1: %2").arg(m_lastAction).arg(why);
    }

    std::int64_t shownOutputs() const { return WindowProbe::session(m_window).outputsShown(); }

    void check(int action, std::int64_t shownBefore)
    {
        const DebugSession &session = WindowProbe::session(m_window);
        const tDebugger *debugger = session.debugger();
        if (!part("kn_Break")->isHidden())
            fail(QStringLiteral("a run is still going on"));
        if (session.starts() != m_starts) {
            m_compiledText = code()->softBreaks().sourceText();
            m_starts = session.starts();
        }
        if (debugger && debugger->isLive()) {
            auto *tool = part("DebuggerWindow");
            if (!tool || !tool->isVisible())
                fail(QStringLiteral("a live session is not shown"));
            checkCurrentCommand(session, *debugger);
        }
        if (debugger) {
            if (session.outputsShown() < debugger->outputs())
                fail(QStringLiteral("output not shown"));
            if ((action == 13 || action == 14) && session.outputsShown() != shownBefore)
                fail(QStringLiteral("going back showed output again"));
        }
        checkEnabledStates();
        checkLongLines(action);
    }

    // Long lines stay chains of short blocks, and what is saved is the source text.
    void checkLongLines(int action)
    {
        const SoftBreaks &soft = code()->softBreaks();
        const QTextDocument &document = *code()->document();
        if (soft.continues(document.begin()))
            fail(QStringLiteral("the first block continues a line"));
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            if (block.length() - 1 > 2 * soft.limit())
                fail(QStringLiteral("a block of %1 characters").arg(block.length() - 1));
        }
        QFile saved(savedPath());
        if (action == 22 && saved.open(QIODevice::ReadOnly) &&
            QString::fromLatin1(saved.readAll())
                    .replace(QStringLiteral("\r\n"), QStringLiteral("\n")) != soft.sourceText())
            fail(QStringLiteral("the saved file is not the code's text"));
    }

    void checkCurrentCommand(const DebugSession &session, const tDebugger &debugger)
    {
        const std::int32_t position = debugger.position();
        const auto [line, column] = session.lineAndColumnOf(position);
        const QStringList lines = m_compiledText.split(QLatin1Char('\n'));
        const QChar command =
            QChar::fromLatin1(WindowProbe::engine(m_window)->m_code[std::size_t(position)]);
        const QString text = line >= 1 && line <= lines.size() ? lines.at(line - 1) : QString();
        if (column < 1 || column > text.size() || text.at(column - 1) != command)
            fail(QStringLiteral("the state names no command of the compiled text"));
        auto *tool = part<DebuggerWindow>("DebuggerWindow");
        QLabel *state = tool->findChild<QLabel *>(QStringLiteral("dbg_State"));
        const QString place = QStringLiteral("line %1, column %2")
                                  .arg(tool->countText(line), tool->countText(column));
        if (!state->text().contains(place))
            fail(QStringLiteral("state line: ") + state->text() + QStringLiteral(" not ") + place);
        int marked = -1;
        for (const QTextEdit::ExtraSelection &mark : code()->extraSelections()) {
            if (mark.format.background().color() == QColor(255, 200, 40))
                marked = mark.cursor.selectionStart();
        }
        if (session.codeChanged() != (marked < 0))
            fail(QStringLiteral("the current command's mark"));
        if (marked >= 0 && code()->document()->characterAt(marked) != command)
            fail(QStringLiteral("the mark is not on the current command"));
    }

    void checkEnabledStates()
    {
        const WindowState state = WindowProbe::state(m_window);
        const bool compiled = WindowProbe::codeCompiled(m_window);
        const std::pair<const char *, WindowCommand> commands[] = {
            {"kn_load", WindowCommand::Compile},
            {"kn_run", WindowCommand::Run},
            {"dbg_Continue", WindowCommand::Continue},
            {"dbg_Pause", WindowCommand::Pause},
            {"dbg_Stop", WindowCommand::Stop},
            {"dbg_StepOut", WindowCommand::StepOut},
            {"dbg_StepBack", WindowCommand::StepBack},
            {"dbg_Reverse", WindowCommand::Reverse},
        };
        for (const auto &[name, command] : commands) {
            QObject *object = m_window.findChild<QObject *>(QLatin1String(name));
            const bool enabled = object->property("enabled").toBool();
            if (enabled != isCommandEnabled(state, command, compiled))
                fail(QStringLiteral("enabled state of ") + QLatin1String(name));
        }
    }

    Tfrm_BF_IDE &m_window;
    std::function<int(int)> m_next;
    QString m_folder;
    QTimer m_autopilot;
    int m_runTicks = 0;
    int m_lastAction = -1;
    int m_starts = 0;
    QString m_compiledText;
    QString m_failure;
    QtMessageHandler m_previousHandler = nullptr;
};
