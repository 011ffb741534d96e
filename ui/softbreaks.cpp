#include "softbreaks.h"

#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <limits>

namespace {

// The block format property that marks a block as continuing the line before it; undo and
// redo keep it with the block.
constexpr int ContinuesLine = QTextFormat::UserProperty + 0x5B;

bool continuesLine(const QTextBlock &block)
{
    return block.blockFormat().boolProperty(ContinuesLine);
}

} // namespace

SoftBreaks::SoftBreaks(QTextDocument *document)
    : QObject(document)
    , m_document(document)
{
    connect(document, &QTextDocument::contentsChange, this, &SoftBreaks::noteChange);
}

const SoftBreaks *SoftBreaks::of(const QTextDocument &document)
{
    return document.findChild<const SoftBreaks *>(QString(), Qt::FindDirectChildrenOnly);
}

QString SoftBreaks::sourceText(const QTextDocument &document, bool raw)
{
    if (const SoftBreaks *breaks = of(document))
        return breaks->sourceText(raw);
    return raw ? document.toRawText() : document.toPlainText();
}

bool SoftBreaks::any() const
{
    if (m_limit <= 0)
        return false; // nothing made any
    if (!m_known) {
        m_any = false;
        for (QTextBlock block = m_document->begin(); block.isValid() && !m_any;
             block = block.next())
            m_any = continuesLine(block);
        m_known = true;
    }
    return m_any;
}

bool SoftBreaks::continues(const QTextBlock &block) const
{
    return any() && continuesLine(block);
}

QString SoftBreaks::sourceText(bool raw) const
{
    if (!any())
        return raw ? m_document->toRawText() : m_document->toPlainText();
    return sourceBetween(0, m_document->characterCount() - 1, raw);
}

QString SoftBreaks::sourceBetween(int from, int to, bool raw) const
{
    QString text;
    text.reserve(std::max(0, to - from));
    for (QTextBlock block = m_document->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const int start = block.position();
        if (start > from && !continuesLine(block))
            text += raw ? QChar::ParagraphSeparator : QChar(u'\n');
        const int begin = std::max(from, start) - start;
        const int end = std::min(to, start + block.length() - 1) - start;
        if (end > begin)
            text += QStringView(block.text()).mid(begin, end - begin);
    }
    if (!raw) { // as toPlainText
        text.replace(QChar::Nbsp, QLatin1Char(' '));
        text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    }
    return text;
}

int SoftBreaks::toSource(int position) const
{
    if (!any())
        return position;
    int breaks = 0;
    for (QTextBlock block = m_document->begin(); block.isValid() && block.position() <= position;
         block = block.next())
        breaks += continuesLine(block) ? 1 : 0;
    return position - breaks;
}

int SoftBreaks::toDocument(int offset) const
{
    if (!any())
        return offset;
    int breaks = 0;
    QTextBlock block = m_document->begin();
    while (block.isValid()) {
        const int start = block.position() - breaks;
        const int length = block.length() - 1;
        const QTextBlock next = block.next();
        const bool softEnd = next.isValid() && continuesLine(next);
        if (offset < start + length || (offset == start + length && !softEnd))
            return block.position() + std::max(0, offset - start);
        breaks += softEnd ? 1 : 0;
        if (!next.isValid())
            return block.position() + length;
        block = next;
    }
    return offset;
}

int SoftBreaks::lineOf(const QTextBlock &block) const
{
    if (!any())
        return block.blockNumber();
    int line = -1;
    for (QTextBlock at = m_document->begin(); at.isValid(); at = at.next()) {
        line += continuesLine(at) ? 0 : 1;
        if (at == block)
            break;
    }
    return std::max(line, 0);
}

QTextBlock SoftBreaks::lineStart(int line) const
{
    if (!any())
        return m_document->findBlockByNumber(std::clamp(line, 0, m_document->blockCount() - 1));
    QTextBlock found = m_document->begin();
    int at = -1;
    for (QTextBlock block = m_document->begin(); block.isValid(); block = block.next()) {
        if (continuesLine(block))
            continue;
        found = block;
        if (++at == line)
            break;
    }
    return found;
}

int SoftBreaks::lineCount() const
{
    return lineOf(m_document->lastBlock()) + 1;
}

