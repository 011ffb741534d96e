#pragma once

#include "Ufrm_BrainF_ck.h"
#include "codeview.h"
#include "customwidgets.h"
#include "linebreaks.h"
#include "windowprobe.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A window built from a fixture configuration folder (tests/ui/data/<name>, or no files at
// all for an empty name), shown on the offscreen screen, with its error reports collected.
// Tests reach its parts by their object names and use them as a user does.
struct TestWindow
{
    explicit TestWindow(const QString &fixture = QString())
    {
        const QString dir = fixture.isEmpty()
            ? m_empty.path() + QLatin1Char('/')
            : QStringLiteral(CEREBRIX_UI_TEST_DATA "/") + fixture + QLatin1Char('/');
        window = std::make_unique<Tfrm_BF_IDE>(dir);
        WindowProbe::setReportError(*window, [this](const QString &text) { reports.append(text); });
        window->show();
    }
    Tfrm_BF_IDE *operator->() const { return window.get(); }

    // The window's part named name; a missing one ends the test program.
    template<typename T = QWidget>
    T *part(const char *name) const
    {
        T *found = window->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("The window has no part named %s", name);
        return found;
    }
    CodePane *code() const { return part<CodePane>("re_code"); }
    LimitedTextEdit *output() const { return part<LimitedTextEdit>("re_outp"); }
    QLineEdit *input() const { return part<QLineEdit>("ed_bf_Input"); }

    // The panes' texts with CR LF line breaks, as a saved file holds them. A program's output
    // is all in its pane once the run (or the leg under the debugger) has ended.
    QString codeText() const { return textWithCrLf(*code()->document()); }
    QString outputText() const { return textWithCrLf(*output()->document()); }

    // A left click on the button (or the break control) named name.
    void click(const char *name) const { QTest::mouseClick(part(name), Qt::LeftButton); }
    // Runs the command of the menu item (or key) named item.
    void trigger(const char *item) const { part<QAction>(item)->trigger(); }
    // The output pane's menu has one item: clear.
    void clearOutput() const { part<QMenu>("Pm_outp")->actions().value(0)->trigger(); }

    // Puts code into the code pane and presses the compile button.
    void compile(const QString &text) const
    {
        code()->setPlainText(text);
        click("kn_load");
    }
    // A key pressed in the code pane, the window active.
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const
    {
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get()))
            qWarning("The window did not become active");
        QTest::keyClick(code(), Qt::Key(key), modifiers);
    }
    void setCaret(int offset) const
    {
        QTextCursor cursor = code()->textCursor();
        cursor.setPosition(offset);
        code()->setTextCursor(cursor);
    }
    // The debugger's own window; null until the debugger was first opened.
    QWidget *debuggerWindow() const
    {
        return window->findChild<QWidget *>(QStringLiteral("DebuggerWindow"));
    }
    // A label of the debugger window: dbg_State, dbg_Counters or dbg_Notice.
    QString debuggerText(const char *label) const
    {
        const QWidget *tool = debuggerWindow();
        const auto *found = tool ? tool->findChild<QLabel *>(QLatin1String(label)) : nullptr;
        return found ? found->text() : QString();
    }

    // Whether a run (or a leg under the debugger) is going on: its break control shows.
    bool isRunning() const { return !part("kn_Break")->isHidden(); }

    QTemporaryDir m_empty;
    std::unique_ptr<Tfrm_BF_IDE> window;
    QStringList reports;
};

// The start-up text of the output pane.
inline QString outputStart()
{
    return QStringLiteral("(Outp)\r\n \r\n");
}
