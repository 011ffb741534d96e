#pragma once

#include "configloader.h"
#include "u_Brainfuck.h"

#include <QAbstractTableModel>
#include <QLocale>
#include <QWidget>

#include <cstdint>

class QAction;
class QCheckBox;
class QCloseEvent;
class QKeyEvent;
class QLabel;
class QListWidget;
class QMenu;
class QProgressBar;
class QSpinBox;
class QTableView;
class OutputView;
class ProfileView;

// The number format of the GUI language languageCode ("EN", "DE"), with thousands separators.
QLocale numberLocale(const std::string &languageCode);

// The tape as a table: one row per cell (address, decimal, hexadecimal, character), the data
// pointer's row and the cells changed since the previous pause marked. The decimal column is
// editable while the run is paused.
class TapeModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit TapeModel(QObject *parent = nullptr);

    void setHeaders(const QStringList &headers);
    // How cells are numbered and values read: from startCell (negative to its left) or from
    // the tape's left end; values signed or not at the cell's width. Numbers in locale.
    void setNumbering(bool relative, bool signedValues, const QLocale &locale);
    // The cell number shown for the tape's cell (its row).
    qint64 shownCell(int cell) const { return m_relative ? qint64 {cell} - m_startCell : cell; }
    std::int32_t startCell() const { return m_startCell; }
    // Shows tape (nothing when null; it must outlive the next show), cells of cellBits bits,
    // marking the cells that differ from previous (when of the same size).
    void show(const tDataArr *tape, const tDataArr &previous, std::int32_t dataPointer,
        bool editable, int cellBits = 8, std::int32_t startCell = 0);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

signals:
    // A cell's new value typed in the decimal column (0 to the largest value of the width),
    // typed signed while values are shown signed.
    void cellEdited(int cell, qint64 value);

private:
    // The value of cell in tape, at the shown width.
    std::uint32_t cellOf(const tDataArr &tape, std::size_t cell) const;

    const tDataArr *m_tape = nullptr;
    std::size_t m_cellBytes = 1;
    tDataArr m_previous;
    std::int32_t m_dataPointer = -1;
    std::int32_t m_startCell = 0;
    bool m_editable = false;
    bool m_relative = false;
    bool m_signed = false;
    QLocale m_locale;
    QStringList m_headers;
};

// The debugger's tool window: the run-control buttons (the main window's actions, so their
// keys work in both windows), the run's state and counters, the tape and the breakpoints. It
// only shows what it is given and reports what the user asks for.
class DebuggerWindow : public QWidget
{
    Q_OBJECT
public:
    DebuggerWindow(const DebuggerTexts &texts, const QList<QAction *> &commands, QWidget *parent);

    void setState(const QString &state, const QString &counters);
    // A notice under the state (the code changed, the history's limit); empty hides it.
    void setNotice(const QString &notice);
    // The tape of cells of cellBits bits, the run having started at startCell; the go-to box
    // reaches its last cell.
    void showTape(const tDataArr *tape, const tDataArr &previous, std::int32_t dataPointer,
        bool editable, int cellBits = 8, std::int32_t startCell = 0);
    // A cell (of the tape, from its left end) as the tape view numbers it.
    QString cellText(int cell) const;
    // A count in the GUI language's format.
    QString countText(qint64 count) const { return m_locale.toString(count); }
    void setBreakpoints(const QStringList &entries);
    bool stopsAtMarks() const;
    // Whether the tape view's menu offers to search back (the run has a history to search)
    // and forward (the run can go on) for the accesses to the selected cell.
    void setCellSearches(bool back, bool forward);
    // The loops around the current command, innermost first.
    void setLoops(const QStringList &entries);
    // How far a search back has come, 0 .. 100; -1 hides the bar (no search going on).
    void setSearchProgress(int percent);

    TapeModel *tapeModel() const { return m_tapeModel; }
    // What the run printed, and its profile (below the breakpoints, one tab each).
    OutputView *outputView() const { return m_output; }
    ProfileView *profileView() const { return m_profile; }
    // Whether the tape view shows values signed (a watched value is read as shown).
    bool showsSigned() const;

signals:
    void cellEdited(int cell, qint64 value);
    void breakpointRemoved(int index);
    void allBreakpointsRemoved();
    void stopsAtMarksChanged();
    // A breakpoint of the list was clicked (to be shown in the code), or the notice.
    void breakpointChosen(int index);
    // From the tape view's menu: to the last change of cell (back) or its next read.
    void cellSearchAsked(int cell, bool back);
    // From the tape view's menu: a watchpoint of kind (DebugWatch::Kind) on the selected
    // cells first .. last, to be set or taken away.
    void watchAsked(int first, int last, int kind);
    // A loop of the loop list was clicked (its "[" to be shown).
    void loopChosen(int index);
    void noticeClicked();
    // The window was closed: by the window manager, its Close button or Escape.
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void goToCell(int cell);
    // Scrolls the pointer's cell into the middle of the view while "follow" is on.
    void followPointer();
    // Passes the switches to the model and sets the go-to box's range to match.
    void applyNumbering();

    QLabel *m_state = nullptr;
    QLabel *m_counters = nullptr;
    QLabel *m_notice = nullptr;
    TapeModel *m_tapeModel = nullptr;
    QTableView *m_tapeView = nullptr;
    QCheckBox *m_follow = nullptr;
    QCheckBox *m_relative = nullptr;
    QCheckBox *m_signed = nullptr;
    QSpinBox *m_cell = nullptr;
    bool m_cellChosen = false; // the go-to box was given the first run's start cell
    QListWidget *m_breakpoints = nullptr;
    QCheckBox *m_marks = nullptr;
    QMenu *m_tapeMenu = nullptr;
    QAction *m_lastChange = nullptr;
    QAction *m_firstRead = nullptr;
    OutputView *m_output = nullptr;
    ProfileView *m_profile = nullptr;
    QList<QAction *> m_watchActions; // by DebugWatch::Kind
    QListWidget *m_loops = nullptr;
    QProgressBar *m_searchProgress = nullptr;
    std::int32_t m_dataPointer = -1;
    QLocale m_locale;
};