void SoftBreaks::insert(QTextCursor &cursor, const QString &given) const
{
    // Every break the toolkit would make a block of, as one line break: inserted as they are
    // they would start blocks continuing the line.
    QString text = given;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (const char16_t breaking :
        {u'\r', char16_t(QChar::ParagraphSeparator), u'\xFDD0', u'\xFDD1'})
        text.replace(QChar(breaking), QLatin1Char('\n'));
    cursor.beginEditBlock();
    removeSelection(cursor);
    QTextBlockFormat continuing = cursor.blockFormat();
    continuing.setProperty(ContinuesLine, true);
    QTextBlockFormat lineStart = cursor.blockFormat();
    lineStart.clearProperty(ContinuesLine);
    // A line's characters go into the block at the cursor up to the limit, the rest into new
    // continuing blocks (what followed the cursor moves along; rechunk splits it if need be).
    qsizetype from = 0;
    while (from <= text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), from);
        if (end < 0)
            end = text.size();
        for (qsizetype at = from; at < end;) {
            qsizetype piece = end - at;
            if (m_limit > 0) {
                if (cursor.positionInBlock() >= m_limit)
                    cursor.insertBlock(continuing);
                piece = std::min<qsizetype>(piece, m_limit - cursor.positionInBlock());
            }
            cursor.insertText(text.mid(at, piece));
            at += piece;
        }
        if (end < text.size())
            cursor.insertBlock(lineStart);
        from = end + 1;
    }
    cursor.endEditBlock();
}

namespace {

void markContinuing(const QTextBlock &block, bool continuing)
{
    if (!block.isValid() || continuesLine(block) == continuing)
        return;
    QTextBlockFormat format = block.blockFormat();
    if (continuing)
        format.setProperty(ContinuesLine, true);
    else
        format.clearProperty(ContinuesLine);
    QTextCursor(block).setBlockFormat(format);
}

} // namespace

void SoftBreaks::removeSelection(QTextCursor &cursor) const
{
    if (!cursor.hasSelection())
        return;
    const int start = cursor.selectionStart();
    const bool continuing = continuesLine(m_document->findBlock(start)) && start > 0;
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    markContinuing(m_document->findBlock(start), continuing);
    cursor.endEditBlock();
}

void SoftBreaks::beginToolkitEdit(int position)
{
    const QTextBlock block = m_document->findBlock(position);
    const QTextBlock previous = block.previous();
    m_before = {std::pair(previous.isValid() ? previous.position() : -1, continuesLine(previous)),
        std::pair(block.position(), continuesLine(block))};
    m_editFrom = std::numeric_limits<int>::max();
}

void SoftBreaks::endToolkitEdit()
{
    const int from = m_editFrom;
    m_editFrom = -1;
    if (from == std::numeric_limits<int>::max())
        return; // nothing changed
    const auto before = from >= m_before[1].first ? m_before[1] : m_before[0];
    if (before.first < 0 || from < before.first)
        return;
    const QTextBlock block = m_document->findBlock(from);
    const bool continuing = before.second && block.position() > 0;
    if (continuesLine(block) == continuing)
        return;
    QTextCursor cursor(m_document);
    cursor.joinPreviousEditBlock();
    markContinuing(block, continuing);
    cursor.endEditBlock();
}

void SoftBreaks::noteChange(int from, int removed, int added)
{
    if (m_limit <= 0)
        return;
    if (m_editFrom >= 0)
        m_editFrom = std::min(m_editFrom, from);
    // Typing a character neither adds nor removes a soft break; undo, redo and larger edits may.
    if (removed > 0 || added > 1 || m_document->availableRedoSteps() > 0)
        m_known = false;
    if (m_rechunkQueued)
        return;
    const QTextBlock last = m_document->findBlock(from + added);
    for (QTextBlock block = m_document->findBlock(from); block.isValid(); block = block.next()) {
        if (block.length() - 1 > 2 * m_limit) {
            // Not from within the change: the document is still being edited.
            m_rechunkQueued = true;
            QTimer::singleShot(0, this, &SoftBreaks::rechunk);
            return;
        }
        if (block == last)
            break;
    }
}

void SoftBreaks::rechunk()
{
    m_rechunkQueued = false;
    // An undo or redo brings back a state that was chunked; an edit now would drop the redo.
    if (m_limit <= 0 || m_document->availableRedoSteps() > 0)
        return;
    QTextCursor cursor(m_document);
    bool joined = false;
    for (QTextBlock block = m_document->begin(); block.isValid(); block = block.next()) {
        if (block.length() - 1 <= 2 * m_limit)
            continue;
        if (!joined) {
            cursor.joinPreviousEditBlock();
            joined = true;
        }
        QTextBlockFormat continuing = block.blockFormat();
        continuing.setProperty(ContinuesLine, true);
        while (block.length() - 1 > m_limit) {
            cursor.setPosition(block.position() + m_limit);
            cursor.insertBlock(continuing);
            block = cursor.block();
        }
    }
    if (joined)
        cursor.endEditBlock();
}
