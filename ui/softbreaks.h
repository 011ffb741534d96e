#pragma once

#include <QObject>
#include <QString>
#include <QTextBlock>

#include <array>
#include <utility>
#include <vector>

class QTextCursor;
class QTextDocument;

// Long lines held in the code pane's document as chains of short blocks: a line longer than the
// limit is split into blocks of at most the limit, each after the first marked as continuing the
// line before it (a soft break). The toolkit then lays out, paints, hit-tests and edits only
// short blocks, never a whole long line. This is the one owner of the mapping between document
// positions and the source text (the text without soft breaks: what is compiled, saved and
// searched). With no soft break in the document the mapping is the identity.
class SoftBreaks : public QObject
{
    Q_OBJECT
public:
    // Attached to document, which owns it.
    explicit SoftBreaks(QTextDocument *document);
    // The soft breaks of document; nullptr when it has none attached.
    static const SoftBreaks *of(const QTextDocument &document);
    // The source text of document: its plain text without soft breaks; raw, its raw text.
    static QString sourceText(const QTextDocument &document, bool raw = false);
    // As toSource and toDocument, for a document with or without soft breaks.
    static int toSource(const QTextDocument &document, int position);
    static int toDocument(const QTextDocument &document, int offset);

    // Lines longer than limit are chunked from now on; 0 (the default) chunks nothing.
    void setLimit(int limit) { m_limit = limit; }
    int limit() const { return m_limit; }
    // Whether the document holds a soft break.
    bool any() const;
    bool continues(const QTextBlock &block) const;

    // As QTextDocument's toPlainText, or toRawText when raw, without the soft breaks.
    QString sourceText(bool raw = false) const;
    // The source between two document positions, as sourceText.
    QString sourceBetween(int from, int to, bool raw = false) const;
    // The source offset of a document position.
    int toSource(int position) const;
    // The document position of the source character at offset (after any soft break before it);
    // the text's length maps to the document's end.
    int toDocument(int offset) const;
    // The source line (from 0) a block belongs to, and the first block of a source line (the
    // last line's for a line beyond).
    int lineOf(const QTextBlock &block) const;
    QTextBlock lineStart(int line) const;
    int lineCount() const;

    // Whether inserting text goes through insert: while the document holds soft breaks, or when
    // text holds a line over the limit.
    bool chunks(const QString &text) const;
    // Replaces the cursor's selection by text ("\n" line breaks), its long lines chunked. The
    // line breaks it inserts are real ones even inside a chain.
    void insert(QTextCursor &cursor, const QString &given) const;
    // Removes the cursor's selection. The toolkit gives the block left by a removal from a block's
    // start the format of the removal's last block; the block must keep whether it continues a
    // line.
    void removeSelection(QTextCursor &cursor) const;
    // Around an edit the toolkit makes from the caret at position: afterwards the block where the
    // edit began gets back whether it continued a line, as in removeSelection.
    void beginToolkitEdit(int position);
    void endToolkitEdit();
    // Splits the blocks that grew past twice the limit, as part of the last undo step.
    void rechunk();

private:
    void noteChange(int from, int removed, int added);

    QTextDocument *m_document;
    int m_limit = 0;
    // The document positions of the soft breaks, in order, when m_known; found again after
    // each edit.
    const std::vector<int> &breaks() const;
    mutable std::vector<int> m_breaks;
    mutable bool m_known = true;
    // Whether soft breaks were made since the undo history began; until then there are none
    // to look for.
    mutable bool m_made = false;
    bool m_rechunkQueued = false;
    // Block starts and whether they continue a line, before a toolkit edit; where it began.
    std::array<std::pair<int, bool>, 2> m_before {};
    int m_editFrom = -1;
};
