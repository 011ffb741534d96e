#include "codeview.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <map>
#include <tuple>

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

// Lines longer than this are drawn and coloured by the pane itself, only where they show.
constexpr qsizetype LongLine = 4'000;

// Where a block's comment starts (its first ";"), or its length.
int commentStart(const QString &text)
{
    const qsizetype at = text.indexOf(QLatin1Char(';'));
    return at < 0 ? int(text.size()) : int(at);
}

// Whether the pane draws and colours a block itself, only where it shows: a long line, or a
// chunk of one (whose colours as formats would cost memory for every character).
bool drawnByPane(const SoftBreaks &breaks, const QTextBlock &block)
{
    return block.length() - 1 > LongLine || breaks.continues(block) ||
        breaks.continues(block.next());
}

// A block's user state while its line is chunked: whether the line's comment has begun by the
// block's end.
constexpr int Commented = 1;

// Where a block's comment starts: as commentStart, or at once in a block continuing a line
// whose comment began before it.
int commentStart(const SoftBreaks &breaks, const QTextBlock &block, const QString &text)
{
    if (breaks.continues(block) && block.previous().userState() == Commented)
        return 0;
    return commentStart(text);
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
    : QObject(document)
    , m_document(document)
    , m_breaks(*SoftBreaks::of(*document))
    , m_looks {formatOf(Kind::Other), formatOf(Kind::Arithmetic), formatOf(Kind::Move),
          formatOf(Kind::Transfer), formatOf(Kind::Bracket), formatOf(Kind::Other)}
{
    m_looks.back().setFontItalic(true); // comments
    connect(document, &QTextDocument::contentsChange, this, &CodeHighlighter::highlight);
    highlight(0, 0, document->characterCount());
}

// A line's colours: runs of one kind take one format each. A long line is coloured where it
// is drawn, only as far as it shows: formats over all of it would multiply the cost of its
// layout at every keystroke.
QList<QTextLayout::FormatRange> CodeHighlighter::coloursOf(const QTextBlock &block) const
{
    QList<QTextLayout::FormatRange> ranges;
    if (drawnByPane(m_breaks, block))
        return ranges;
    const QString text = block.text();
    const int comment = commentStart(m_breaks, block, text);
    int start = 0;
    while (start < comment) {
        const Kind kind = kindOf(text.at(start));
        int end = start + 1;
        while (end < comment && kindOf(text.at(end)) == kind)
            ++end;
        ranges.append({start, end - start, m_looks[std::size_t(kind)]});
        start = end;
    }
    if (comment < text.size())
        ranges.append({comment, int(text.size()) - comment, m_looks.back()});
    return ranges;
}

void CodeHighlighter::highlight(int from, int removed, int added)
{
    // The lines the change touched; a removal may have joined the next one to them.
    const QTextBlock last = m_document->findBlock(from + added + (removed > 0 ? 1 : 0));
    bool pastLast = false;
    for (QTextBlock block = m_document->findBlock(from); block.isValid(); block = block.next()) {
        QTextLayout *layout = block.layout();
        QList<QTextLayout::FormatRange> ranges = coloursOf(block);
        // Text being composed by an input method keeps the looks the method gave it.
        const int composed = layout->preeditAreaPosition();
        const int composedEnd = composed + int(layout->preeditAreaText().size());
        for (const QTextLayout::FormatRange &range : layout->formats()) {
            if (composedEnd > composed && range.start >= composed &&
                range.start + range.length <= composedEnd)
                ranges.append(range);
        }
        if (ranges != layout->formats()) {
            layout->setFormats(ranges);
            m_document->markContentsDirty(block.position(), block.length());
        }
        // The blocks continuing a chunked line follow a change of its comment's start.
        bool commentMoved = false;
        if (m_breaks.any()) {
            const QString text = block.text();
            const int state = commentStart(m_breaks, block, text) < text.size() ||
                    (m_breaks.continues(block) && block.previous().userState() == Commented)
                ? Commented
                : 0;
            commentMoved = block.userState() != state;
            block.setUserState(state);
        }
        pastLast = pastLast || block == last;
        if (pastLast && !(commentMoved && m_breaks.continues(block.next())))
            break;
    }
}

CodePane::CodePane(QWidget *parent)
    : LimitedTextEdit(parent)
    , m_breaks(new SoftBreaks(document()))
{
    // Code reads left to right; without saying so every layout scans its whole line for the
    // direction of the first letter.
    QTextOption option = document()->defaultTextOption();
    option.setTextDirection(Qt::LeftToRight);
    document()->setDefaultTextOption(option);
    new CodeHighlighter(document());
    // A layout frees its glyphs once laid out; the caret then shapes a long line a second
    // time at every keystroke to find its x. Kept, they are shaped once per edit.
    connect(document(), &QTextDocument::contentsChange, this, [this](int from, int, int added) {
        const QTextBlock last = document()->findBlock(from + added);
        for (QTextBlock block = document()->findBlock(from); block.isValid();
             block = block.next()) {
            if (block.length() > LongLine)
                block.layout()->setCacheEnabled(true);
            if (block == last)
                break;
        }
    });
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
    if (shown == m_numbers)
        return;
    m_numbers = shown;
    keepGutter();
}

void CodePane::setLineFigures(const QHash<int, QString> &figures)
{
    if (figures.isEmpty() && m_figures.isEmpty())
        return;
    m_figures = figures;
    m_figuresWidth = 0;
    for (const QString &figure : figures)
        m_figuresWidth = std::max(m_figuresWidth, fontMetrics().horizontalAdvance(figure));
    keepGutter();
    if (m_gutter)
        m_gutter->update();
}

void CodePane::keepGutter()
{
    const bool wanted = m_numbers || !m_figures.isEmpty();
    if (wanted && !m_gutter) {
        m_gutter = new LineNumberGutter(this);
        m_gutter->show();
    } else if (!wanted && m_gutter) {
        delete m_gutter;
        m_gutter = nullptr;
    }
    updateGutterWidth();
}

int CodePane::numbersWidth() const
{
    if (!m_numbers)
        return 0;
    const int digits = int(QString::number(std::max(1, blockCount())).size());
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(digits, 3);
}

int CodePane::gutterWidth() const
{
    if (!m_gutter)
        return 0;
    return numbersWidth() + (m_figures.isEmpty() ? 0 : m_figuresWidth + 8);
}

void CodePane::setTopMargin(int margin)
{
    m_topMargin = margin;
    updateGutterWidth();
}

void CodePane::updateGutterWidth()
{
    setViewportMargins(gutterWidth(), m_topMargin, 0, 0);
    if (m_gutter) {
        const QRect area = contentsRect();
        m_gutter->setGeometry(
            area.left(), area.top() + m_topMargin, gutterWidth(), area.height() - m_topMargin);
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
    // Lines are numbered as in the source: blocks continuing a chunked line have no number.
    int line = m_breaks->lineOf(block) - (m_breaks->continues(block) ? 0 : 1);
    while (block.isValid() && top <= event->rect().bottom()) {
        const int height = int(blockBoundingRect(block).height());
        const bool continues = m_breaks->continues(block);
        line += continues ? 0 : 1;
        if (block.isVisible() && top + height >= event->rect().top() && !continues) {
            if (m_numbers) {
                painter.drawText(0, top, numbersWidth() - 4, fontMetrics().height(), Qt::AlignRight,
                    QString::number(line + 1));
            }
            const auto figure = m_figures.constFind(line);
            if (figure != m_figures.cend()) {
                painter.setPen(QColor(0xB0, 0x40, 0x00)); // as the heat it sums up
                painter.drawText(numbersWidth(), top, m_gutter->width() - numbersWidth() - 4,
                    fontMetrics().height(), Qt::AlignRight, *figure);
                painter.setPen(QColor(0x90, 0x90, 0x90));
            }
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
    return inBlock >= 0 && inBlock < commentStart(*m_breaks, block, text) &&
        kindOf(text.at(inBlock)) != Kind::Other;
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
        const int end = commentStart(*m_breaks, block, text);
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
    caret.setPosition(
        std::clamp(m_breaks->toDocument(std::max(offset, 0)), 0, document()->characterCount() - 1));
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

bool CodePane::showsLongLine() const
{
    const int bottom = viewport()->height();
    QTextBlock block = firstVisibleBlock();
    for (qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
         block.isValid() && top <= bottom; block = block.next()) {
        if (block.length() > LongLine || (m_breaks->any() && drawnByPane(*m_breaks, block)))
            return true;
        top += blockBoundingRect(block).height();
    }
    return false;
}

void CodePane::paintEvent(QPaintEvent *event)
{
    // The toolkit draws the whole of every line it paints, however little of it shows.
    if (showsLongLine())
        paintWithLongLines(event);
    else
        LimitedTextEdit::paintEvent(event);
}

// The toolkit's painting of the blocks, but for long lines, which drawLongLine draws.
void CodePane::paintWithLongLines(QPaintEvent *event)
{
    QPainter painter(viewport());
    QPointF offset = contentOffset();
    QRect clip = event->rect();
    const qreal widest = document()->documentLayout()->documentSize().width();
    clip.setRight(std::min(clip.right(),
        int(offset.x() + std::max(qreal(viewport()->width()), widest) -
            document()->documentMargin() + cursorWidth())));
    painter.setClipRect(clip);
    painter.setBrushOrigin(offset);
    const QAbstractTextDocumentLayout::PaintContext context = getPaintContext();
    painter.setPen(context.palette.text().color());
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF area = blockBoundingRect(block).translated(offset);
        QTextLayout *layout = block.layout();
        if (block.isVisible() && area.bottom() >= clip.top() && area.top() <= clip.bottom()) {
            const int start = block.position();
            const int length = block.length();
            QList<QTextLayout::FormatRange> selections;
            for (const QAbstractTextDocumentLayout::Selection &range : context.selections) {
                const int from = range.cursor.selectionStart() - start;
                const int to = range.cursor.selectionEnd() - start;
                if (from < length && to > 0 && to > from) {
                    selections.append({from, to - from, range.format});
                } else if (!range.cursor.hasSelection() &&
                    range.format.hasProperty(QTextFormat::FullWidthSelection) &&
                    block.contains(range.cursor.position())) {
                    selections.append({0, length, range.format});
                }
            }
            if ((length > LongLine || drawnByPane(*m_breaks, block)) && layout->lineCount() == 1)
                drawLongLine(painter, block, offset, selections, clip);
            else
                layout->draw(&painter, offset, selections, clip);
            const int caret = context.cursorPosition - start;
            if (caret >= 0 && caret < length)
                layout->drawCursor(&painter, offset, caret, cursorWidth());
        }
        offset.ry() += area.height();
        if (offset.y() > viewport()->height())
            break;
    }
}

void CodePane::drawLongLine(QPainter &painter, const QTextBlock &block, QPointF offset,
    const QList<QTextLayout::FormatRange> &selections, const QRect &clip) const
{
    const QTextLine line = block.layout()->lineAt(0);
    const QRectF row(clip.left(), offset.y() + line.y(), clip.width(), line.height());
    // Where the characters in view start: the line's own measure of one near the left edge
    // (a walk along the line, too slow to repeat), and from there the widths of characters.
    // Asking the line which character stands at an x would cost memory for the whole line.
    const QString text = block.text();
    const int length = line.textLength();
    const QFontMetricsF metrics(font());
    std::array<qreal, 256> advances; // of the characters met, as the font gives them
    advances.fill(-1);
    const auto widthAt = [&](int at) {
        const QChar c = text.at(at);
        if (c == u'\t')
            return line.cursorToX(at + 1) - line.cursorToX(at);
        if (c.unicode() >= advances.size())
            return metrics.horizontalAdvance(c);
        qreal &advance = advances[c.unicode()];
        if (advance < 0)
            advance = metrics.horizontalAdvance(c);
        return advance;
    };
    const qreal cell = std::max(qreal(1), metrics.horizontalAdvance(QLatin1Char('+')));
    int from = std::clamp(int((clip.left() - offset.x()) / cell), 0, length);
    // A chunk without tabs is measured from its start: cheaper than the line shaping itself.
    const bool measured = length <= LongLine && !text.contains(u'\t');
    qreal x = offset.x();
    if (measured) {
        for (int at = 0; at < from; ++at)
            x += widthAt(at);
    } else {
        x += line.cursorToX(from);
    }
    for (int steps = 0; from > 0 && x > clip.left() && steps < 100'000; ++steps)
        x -= widthAt(--from);
    while (from < length && x + widthAt(from) < clip.left())
        x += widthAt(from++);
    std::vector<qreal> starts {x};
    int to = from;
    while (to < length && starts.back() <= clip.right() + 1)
        starts.push_back(starts.back() + widthAt(to++));
    const auto xOf = [&](int at) { return starts[std::size_t(at - from)]; };
    const auto inView = [&](const QTextLayout::FormatRange &range) {
        return std::pair(std::max(range.start, from), std::min(range.start + range.length, to));
    };
    for (const QTextLayout::FormatRange &range : selections) {
        const QBrush background = range.format.background();
        const auto [start, end] = inView(range);
        if (background.style() == Qt::NoBrush)
            continue;
        if (range.format.hasProperty(QTextFormat::FullWidthSelection))
            painter.fillRect(row, background);
        else if (start < end)
            painter.fillRect(
                QRectF(xOf(start), row.top(), xOf(end) - xOf(start), row.height()), background);
    }
    // The characters in view, in runs of one colour and font: the highlighter's colours, or
    // the last selection's or mark's that sets one.
    const int comment = commentStart(*m_breaks, block, text);
    // A character's look, cheap to compare: its kind (or the comment's), and the last
    // selection that colours it.
    const auto lookOf = [&](int at) {
        const int kind = at < comment ? int(kindOf(text.at(at))) : -1;
        int coloured = -1;
        for (int k = 0; k < int(selections.size()); ++k) {
            const QTextLayout::FormatRange &range = selections[k];
            if (at >= range.start && at < range.start + range.length &&
                range.format.hasProperty(QTextFormat::ForegroundBrush))
                coloured = k;
        }
        return std::pair(kind, coloured);
    };
    QList<QTextLayout::FormatRange> runs;
    for (int start = from; start < to;) {
        const auto [kind, coloured] = lookOf(start);
        QTextCharFormat look = formatOf(kind < 0 ? Kind::Other : Kind(kind));
        look.setFontItalic(kind < 0);
        if (coloured >= 0)
            look.setForeground(selections[coloured].format.foreground());
        int end = start + 1;
        while (end < to && text.at(end) != u'\t' && text.at(start) != u'\t' &&
            lookOf(end) == std::pair(kind, coloured))
            ++end;
        if (text.at(start) != u'\t')
            runs.append({start, end - start, look});
        start = end;
    }
    const qreal baseline = row.top() + line.ascent();
    const QStringView shown = QStringView(text).mid(from, to - from);
    if (!shown.contains(u'\t') &&
        std::none_of(shown.begin(), shown.end(), [](QChar c) { return c.isSurrogate(); })) {
        // The glyphs of each look at once, where the characters stand: a text drawn run by run
        // is laid out again for every run.
        std::map<std::tuple<bool, bool, QRgb>, std::pair<QList<quint32>, QList<QPointF>>> looks;
        std::map<std::pair<bool, bool>, QRawFont> fonts;
        for (const QTextLayout::FormatRange &run : runs) {
            const bool bold = run.format.fontWeight() == QFont::Bold;
            const bool italic = run.format.fontItalic();
            QRawFont &raw = fonts[{bold, italic}];
            if (!raw.isValid()) {
                QFont variant = font();
                variant.setBold(bold);
                variant.setItalic(italic);
                raw = QRawFont::fromFont(variant);
            }
            auto &[glyphs, places] = looks[{bold, italic, run.format.foreground().color().rgba()}];
            glyphs += raw.glyphIndexesForString(text.mid(run.start, run.length));
            for (int at = run.start; at < run.start + run.length; ++at)
                places.append(QPointF(xOf(at), baseline));
        }
        const bool matched = std::all_of(looks.begin(), looks.end(),
            [](const auto &look) { return look.second.first.size() == look.second.second.size(); });
        for (const auto &[look, glyphs] : matched ? looks : decltype(looks) {}) {
            const auto [bold, italic, colour] = look;
            QGlyphRun glyphRun;
            glyphRun.setRawFont(fonts[{bold, italic}]);
            glyphRun.setGlyphIndexes(glyphs.first);
            glyphRun.setPositions(glyphs.second);
            painter.setPen(QColor::fromRgba(colour));
            painter.drawGlyphRun(QPointF(), glyphRun);
        }
        if (matched)
            return;
    }
    QFont runFont = font();
    painter.setFont(runFont);
    for (const QTextLayout::FormatRange &run : runs) {
        const bool bold = run.format.fontWeight() == QFont::Bold;
        if (bold != runFont.bold() || run.format.fontItalic() != runFont.italic()) {
            runFont.setBold(bold);
            runFont.setItalic(run.format.fontItalic());
            painter.setFont(runFont);
        }
        painter.setPen(run.format.foreground().color());
        painter.drawText(QPointF(xOf(run.start), baseline), text.mid(run.start, run.length));
    }
}

void CodePane::keyPressEvent(QKeyEvent *event)
{
    if (!m_breaks->any() || isReadOnly()) {
        LimitedTextEdit::keyPressEvent(event);
        return;
    }
    if (editAcrossSoftBreak(event))
        return;
    // The toolkit's edit as one undo step, so that the mending of soft breaks after it, and the
    // splitting of a chunk that grew too long, join it. Not for a character typed into a short
    // chunk, which needs neither: typed characters are undone in runs.
    const QTextCursor caret = textCursor();
    const QString text = event->text();
    const bool typing = !caret.hasSelection() && !text.isEmpty() && text.front().isPrint();
    const bool grouped = !typing || caret.block().length() + text.size() > 2 * m_breaks->limit();
    QTextCursor group(document());
    if (grouped)
        group.beginEditBlock();
    m_breaks->beginToolkitEdit(caret.selectionStart());
    {
        const auto close = qScopeGuard([&] {
            if (grouped)
                group.endEditBlock(); // the document reports the change here
        });
        LimitedTextEdit::keyPressEvent(event);
    }
    m_breaks->endToolkitEdit();
}

void CodePane::inputMethodEvent(QInputMethodEvent *event)
{
    if (!m_breaks->any() || isReadOnly()) {
        LimitedTextEdit::inputMethodEvent(event);
        return;
    }
    QTextCursor group(document());
    group.beginEditBlock();
    m_breaks->beginToolkitEdit(textCursor().selectionStart());
    {
        const auto close = qScopeGuard([&] { group.endEditBlock(); });
        LimitedTextEdit::inputMethodEvent(event);
    }
    m_breaks->endToolkitEdit();
}

void CodePane::dropEvent(QDropEvent *event)
{
    // Moving text within a chunked text would remove it where the toolkit keeps the formats
    // of the wrong blocks; it is copied instead.
    if (m_breaks->any() && (event->source() == this || event->source() == viewport()) &&
        event->dropAction() == Qt::MoveAction)
        event->setDropAction(Qt::CopyAction);
    LimitedTextEdit::dropEvent(event);
}

// The keys that would act on a soft break as on a character: Enter inside a chunk (its new
// block would continue the line), Backspace and Delete next to a soft break, and Left and Right
// across one (which would stop twice at one place of the source). Returns whether it took the
// key.
bool CodePane::editAcrossSoftBreak(QKeyEvent *event)
{
    QTextCursor caret = textCursor();
    if (caret.hasSelection() &&
        m_breaks->toSource(caret.anchor()) == m_breaks->toSource(caret.position())) {
        // Only soft breaks selected: nothing of the source.
        caret.clearSelection();
        setTextCursor(caret);
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
        if (wouldExceedLimit(1, caret.selectedText().size())) {
            emit limitRefused();
            return true;
        }
        m_breaks->insert(caret, QStringLiteral("\n"));
        setTextCursor(caret);
        ensureCursorVisible();
        return true;
    }
    const bool plain = (modifiers & ~Qt::ShiftModifier) == Qt::NoModifier;
    const QTextBlock block = caret.block();
    const bool backspace =
        key == Qt::Key_Backspace && plain && caret.atBlockStart() && m_breaks->continues(block);
    const bool forwardDelete = key == Qt::Key_Delete && modifiers == Qt::NoModifier &&
        caret.atBlockEnd() && m_breaks->continues(block.next());
    if ((backspace || forwardDelete) && !caret.hasSelection()) {
        // The source character beyond the soft break goes.
        const int offset = m_breaks->toSource(caret.position()) - (backspace ? 1 : 0);
        if (offset < 0 || offset >= m_breaks->toSource(document()->characterCount() - 1))
            return true;
        const int at = m_breaks->toDocument(offset);
        caret.setPosition(at);
        caret.setPosition(at + 1, QTextCursor::KeepAnchor);
        m_breaks->removeSelection(caret);
        setTextCursor(caret);
        ensureCursorVisible();
        return true;
    }
    if ((key == Qt::Key_Left || key == Qt::Key_Right) && plain) {
        const int before = caret.position();
        const bool collapses = caret.hasSelection() && !(modifiers & Qt::ShiftModifier);
        LimitedTextEdit::keyPressEvent(event);
        QTextCursor moved = textCursor();
        if (moved.position() == before || collapses)
            return true; // a selection given up stops at its edge
        const auto mode =
            modifiers & Qt::ShiftModifier ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor;
        if (key == Qt::Key_Right) {
            while (moved.atBlockStart() && m_breaks->continues(moved.block()) &&
                moved.movePosition(QTextCursor::NextCharacter, mode)) { }
        } else {
            while (moved.atBlockEnd() && m_breaks->continues(moved.block().next()) &&
                moved.movePosition(QTextCursor::PreviousCharacter, mode)) { }
        }
        setTextCursor(moved);
        return true;
    }
    return false;
}

void CodePane::insertFromMimeData(const QMimeData *source)
{
    if (isReadOnly() || !source || !source->hasText() || !m_breaks->chunks(source->text())) {
        LimitedTextEdit::insertFromMimeData(source);
        return;
    }
    // Long lines go in chunked, and line breaks inside a chunk start real lines.
    QTextCursor caret = textCursor();
    const QString text = source->text();
    if (wouldExceedLimit(text.size(), caret.selectedText().size())) {
        emit limitRefused();
        return;
    }
    m_breaks->insert(caret, text);
    setTextCursor(caret);
    ensureCursorVisible();
}

QMimeData *CodePane::createMimeDataFromSelection() const
{
    if (!m_breaks->any())
        return LimitedTextEdit::createMimeDataFromSelection();
    // The source: soft breaks are no line breaks.
    const QTextCursor caret = textCursor();
    auto *mime = new QMimeData;
    mime->setText(m_breaks->sourceBetween(caret.selectionStart(), caret.selectionEnd()));
    return mime;
}
