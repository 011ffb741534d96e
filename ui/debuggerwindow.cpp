#include "debuggerwindow.h"

#include "codepage.h"
#include "runviews.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Column { Address, Decimal, Hexadecimal, Character, Columns };

// The user's choices of numbering, kept between sessions with the window's place.
QSettings userSettings()
{
    return QSettings(QStringLiteral("Cerebrix"), QStringLiteral("Cerebrix"));
}

QString relativeKey()
{
    return QStringLiteral("DebuggerWindow/RelativeCells");
}

QString signedKey()
{
    return QStringLiteral("DebuggerWindow/SignedValues");
}

} // namespace

QLocale numberLocale(const std::string &languageCode)
{
    // The GUI language decides, not the system's locale: the numbers then read as the texts
    // around them do (1,234,567 among English texts, 1.234.567 among German ones). A language
    // Qt does not know gets the C locale's format, its separators turned on as well.
    QLocale locale(QString::fromStdString(languageCode).toLower());
    locale.setNumberOptions(QLocale::DefaultNumberOptions);
    return locale;
}

TapeModel::TapeModel(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void TapeModel::setHeaders(const QStringList &headers)
{
    m_headers = headers;
    emit headerDataChanged(Qt::Horizontal, 0, Columns - 1);
}

void TapeModel::setNumbering(bool relative, bool signedValues, const QLocale &locale)
{
    if (relative == m_relative && signedValues == m_signed && locale == m_locale)
        return;
    m_relative = relative;
    m_signed = signedValues;
    m_locale = locale;
    if (rowCount() > 0)
        emit dataChanged(index(0, Address), index(rowCount() - 1, Decimal));
}

void TapeModel::show(const tDataArr *tape, const tDataArr &previous, std::int32_t dataPointer,
    bool editable, int cellBits, std::int32_t startCell)
{
    const int oldRows = rowCount();
    const auto cellBytes = static_cast<std::size_t>(cellBits / 8);
    const int newRows = tape ? static_cast<int>(tape->size() / cellBytes) : 0;
    const bool reset = oldRows != newRows || cellBytes != m_cellBytes;
    if (reset)
        beginResetModel();
    m_tape = tape;
    m_cellBytes = cellBytes;
    m_previous = previous;
    m_dataPointer = dataPointer;
    m_startCell = startCell;
    m_editable = editable;
    if (reset)
        endResetModel();
    else if (newRows > 0) // the views ask only for the rows they show
        emit dataChanged(index(0, 0), index(newRows - 1, Columns - 1));
}

int TapeModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_tape ? 0 : static_cast<int>(m_tape->size() / m_cellBytes);
}

std::uint32_t TapeModel::cellOf(const tDataArr &tape, std::size_t cell) const
{
    std::uint32_t value = 0; // the bytes in the processor's order: little-endian here
    for (std::size_t byte = m_cellBytes; byte-- > 0;)
        value = value << 8 | tape[cell * m_cellBytes + byte];
    return value;
}

int TapeModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant TapeModel::data(const QModelIndex &index, int role) const
{
    if (!m_tape || !index.isValid())
        return {};
    const auto cell = static_cast<std::size_t>(index.row());
    const std::uint32_t value = cellOf(*m_tape, cell);
    const bool changed = m_previous.size() == m_tape->size() && cellOf(m_previous, cell) != value;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (index.column()) {
        case Address: return m_locale.toString(shownCell(index.row()));
        case Decimal: {
            const int bits = static_cast<int>(8 * m_cellBytes);
            // Two's complement at the cell's width: the top bit counts negative.
            const bool negative = m_signed && (value >> (bits - 1)) != 0;
            return negative ? static_cast<qlonglong>(value) - (qlonglong {1} << bits)
                            : static_cast<qlonglong>(value);
        }
        case Hexadecimal:
            return QStringLiteral("%1")
                .arg(value, static_cast<int>(2 * m_cellBytes), 16, QLatin1Char('0'))
                .toUpper();
        case Character:
            // Control characters have no glyph of their own: a middle dot, as in the output.
            // Wider values show the character of their low byte, which is what "." writes.
            return (value & 0xFF) < 32 || (value & 0xFF) == 127
                ? QString(QChar(0x00B7))
                : QString(charFromCp1252(static_cast<std::uint8_t>(value)));
        default: return {};
        }
    case Qt::TextAlignmentRole:
        return index.column() == Character ? int(Qt::AlignCenter)
                                           : int(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::FontRole:
        if (index.row() == m_dataPointer || changed) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    case Qt::BackgroundRole:
        if (index.row() == m_dataPointer)
            return QColor(255, 236, 140); // the pointer's cell, as the current command
        if (changed)
            return QColor(255, 214, 214);
        return {};
    default: return {};
    }
}

