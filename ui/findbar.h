#pragma once

#include "configloader.h"
#include "textsearch.h"

#include <QFrame>
#include <QList>

#include <functional>

class CodePane;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The code pane's find, replace and go-to bar. It takes the top of the pane while open (the
// text below it), so nothing of the window moves; it keeps what was searched for F3.
// Its keys are window-wide actions: Ctrl+F find, F3 and Shift+F3 next and previous, Ctrl+H
// replace, Ctrl+G go to line and column; Escape in the bar or the pane closes it.
class FindBar : public QFrame
{
    Q_OBJECT
public:
    enum class Mode { Find, Replace, GoTo };

    // guard runs each command through the window's error report (a replacement may be refused
    // for the pane's character limit). The bar is a child of pane.
    FindBar(CodePane &pane, std::function<void(const std::function<void()> &)> guard);

    void setTexts(const EditorTexts &texts);
    // The window-wide actions of its keys, for the window to add.
    const QList<QAction *> &keyActions() const { return m_actions; }

    // Shows the bar in mode, the selection (on one line) as the text to find.
    void open(Mode mode);
    Mode mode() const { return m_mode; }
    // Selects the next (or previous) match from the caret, the bar opened when nothing was
    // searched for yet; false when there is none.
    bool findNext(bool backward = false);
    // Replaces the selection when it is a match, then selects the next one.
    void replaceOne();
    // Replaces every match as one undoable edit; returns how many.
    int replaceAll();
    // Puts the caret at line and column (from 1, kept within the text); false for an entry
    // that names no line ("12", "12:5" and "12,5" do).
    bool goToLine(const QString &entry);
    // The bar's last word: not found, wrapped around, replaced, a bad entry; empty otherwise.
    QString status() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void setUpFields();
    void setUpActions();
    void place();
    void close();
    void say(const std::string &text, const QString &number = QString());
    SearchOptions options() const;
    void select(const TextMatch &match);

    CodePane &m_pane;
    std::function<void(const std::function<void()> &)> m_guard;
    EditorTexts m_texts;
    Mode m_mode = Mode::Find;
    QList<QAction *> m_actions;
    QLineEdit *m_find = nullptr, *m_replace = nullptr, *m_line = nullptr;
    QLabel *m_findLabel = nullptr, *m_replaceLabel = nullptr, *m_lineLabel = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_next = nullptr, *m_previous = nullptr, *m_replaceOne = nullptr;
    QPushButton *m_replaceAll = nullptr, *m_go = nullptr, *m_close = nullptr;
    QCheckBox *m_caseSensitive = nullptr, *m_commandsOnly = nullptr;
};
