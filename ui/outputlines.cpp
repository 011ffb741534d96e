#include "outputlines.h"

#include "linebreaks.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

OutputLines::OutputLines(QPlainTextEdit *pane)
    : m_pane(pane)
{ }

void OutputLines::append(const QString &text)
{
    QTextCursor cursor(m_pane->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(textWithLineFeeds(text) + QLatin1Char('\n'));
}

void OutputLines::replaceLastLine(const QString &text)
{
    QTextDocument *document = m_pane->document();
    if (document->isEmpty())
        return;
    QTextBlock block = document->lastBlock();
    if (block.length() == 1 && block.previous().isValid())
        block = block.previous(); // the break at the end begins no line
    QTextCursor cursor(document);
    cursor.setPosition(block.position());
    cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
    cursor.insertText(text);
}

void OutputLines::clear()
{
    m_pane->document()->clear();
}

bool OutputLines::endsWithLineBreak() const
{
    return m_pane->document()->lastBlock().length() == 1;
}

QString OutputLines::text() const
{
    return textWithCrLf(*m_pane->document());
}

qsizetype OutputLines::size() const
{
    return m_pane->document()->characterCount() - 1;
}

void OutputLines::showCaret()
{
    QTextDocument *document = m_pane->document();
    QTextBlock block = document->lastBlock();
    if (block.length() == 1 && block.previous().isValid())
        block = block.previous();
    QTextCursor cursor(document);
    cursor.setPosition(block.position() + block.length() - 1);
    m_pane->setTextCursor(cursor);
    m_pane->ensureCursorVisible();
}

void OutputBatch::replaceLastLine(const QString &text)
{
    if (m_lines.isEmpty()) {
        m_hasReplacement = true;
        m_replacement = text;
    } else {
        m_size += text.size() - m_lines.last().size();
        m_lines.last() = text;
    }
}

void OutputBatch::appendEmptyLine()
{
    m_lines.append(QString());
    ++m_size;
}

void OutputBatch::applyTo(OutputLines &pane) const
{
    if (m_hasReplacement)
        pane.replaceLastLine(m_replacement);
    if (m_lines.isEmpty())
        return;
    qsizetype first = 0;
    if (!pane.endsWithLineBreak()) {
        // The first break ends the line typed at the end, which stays the last line.
        pane.append(QString());
        if (!m_lines.first().isEmpty())
            pane.replaceLastLine(m_lines.first());
        first = 1;
    }
    if (first < m_lines.size())
        pane.append(m_lines.mid(first).join(QLatin1Char('\n')));
}

void OutputBatch::clear()
{
    m_hasReplacement = false;
    m_replacement.clear();
    m_lines.clear();
    m_size = 0;
}
