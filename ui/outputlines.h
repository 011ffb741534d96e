#pragma once

#include <QString>
#include <QStringList>

class QPlainTextEdit;

// The output pane seen as lines. The text holds lines separated by line breaks; a break at the
// very end of the text begins no further line, so "a\nb\n" and "a\nb" both hold two lines.
// Line breaks given as CR LF, CR or LF all become one break.
class OutputLines
{
public:
    explicit OutputLines(QPlainTextEdit *pane);

    // Puts text and a line break at the end of the pane.
    void append(const QString &text);
    // Replaces the characters of the last line (not its break); an empty pane stays unchanged.
    void replaceLastLine(const QString &text);
    // Empties the pane.
    void clear();
    // Whether the text is empty or ends with a line break.
    bool endsWithLineBreak() const;
    // The pane's text with CR LF line breaks.
    QString text() const;
    // Character count of the text.
    qsizetype size() const;
    // Puts the caret at the end of the last line and scrolls it into view.
    void showCaret();

private:
    QPlainTextEdit *m_pane;
};

// Output gathered between two updates of the pane. Applying it gives exactly the text that
// replacing the last line and appending empty lines one by one would give.
class OutputBatch
{
public:
    // The last line becomes text (never empty: a replaced line always holds a character).
    void replaceLastLine(const QString &text);
    void appendEmptyLine();
    bool isEmpty() const { return !m_hasReplacement && m_lines.isEmpty(); }
    // Characters the batch adds at most.
    qsizetype size() const { return m_size; }
    // Line breaks the batch adds.
    qsizetype lineCount() const { return m_lines.size(); }
    void applyTo(OutputLines &pane) const;
    void clear();

private:
    bool m_hasReplacement = false; // replacement of the line that was last before the batch
    QString m_replacement;
    QStringList m_lines; // appended lines with their final text
    qsizetype m_size = 0;
};