QVariant TapeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= m_headers.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    return m_headers.at(section);
}

Qt::ItemFlags TapeModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (m_editable && index.column() == Decimal)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool TapeModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !m_editable || index.column() != Decimal)
        return false;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    const int bits = static_cast<int>(8 * m_cellBytes);
    const qlonglong smallest = m_signed ? -(qlonglong {1} << (bits - 1)) : 0;
    const qlonglong largest = (qlonglong {1} << (m_signed ? bits - 1 : bits)) - 1;
    if (!ok || number < smallest || number > largest)
        return false; // the cell keeps its value
    emit cellEdited(index.row(), number & ((qlonglong {1} << bits) - 1));
    return true;
}

DebuggerWindow::DebuggerWindow(
    const DebuggerTexts &texts, const QList<QAction *> &commands, QWidget *parent)
    : QWidget(parent, Qt::Tool)
    , m_locale(numberLocale(texts.languageCode))
{
    setObjectName(QStringLiteral("DebuggerWindow"));
    setWindowTitle(fromCp1252(texts.title));
    auto *layout = new QVBoxLayout(this);

    // The run-control actions as buttons, four to a row.
    auto *buttons = new QGridLayout;
    for (qsizetype i = 0; i < commands.size(); ++i) {
        auto *button = new QToolButton(this);
        button->setDefaultAction(commands.at(i));
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setObjectName(commands.at(i)->objectName() + QStringLiteral("Button"));
        buttons->addWidget(button, int(i / 4), int(i % 4));
    }
    layout->addLayout(buttons);

    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("dbg_State"));
    m_state->setWordWrap(true);
    m_counters = new QLabel(this);
    m_counters->setObjectName(QStringLiteral("dbg_Counters"));
    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("dbg_Notice"));
    m_notice->setWordWrap(true);
    QPalette warning = m_notice->palette();
    warning.setColor(QPalette::WindowText, QColor(160, 40, 0));
    m_notice->setPalette(warning);
    m_notice->hide();
    m_notice->installEventFilter(this); // a click on the unpaired brackets' notice shows one
    layout->addWidget(m_state);
    layout->addWidget(m_counters);
    layout->addWidget(m_notice);
    m_searchProgress = new QProgressBar(this);
    m_searchProgress->setObjectName(QStringLiteral("dbg_SearchProgress"));
    m_searchProgress->setRange(0, 100);
    m_searchProgress->hide();
    layout->addWidget(m_searchProgress);

    auto *tapeBox = new QGroupBox(fromCp1252(texts.tape), this);
    auto *tapeLayout = new QVBoxLayout(tapeBox);
    auto *tapeBar = new QHBoxLayout;
    m_follow = new QCheckBox(fromCp1252(texts.follow), tapeBox);
    m_follow->setObjectName(QStringLiteral("dbg_Follow"));
    m_follow->setChecked(true);
    const QSettings remembered = userSettings();
    m_relative = new QCheckBox(fromCp1252(texts.relativeCells), tapeBox);
    m_relative->setObjectName(QStringLiteral("dbg_RelativeCells"));
    m_relative->setChecked(remembered.value(relativeKey(), true).toBool());
    m_signed = new QCheckBox(fromCp1252(texts.signedValues), tapeBox);
    m_signed->setObjectName(QStringLiteral("dbg_SignedValues"));
    m_signed->setChecked(remembered.value(signedKey(), false).toBool());
    m_cell = new QSpinBox(tapeBox);
    m_cell->setObjectName(QStringLiteral("dbg_Cell"));
    m_cell->setLocale(m_locale); // takes the number as the view shows it, separators and all
    m_cell->setGroupSeparatorShown(true);
    m_cell->setRange(0, tBF::TapeCells - 1);
    auto *goTo = new QPushButton(fromCp1252(texts.goTo), tapeBox);
    goTo->setObjectName(QStringLiteral("dbg_GoTo"));
    tapeBar->addWidget(m_follow);
    tapeBar->addWidget(m_relative);
    tapeBar->addWidget(m_signed);
    tapeBar->addStretch();
    tapeBar->addWidget(m_cell);
    tapeBar->addWidget(goTo);
    tapeLayout->addLayout(tapeBar);
    m_tapeModel = new TapeModel(this);
    m_tapeModel->setHeaders(fromCp1252(texts.columns).split(QLatin1Char('|')));
    m_tapeModel->setNumbering(m_relative->isChecked(), m_signed->isChecked(), m_locale);
    m_tapeView = new QTableView(tapeBox);
    m_tapeView->setObjectName(QStringLiteral("dbg_Tape"));
    m_tapeView->setModel(m_tapeModel);
    m_tapeView->setLocale(m_locale); // values read in the same format as the cell numbers
    m_tapeView->verticalHeader()->hide();
    m_tapeView->verticalHeader()->setDefaultSectionSize(m_tapeView->fontMetrics().height() + 4);
    m_tapeView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_tapeView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tapeView->setSelectionMode(QAbstractItemView::ContiguousSelection);
    m_tapeView->setEditTriggers(QAbstractItemView::DoubleClicked |
        QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    tapeLayout->addWidget(m_tapeView);
    layout->addWidget(tapeBox, 3);

    // The selected cell's history: a right click selects the cell under the mouse first.
    m_tapeMenu = new QMenu(m_tapeView);
    m_lastChange = m_tapeMenu->addAction(fromCp1252(texts.lastChange));
    m_lastChange->setObjectName(QStringLiteral("dbg_LastChange"));
    m_firstRead = m_tapeMenu->addAction(fromCp1252(texts.firstRead));
    m_firstRead->setObjectName(QStringLiteral("dbg_FirstRead"));
    m_tapeMenu->addSeparator();
    const std::pair<const std::string *, const char *> watches[] = {
        {&texts.watchChange, "dbg_WatchChange"}, {&texts.watchValue, "dbg_WatchValue"},
        {&texts.watchEnter, "dbg_WatchEnter"}, {&texts.watchLeave, "dbg_WatchLeave"}};
    for (const auto &[text, name] : watches) {
        QAction *action = m_tapeMenu->addAction(fromCp1252(*text));
        action->setObjectName(QLatin1String(name));
        const int kind = int(m_watchActions.size());
        m_watchActions.append(action);
        // On the selected cells: a range when several rows are selected.
        connect(action, &QAction::triggered, this, [this, kind] {
            int first = -1, last = -1;
            for (const QModelIndex &row : m_tapeView->selectionModel()->selectedRows()) {
                first = first < 0 ? row.row() : std::min(first, row.row());
                last = std::max(last, row.row());
            }
            if (first < 0 && m_tapeView->currentIndex().isValid())
                first = last = m_tapeView->currentIndex().row();
            if (first >= 0)
                emit watchAsked(first, last, kind);
        });
    }
    setCellSearches(false, false);
    m_tapeView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tapeView, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        const QModelIndex index = m_tapeView->indexAt(at);
        if (!index.isValid())
            return;
        // A click within the selected cells keeps them, for a watch on all of them.
        if (!m_tapeView->selectionModel()->isRowSelected(index.row(), QModelIndex()))
            m_tapeView->setCurrentIndex(index);
        m_tapeMenu->popup(m_tapeView->viewport()->mapToGlobal(at));
    });
    for (QAction *action : {m_lastChange, m_firstRead}) {
        connect(action, &QAction::triggered, this, [this, action] {
            const QModelIndex current = m_tapeView->currentIndex();
            if (current.isValid())
                emit cellSearchAsked(current.row(), action == m_lastChange);
        });
    }

    auto *breakBox = new QGroupBox(fromCp1252(texts.breakpoints), this);
    auto *breakLayout = new QGridLayout(breakBox);
    m_breakpoints = new QListWidget(breakBox);
    m_breakpoints->setObjectName(QStringLiteral("dbg_Breakpoints"));
    auto *remove = new QPushButton(fromCp1252(texts.removeBreakpoint), breakBox);
    remove->setObjectName(QStringLiteral("dbg_RemoveBreakpoint"));
    auto *removeAll = new QPushButton(fromCp1252(texts.removeAllBreakpoints), breakBox);
    removeAll->setObjectName(QStringLiteral("dbg_RemoveAllBreakpoints"));
    m_marks = new QCheckBox(fromCp1252(texts.hashStops), breakBox);
    m_marks->setObjectName(QStringLiteral("dbg_HashStops"));
    breakLayout->addWidget(m_breakpoints, 0, 0, 3, 1);
    breakLayout->addWidget(remove, 0, 1);
    breakLayout->addWidget(removeAll, 1, 1);
    breakLayout->addWidget(m_marks, 3, 0, 1, 2);
    layout->addWidget(breakBox, 1);

    // What the run printed, the loops around the current command and the profile share one
    // place below the breakpoints, so the window keeps its height.
    auto *runViews = new QTabWidget(this);
    runViews->setObjectName(QStringLiteral("dbg_RunViews"));
    m_output = new OutputView(runViews);
    m_output->setToolTip(fromCp1252(texts.outputTip));
    runViews->addTab(m_output, fromCp1252(texts.output));
    m_loops = new QListWidget(runViews);
    m_loops->setObjectName(QStringLiteral("dbg_Loops"));
    runViews->addTab(m_loops, fromCp1252(texts.loops));
    m_profile = new ProfileView(texts, m_locale, runViews);
    runViews->addTab(m_profile, fromCp1252(texts.profile));
    layout->addWidget(runViews, 2);
    connect(m_loops, &QListWidget::itemClicked, this,
        [this](const QListWidgetItem *item) { emit loopChosen(m_loops->row(item)); });

    auto *closeBar = new QHBoxLayout;
    auto *close = new QPushButton(fromCp1252(texts.close), this);
    close->setObjectName(QStringLiteral("dbg_Close"));
    closeBar->addStretch();
    closeBar->addWidget(close);
    layout->addLayout(closeBar);
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    connect(m_tapeModel, &TapeModel::cellEdited, this, &DebuggerWindow::cellEdited);
    // The box holds the number as shown: from the start cell while the view counts from it.
    const auto goToShown = [this] {
        goToCell(m_cell->value() + (m_relative->isChecked() ? m_tapeModel->startCell() : 0));
    };
    connect(goTo, &QPushButton::clicked, this, goToShown);
    connect(m_cell, &QSpinBox::editingFinished, this, goToShown);
    for (QCheckBox *box : {m_relative, m_signed})
        connect(box, &QCheckBox::toggled, this, [this] {
            applyNumbering();
            QSettings settings = userSettings();
            settings.setValue(relativeKey(), m_relative->isChecked());
            settings.setValue(signedKey(), m_signed->isChecked());
        });
    connect(m_follow, &QCheckBox::toggled, this, [this] { followPointer(); });
    connect(remove, &QPushButton::clicked, this, [this] {
        if (m_breakpoints->currentRow() >= 0)
            emit breakpointRemoved(m_breakpoints->currentRow());
    });
    connect(removeAll, &QPushButton::clicked, this, &DebuggerWindow::allBreakpointsRemoved);
    connect(m_breakpoints, &QListWidget::itemClicked, this,
        [this](const QListWidgetItem *item) { emit breakpointChosen(m_breakpoints->row(item)); });
    connect(m_marks, &QCheckBox::toggled, this, &DebuggerWindow::stopsAtMarksChanged);
    resize(sizeHint().expandedTo(QSize(480, 640)));
}

