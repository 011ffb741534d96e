#include "codeview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTextBlock>

namespace {

enum class Kind { Other, Arithmetic, Move, Transfer, Bracket };

Kind kindOf(QChar c)
{
    switch (c.unicode()) {
    case '+':
    case '-': return Kind::Arithmetic;
    case '<':
    case '>': return Kind::Move;
    case '.':
    case ',': return Kind::Transfer;
    case '[':
    case ']': return Kind::Bracket;
    default: return Kind::Other;
    }
}

QTextCharFormat formatOf(Kind kind)
{
    QTextCharFormat format;
    switch (kind) {
    case Kind::Arithmetic: format.setForeground(QColor(0x10, 0x40, 0xA0)); break;
    case Kind::Move: format.setForeground(QColor(0x00, 0x70, 0x30)); break;
    case Kind::Transfer: format.setForeground(QColor(0xA0, 0x30, 0x90)); break;
    case Kind::Bracket:
        format.setForeground(QColor(0xB0, 0x50, 0x00));
        format.setFontWeight(QFont::Bold);
        break;
    case Kind::Other: format.setForeground(QColor(0x90, 0x90, 0x90)); break;
    }
    return format;
}

// Where a block's comment starts (its first ";"), or its length.
int commentStart(const QString &text)
{
    const qsizetype at = text.indexOf(QLatin1Char(';'));
    return at < 0 ? int(text.size()) : int(at);
}

} // namespace

// The gutter paints through its pane, which knows where each line stands.
class LineNumberGutter : public QWidget
{
public:
    explicit LineNumberGutter(CodePane *pane)
        : QWidget(pane)
        , m_pane(pane)
    {
        setObjectName(QStringLiteral("re_codeLineNumbers"));
    }
    QSize sizeHint() const override { return {m_pane->gutterWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent *event) override { m_pane->paintGutter(event); }

private:
    CodePane *m_pane;
};

CodeHighlighter::CodeHighlighter(QTextDocument *document)
    : QSyntaxHighlighter(document)
{ }

void CodeHighlighter::highlightBlock(const QString &text)
{
    // A line this long stays plain: colouring it would slow every keystroke in it, and its
    // layout alone already costs a noticeable time.
    constexpr qsizetype LongestColouredLine = 100'000;
    if (text.size() > LongestColouredLine)
        return;
    // Runs of one kind take one format each.
    const int comment = commentStart(text);
    int start = 0;
    while (start < comment) {
        const Kind kind = kindOf(text.at(start));
        int end = start + 1;
        while (end < comment && kindOf(text.at(end)) == kind)
            ++end;
        setFormat(start, end - start, formatOf(kind));
        start = end;
    }
    if (comment < text.size()) {
        QTextCharFormat muted = formatOf(Kind::Other);
        muted.setFontItalic(true);
        setFormat(comment, int(text.size()) - comment, muted);
    }
}

CodePane::CodePane(QWidget *parent)
    : LimitedTextEdit(parent)
{
    new CodeHighlighter(document());
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { updateGutterWidth(); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect &rect, int dy) {
        if (!m_gutter)
            return;
        if (dy != 0)
            m_gutter->scroll(0, dy);
        else
            m_gutter->update(0, rect.y(), m_gutter->width(), rect.height());
    });
}

void CodePane::setLineNumbersShown(bool shown)
{
    if (shown == lineNumbersShown())
        return;
    if (shown) {
        m_gutter = new LineNumberGutter(this);
        m_gutter->show();
    } else {
        delete m_gutter;
        m_gutter = nullptr;
    }
    updateGutterWidth();
}

int CodePane::gutterWidth() const
{
    if (!m_gutter)
        return 0;
    const int digits = int(QString::number(std::max(1, blockCount())).size());
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(digits, 3);
}

void CodePane::updateGutterWidth()
{
    setViewportMargins(gutterWidth(), 0, 0, 0);
    if (m_gutter) {
        const QRect area = contentsRect();
        m_gutter->setGeometry(area.left(), area.top(), gutterWidth(), area.height());
    }
}

void CodePane::resizeEvent(QResizeEvent *event)
{
    LimitedTextEdit::resizeEvent(event);
    updateGutterWidth();
}

void CodePane::paintGutter(QPaintEvent *event)
{
    QPainter painter(m_gutter);
    painter.fillRect(event->rect(), QColor(0xF0, 0xF0, 0xF0));
    painter.setPen(QColor(0x90, 0x90, 0x90));
    painter.setFont(font());
    QTextBlock block = firstVisibleBlock();
    int top = int(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid() && top <= event->rect().bottom()) {
        const int height = int(blockBoundingRect(block).height());
        if (block.isVisible() && top + height >= event->rect().top()) {
            painter.drawText(0, top, m_gutter->width() - 4, fontMetrics().height(), Qt::AlignRight,
                QString::number(block.blockNumber() + 1));
        }
        block = block.next();
        top += height;
    }
}

bool CodePane::isCommandAt(int offset) const
{
    const QTextBlock block = document()->findBlock(offset);
    if (!block.isValid())
        return false;
    const QString text = block.text();
    const int inBlock = offset - block.position();
    return inBlock >= 0 && inBlock < commentStart(text) && kindOf(text.at(inBlock)) != Kind::Other;
}

int CodePane::bracketPartner(int offset) const
{
    // Outward from the bracket, block by block, counting only the brackets before each
    // block's comment.
    QTextBlock block = document()->findBlock(offset);
    if (!block.isValid())
        return -1;
    const QString first = block.text();
    const int inBlock = offset - block.position();
    const bool forward = first.at(inBlock) == QLatin1Char('[');
    const QChar same = forward ? QLatin1Char('[') : QLatin1Char(']');
    int depth = 0;
    int index = forward ? inBlock + 1 : inBlock - 1;
    while (block.isValid()) {
        const QString text = block.text();
        const int end = commentStart(text);
        if (!forward)
            index = std::min(index, end - 1);
        for (; forward ? index < end : index >= 0; index += forward ? 1 : -1) {
            const QChar c = text.at(index);
            if (c == same)
                ++depth;
            else if (kindOf(c) == Kind::Bracket && depth-- == 0)
                return block.position() + index;
        }
        block = forward ? block.next() : block.previous();
        index = forward ? 0 : int(block.text().size()) - 1;
    }
    return -1;
}

void CodePane::goTo(int offset)
{
    QTextCursor caret(document());
    caret.setPosition(std::clamp(offset, 0, document()->characterCount() - 1));
    setTextCursor(caret);
    centerCursor();
}

LineClicks::LineClicks(QPlainTextEdit *pane)
    : QObject(pane)
    , m_pane(pane)
{
    pane->viewport()->installEventFilter(this);
}

bool LineClicks::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton &&
        !m_pane->textCursor().hasSelection()) {
        const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
        emit lineClicked(m_pane->cursorForPosition(at).block().text());
    }
    return QObject::eventFilter(watched, event);
}
