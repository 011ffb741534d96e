#pragma once

#include "messagetexts.h"

#include <QColor>
#include <QLabel>
#include <QPlainTextEdit>
#include <QWidget>

#include <vector>

// A filled ellipse that lets the mouse through to what lies behind it.
class EllipseShape : public QWidget
{
public:
    EllipseShape(const QColor &fill, const QColor &outline, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
    QColor m_outline;
};

// A static text that reports a left click.
class BreakControl : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

// A plain-text pane whose text never grows beyond a limit. Typing, pasting or dropping text
// that would pass the limit is refused as a whole and reported by limitRefused; what the
// program itself inserts is the caller's to check (see wouldExceedLimit).
class LimitedTextEdit : public QPlainTextEdit
{
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;

    void setCharacterLimit(qsizetype limit) { m_limit = limit; }
    qsizetype characterLimit() const { return m_limit; }
    // A bound on the lines (text blocks) that what the program inserts may create; each
    // costs about a hundred bytes however short. 0: no limit.
    void setLineLimit(qsizetype limit) { m_lineLimit = limit; }
    qsizetype lineLimit() const { return m_lineLimit; }
    // Whether adding lines more line breaks passes the line limit.
    bool wouldExceedLineLimit(qsizetype lines) const;
    // Whether replacing removed characters by added ones passes the limit.
    bool wouldExceedLimit(qsizetype added, qsizetype removed = 0) const;
    // How many characters may still be added when reserved more will follow them (0 when
    // none); the largest qsizetype without a limit.
    qsizetype roomLeft(qsizetype reserved) const;
    // How many more lines may be added; the largest qsizetype without a line limit.
    qsizetype linesLeft() const;
    // The texts refuseText says itself in; the built-in ones when none are set. They must
    // outlive the pane.
    void setMessages(const MessageTexts *messages) { m_messages = messages; }
    // Throws UserError "Der Text passt nicht mehr in das Feld (höchstens <limit> Zeichen)".
    [[noreturn]] void refuseText() const;

signals:
    void limitRefused();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    qsizetype m_limit = 0; // 0: no limit
    qsizetype m_lineLimit = 0;
    const MessageTexts *m_messages = nullptr;
};

// Keeps children at their distance from their parent's right edge whenever the parent is
// resized. Distances are taken from the geometry at the moment a child is added.
class RightAnchors : public QObject
{
public:
    explicit RightAnchors(QWidget *parent, int defaultParentWidth);
    void add(QWidget *child);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_parent;
    int m_defaultWidth;
    std::vector<std::pair<QWidget *, int>> m_children; // child, distance to the right edge
};
