#pragma once

#include "configloader.h"
#include "profile.h"

#include <QLocale>
#include <QPlainTextEdit>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

class QPushButton;
class QTableWidget;

// What the debugged run printed, one character per byte (a line break as one, other control
// bytes as their pictures), so that each character's place is its byte's index. The part the
// run prints only after the current point (after a step back) is shown muted. A click on a
// character asks for the '.' that printed it.
class OutputView : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit OutputView(QWidget *parent = nullptr);

    // printed: every byte recorded; present: how many of them the run has printed so far.
    void showPrinted(const std::string &printed, std::int64_t present);
    std::int64_t present() const { return m_present; }
    // The byte whose character lies under point of the viewport; -1 for none.
    qint64 byteAt(const QPoint &point) const;

signals:
    void byteClicked(qint64 index);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    std::string m_shown; // the bytes the text holds
    std::int64_t m_present = -1;
};

// A profiled run: the button that runs one, and its hottest loops with their rounds and what
// the optimiser makes of each. A click on a loop asks to see its "[".
class ProfileView : public QWidget
{
    Q_OBJECT
public:
    // A loop as the list shows it: where its "[" stands (line and column from 1).
    struct Row
    {
        int line = 0;
        int column = 0;
        tLoopProfile loop;
    };

    ProfileView(const DebuggerTexts &texts, const QLocale &locale, QWidget *parent = nullptr);
    void showLoops(const std::vector<Row> &rows);
    int rowCount() const;

signals:
    void runAsked();
    void loopChosen(std::int32_t open);

private:
    QPushButton *m_run = nullptr;
    QTableWidget *m_loops = nullptr;
    QStringList m_shapes;
    QString m_entry;
    QLocale m_locale;
    std::vector<std::int32_t> m_opens;
};
