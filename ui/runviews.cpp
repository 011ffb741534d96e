#include "runviews.h"

#include "codepage.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBlock>
#include <QVBoxLayout>

namespace {

const QColor FutureColour(170, 170, 170);

// One character per byte: a line break stays one, other control bytes show as pictures.
QString charactersOf(std::string_view bytes)
{
    QString text;
    text.reserve(qsizetype(bytes.size()));
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        if (code == '\n')
            text.append(QLatin1Char('\n'));
        else if (code < 32)
            text.append(QChar(0x2400 + code));
        else if (code == 127)
            text.append(QChar(0x2421));
        else
            text.append(fromCp1252(std::string_view(&byte, 1)));
    }
    return text;
}

} // namespace

OutputView::OutputView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("dbg_Output"));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    setFont(fixed);
    viewport()->setCursor(Qt::PointingHandCursor);
}

void OutputView::showPrinted(const std::string &printed, std::int64_t present)
{
    const bool grows = printed.size() >= m_shown.size() &&
        std::string_view(printed).substr(0, m_shown.size()) == m_shown;
    if (!grows) {
        setPlainText(charactersOf(printed));
        m_shown = printed;
    } else if (printed.size() > m_shown.size()) {
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        end.insertText(charactersOf(std::string_view(printed).substr(m_shown.size())));
        m_shown = printed;
    } else if (present == m_present) {
        return;
    }
    m_present = std::clamp<std::int64_t>(present, 0, std::int64_t(m_shown.size()));
    QList<QTextEdit::ExtraSelection> future;
    if (m_present < std::int64_t(m_shown.size())) {
        QTextEdit::ExtraSelection ahead;
        ahead.cursor = QTextCursor(document());
        ahead.cursor.setPosition(int(m_present));
        ahead.cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        ahead.format.setForeground(FutureColour);
        ahead.format.setFontItalic(true);
        future.append(ahead);
    }
    setExtraSelections(future);
}

qint64 OutputView::byteAt(const QPoint &point) const
{
    const QTextCursor cursor = cursorForPosition(point);
    int position = cursor.position();
    // The cursor stands between characters: the one clicked lies on the point's side.
    const QRect caret = cursorRect(cursor);
    if (point.x() < caret.x() && position > cursor.block().position())
        --position;
    const QTextBlock block = cursor.block();
    if (position >= block.position() + block.length() - 1) {
        // Past a line's end: its line break, printed like any other byte (the last line has none).
        position = block.position() + block.length() - 1;
        if (!block.next().isValid())
            --position;
    }
    return position >= 0 && std::size_t(position) < m_shown.size() ? position : -1;
}

void OutputView::mouseReleaseEvent(QMouseEvent *event)
{
    QPlainTextEdit::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || textCursor().hasSelection())
        return;
    const qint64 index = byteAt(event->position().toPoint());
    if (index >= 0)
        emit byteClicked(index);
}

ProfileView::ProfileView(const DebuggerTexts &texts, const QLocale &locale, QWidget *parent)
    : QWidget(parent)
    , m_shapes(fromCp1252(texts.loopShapes).split(QLatin1Char('|')))
    , m_entry(fromCp1252(texts.breakpointEntry))
    , m_locale(locale)
{
    setObjectName(QStringLiteral("dbg_Profile"));
    auto *layout = new QVBoxLayout(this);
    m_run = new QPushButton(fromCp1252(texts.runProfiled), this);
    m_run->setObjectName(QStringLiteral("dbg_RunProfiled"));
    auto *bar = new QHBoxLayout;
    bar->addWidget(m_run);
    bar->addStretch();
    layout->addLayout(bar);
    m_loops = new QTableWidget(0, 4, this);
    m_loops->setObjectName(QStringLiteral("dbg_HotLoops"));
    m_loops->setHorizontalHeaderLabels(fromCp1252(texts.loopColumns).split(QLatin1Char('|')));
    m_loops->verticalHeader()->hide();
    m_loops->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_loops->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_loops->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_loops->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(m_loops);
    connect(m_run, &QPushButton::clicked, this, &ProfileView::runAsked);
    connect(m_loops, &QTableWidget::cellClicked, this, [this](int row, int) {
        if (row >= 0 && std::size_t(row) < m_opens.size())
            emit loopChosen(m_opens[std::size_t(row)]);
    });
}

void ProfileView::showLoops(const std::vector<Row> &rows)
{
    m_loops->setRowCount(int(rows.size()));
    m_opens.clear();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        m_opens.push_back(row.loop.open);
        const auto shape = static_cast<qsizetype>(row.loop.shape);
        const QString cells[] = {
            m_entry.arg(m_locale.toString(row.line), m_locale.toString(row.column)),
            m_locale.toString(qint64(row.loop.rounds)), m_locale.toString(qint64(row.loop.entries)),
            shape < m_shapes.size() ? m_shapes.at(shape)
                                    : QString::fromLatin1(shapeName(row.loop.shape))};
        for (int column = 0; column < 4; ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            if (column == 1 || column == 2)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_loops->setItem(int(i), column, item);
        }
    }
}

int ProfileView::rowCount() const
{
    return m_loops->rowCount();
}