void DebuggerWindow::keyPressEvent(QKeyEvent *event)
{
    // Escape closes it, as it closes a dialog; a cell being edited takes Escape first.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        close();
    else
        QWidget::keyPressEvent(event);
}

bool DebuggerWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_notice && event->type() == QEvent::MouseButtonRelease)
        emit noticeClicked();
    return QWidget::eventFilter(watched, event);
}

void DebuggerWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

void DebuggerWindow::setState(const QString &state, const QString &counters)
{
    m_state->setText(state);
    m_counters->setText(counters);
}

void DebuggerWindow::setNotice(const QString &notice)
{
    m_notice->setText(notice);
    m_notice->setVisible(!notice.isEmpty());
}

void DebuggerWindow::showTape(const tDataArr *tape, const tDataArr &previous,
    std::int32_t dataPointer, bool editable, int cellBits, std::int32_t startCell)
{
    m_tapeModel->show(tape, previous, dataPointer, editable, cellBits, startCell);
    m_dataPointer = tape ? dataPointer : -1;
    if (tape) {
        applyNumbering();
        // The box's first cell is the start cell, not the tape's left end.
        if (!m_cellChosen) {
            m_cellChosen = true;
            m_cell->setValue(m_relative->isChecked() ? 0 : startCell);
        }
    }
    followPointer();
}

