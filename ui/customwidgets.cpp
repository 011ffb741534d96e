#include "customwidgets.h"

#include "messages.h"

#include "usererror.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTextCursor>

#include <algorithm>
#include <limits>

EllipseShape::EllipseShape(const QColor &fill, const QColor &outline, QWidget *parent)
    : QWidget(parent)
    , m_fill(fill)
    , m_outline(outline)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void EllipseShape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(m_outline);
    painter.setBrush(m_fill);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void BreakControl::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QLabel::mousePressEvent(event);
}

bool LimitedTextEdit::wouldExceedLimit(qsizetype added, qsizetype removed) const
{
    if (m_limit <= 0)
        return false;
    // characterCount counts one closing paragraph separator beyond the text.
    const qsizetype current = document()->characterCount() - 1;
    return current - removed + added > m_limit;
}

bool LimitedTextEdit::wouldExceedLineLimit(qsizetype lines) const
{
    return m_lineLimit > 0 && document()->blockCount() + lines > m_lineLimit;
}

qsizetype LimitedTextEdit::roomLeft(qsizetype reserved) const
{
    if (m_limit <= 0)
        return std::numeric_limits<qsizetype>::max();
    const qsizetype current = document()->characterCount() - 1;
    return std::max<qsizetype>(0, m_limit - current - reserved);
}

qsizetype LimitedTextEdit::linesLeft() const
{
    if (m_lineLimit <= 0)
        return std::numeric_limits<qsizetype>::max();
    return std::max<qsizetype>(0, m_lineLimit - document()->blockCount());
}

void LimitedTextEdit::refuseText() const
{
    static const MessageTexts builtIn;
    const MessageTexts &messages = m_messages ? *m_messages : builtIn;
    throw UserError(messageBytes(messages.textTooLong, {QString::number(m_limit)}));
}

void LimitedTextEdit::keyPressEvent(QKeyEvent *event)
{
    const QString text = event->text();
    const bool adds = !text.isEmpty() && !event->matches(QKeySequence::Paste) &&
        (text.front().isPrint() || text.front() == u'\t' || text.front() == u'\r');
    if (adds && wouldExceedLimit(text.size(), textCursor().selectedText().size())) {
        emit limitRefused();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void LimitedTextEdit::insertFromMimeData(const QMimeData *source)
{
    if (source && source->hasText() &&
        wouldExceedLimit(source->text().size(), textCursor().selectedText().size())) {
        emit limitRefused();
        return;
    }
    QPlainTextEdit::insertFromMimeData(source);
}

RightAnchors::RightAnchors(QWidget *parent, int defaultParentWidth)
    : QObject(parent)
    , m_parent(parent)
    , m_defaultWidth(defaultParentWidth)
{
    parent->installEventFilter(this);
}

void RightAnchors::add(QWidget *child)
{
    m_children.emplace_back(child, m_defaultWidth - child->geometry().right() - 1);
}

bool RightAnchors::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_parent && event->type() == QEvent::Resize) {
        for (const auto &[child, distance] : m_children)
            child->move(m_parent->width() - distance - child->width(), child->y());
    }
    return QObject::eventFilter(watched, event);
}
