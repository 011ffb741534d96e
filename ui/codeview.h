#pragma once

#include "customwidgets.h"
#include "softbreaks.h"

#include <QHash>
#include <QTextBlock>
#include <QTextLayout>

#include <array>

class QPainter;
class QTextDocument;

// Colours the eight commands of the code pane and mutes everything else: the comment after a
// line's first ";" included, as compiling drops it. Each line's colours depend on its text
// alone. Not a QSyntaxHighlighter: that fills a format for every character of each edited
// line before asking for its colours, a tenth of a keystroke on a line of a megabyte.
class CodeHighlighter : public QObject
{
public:
    explicit CodeHighlighter(QTextDocument *document);

private:
    void highlight(int from, int removed, int added);
    QList<QTextLayout::FormatRange> coloursOf(const QTextBlock &block) const;

    QTextDocument *m_document;
    const SoftBreaks &m_breaks;
    // One shared format per kind of character, the comments' last: the document matches
    // formats by value, and a shared one is hashed once.
    std::array<QTextCharFormat, 6> m_looks;
};

// Reports a click on a line of a text pane that selects nothing, with the line's text.
class LineClicks : public QObject
{
    Q_OBJECT
public:
    explicit LineClicks(QPlainTextEdit *pane);

signals:
    void lineClicked(const QString &line);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPlainTextEdit *m_pane;
};

// The code pane: a limited text pane with an optional line-number gutter.
class CodePane : public LimitedTextEdit
{
    Q_OBJECT
public:
    explicit CodePane(QWidget *parent = nullptr);

    void setLineNumbersShown(bool shown);
    bool lineNumbersShown() const { return m_numbers; }
    // A figure per line (by block number) in the gutter, beside any line numbers: a profile's
    // counts. Empty: none, and no gutter for them.
    void setLineFigures(const QHash<int, QString> &figures);
    const QHash<int, QString> &lineFigures() const { return m_figures; }
    int gutterWidth() const;
    // Room above the text (and the gutter) for a bar over the whole pane's width.
    void setTopMargin(int margin);

    // The code pane offset of the command bracket's partner (the same comment rules as
    // compiling), -1 when it has none; offset must hold "[" or "]" outside a comment.
    int bracketPartner(int offset) const;
    // Whether the character at offset is a command: one of the eight, before its line's ";".
    bool isCommandAt(int offset) const;
    // Puts the caret at source offset (kept within the text) and scrolls it to the pane's
    // middle.
    void goTo(int offset);

    // The owner of the soft breaks of long lines: the source text and its positions.
    const SoftBreaks &softBreaks() const { return *m_breaks; }
    // Lines longer than limit are held as chains of blocks of at most limit; 0: never.
    void setSoftBreakLimit(int limit) { m_breaks->setLimit(limit); }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;
    QMimeData *createMimeDataFromSelection() const override;

private:
    friend class LineNumberGutter;
    bool showsLongLine() const;
    void paintWithLongLines(QPaintEvent *event);
    void drawLongLine(QPainter &painter, const QTextBlock &block, QPointF offset,
        const QList<QTextLayout::FormatRange> &selections, const QRect &clip) const;
    bool editAcrossSoftBreak(QKeyEvent *event);
    void paintGutter(QPaintEvent *event);
    void updateGutterWidth();
    void keepGutter(); // while line numbers or figures are shown
    int numbersWidth() const;

    SoftBreaks *m_breaks; // owned by the document
    QWidget *m_gutter = nullptr;
    bool m_numbers = false;
    QHash<int, QString> m_figures;
    int m_figuresWidth = 0;
    int m_topMargin = 0;
};