void DebuggerWindow::applyNumbering()
{
    const bool relative = m_relative->isChecked();
    m_tapeModel->setNumbering(relative, m_signed->isChecked(), m_locale);
    // The go-to box keeps pointing at the same cell when the numbering changes.
    const int before = m_cell->value() - m_cell->minimum();
    const int first = relative ? -m_tapeModel->startCell() : 0;
    const int last = first + std::max(0, m_tapeModel->rowCount() - 1);
    if (first == m_cell->minimum() && last == m_cell->maximum())
        return; // what the user is typing stays
    m_cell->setRange(first, last);
    m_cell->setValue(first + before);
}

QString DebuggerWindow::cellText(int cell) const
{
    return m_locale.toString(m_tapeModel->shownCell(cell));
}

void DebuggerWindow::followPointer()
{
    if (m_dataPointer >= 0 && m_follow->isChecked()) // scrolled to, not selected: its colour shows
        m_tapeView->scrollTo(
            m_tapeModel->index(m_dataPointer, Decimal), QAbstractItemView::PositionAtCenter);
}

void DebuggerWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // A hidden view has no height to centre in: the pointer's cell is scrolled to once the
    // view is laid out.
    QTimer::singleShot(0, this, [this] { followPointer(); });
}

namespace {

// New entries for a list, the selected row kept where it still exists.
void refill(QListWidget *list, const QStringList &entries)
{
    const int row = list->currentRow();
    list->clear();
    list->addItems(entries);
    if (row >= 0 && row < list->count())
        list->setCurrentRow(row);
}

} // namespace

void DebuggerWindow::setBreakpoints(const QStringList &entries)
{
    refill(m_breakpoints, entries);
}

void DebuggerWindow::setLoops(const QStringList &entries)
{
    refill(m_loops, entries);
}

bool DebuggerWindow::showsSigned() const
{
    return m_signed->isChecked();
}

void DebuggerWindow::setSearchProgress(int percent)
{
    m_searchProgress->setVisible(percent >= 0);
    m_searchProgress->setValue(std::max(percent, 0));
}

bool DebuggerWindow::stopsAtMarks() const
{
    return m_marks->isChecked();
}

void DebuggerWindow::setCellSearches(bool back, bool forward)
{
    m_lastChange->setEnabled(back);
    m_firstRead->setEnabled(forward);
}

void DebuggerWindow::goToCell(int cell)
{
    if (cell < 0 || cell >= m_tapeModel->rowCount())
        return;
    const QModelIndex index = m_tapeModel->index(cell, Decimal);
    m_tapeView->scrollTo(index, QAbstractItemView::PositionAtCenter);
    m_tapeView->setCurrentIndex(index);
}
