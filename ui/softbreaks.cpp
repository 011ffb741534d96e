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

int SoftBreaks::toSource(const QTextDocument &document, int position)
{
    const SoftBreaks *breaks = of(document);
    return breaks ? breaks->toSource(position) : position;
}

int SoftBreaks::toDocument(const QTextDocument &document, int offset)
{
    const SoftBreaks *breaks = of(document);
    return breaks ? breaks->toDocument(offset) : offset;
}

const std::vector<int> &SoftBreaks::breaks() const
{
    if (!m_known) {
        m_breaks.clear();
        for (QTextBlock block = m_document->begin(); m_made && block.isValid();
             block = block.next()) {
            if (continuesLine(block))
                m_breaks.push_back(block.position() - 1);
        }
        m_known = true;
        // With no history left to bring one back, none will be until one is made.
        if (m_breaks.empty() && !m_document->isUndoAvailable() && !m_document->isRedoAvailable())
            m_made = false;
    }
    return m_breaks;
}

bool SoftBreaks::any() const
{
    return m_limit > 0 && m_made && !breaks().empty();
}

bool SoftBreaks::chunks(const QString &text) const
{
    if (m_limit <= 0)
        return false;
    if (any())
        return true;
    for (qsizetype from = 0; from < text.size();) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), from);
        if (end < 0)
            end = text.size();
        if (end - from > m_limit)
            return true;
        from = end + 1;
    }
    return false;
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
    const std::vector<int> &at = breaks();
    return position - int(std::lower_bound(at.begin(), at.end(), position) - at.begin());
}

int SoftBreaks::toDocument(int offset) const
{
    if (!any())
        return offset;
    // The source offset of the k-th soft break is its position less k; those at or before
    // offset come before its character.
    const std::vector<int> &at = breaks();
    std::size_t low = 0, high = at.size();
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        if (at[middle] - int(middle) <= offset)
            low = middle + 1;
        else
            high = middle;
    }
    return offset + int(low);
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
                if (cursor.positionInBlock() >= m_limit) {
                    m_made = true;
                    cursor.insertBlock(continuing);
                }
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

void SoftBreaks::noteChange(int from, int, int added)
{
    if (m_limit <= 0)
        return;
    if (m_editFrom >= 0)
        m_editFrom = std::min(m_editFrom, from);
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
        m_made = true;
        while (block.length() - 1 > m_limit) {
            cursor.setPosition(block.position() + m_limit);
            cursor.insertBlock(continuing);
            block = cursor.block();
        }
    }
    if (joined)
        cursor.endEditBlock();
}
