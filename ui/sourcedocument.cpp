#include "sourcedocument.h"

#include "customwidgets.h"
#include "messages.h"
#include "softbreaks.h"

#include <QDir>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTextCursor>
#include <QTextDocument>

SourceDocument::SourceDocument(LimitedTextEdit &pane, const MessageTexts &messages)
    : m_pane(pane)
    , m_messages(messages)
{ }

void SourceDocument::replaceText(const QString &text, bool undoable)
{
    if (m_pane.wouldExceedLimit(text.size(), m_pane.document()->characterCount() - 1))
        m_pane.refuseText();
    m_replacing = true;
    const auto done = qScopeGuard([this] { m_replacing = false; });
    // Long lines go in chunked when the pane holds them so.
    const SoftBreaks *breaks = SoftBreaks::of(*m_pane.document());
    const bool chunked = breaks && breaks->chunks(text);
    if (undoable) {
        // One edit: Ctrl+Z brings the text it replaced back.
        QTextCursor all(m_pane.document());
        all.beginEditBlock();
        all.select(QTextCursor::Document);
        if (chunked)
            breaks->insert(all, text);
        else
            all.insertText(text);
        all.endEditBlock();
        all.movePosition(QTextCursor::Start);
        m_pane.setTextCursor(all);
    } else if (chunked) {
        m_pane.setPlainText(QString());
        QTextDocument &document = *m_pane.document();
        document.setUndoRedoEnabled(false); // as setPlainText: nothing to undo
        QTextCursor all(&document);
        breaks->insert(all, text);
        document.setUndoRedoEnabled(true);
    } else {
        m_pane.setPlainText(text);
    }
}

void SourceDocument::open(const QString &path)
{
    m_openName = path;
    const SourceText source = readSourceFile(path, m_pane.characterLimit(), m_messages);
    replaceText(source.text);
    setUnmodified(); // as the file holds it
    m_fileName = path;
    m_format = source.format;
    m_saveName = m_openName;
}

QString SourceDocument::saveTo(const QString &path)
{
    m_saveName = path;
    const SourceFormat written = writeSourceFile(path, *m_pane.document(), m_format, m_messages);
    m_openName = m_saveName;
    m_fileName = path;
    setUnmodified();
    // The file keeps its encoding unless the text no longer fits it; then it is said.
    if (written.isUtf8 == m_format.isUtf8)
        return QString();
    m_format = written;
    return messageText(m_messages.savedAsUtf8, {QDir::toNativeSeparators(path)});
}

bool SourceDocument::isModified() const
{
    return m_pane.document()->isModified();
}

void SourceDocument::setUnmodified()
{
    m_pane.document()->setModified(false);
}

bool SourceDocument::mayClose(
    const std::function<int(const QString &question)> &ask, const std::function<void()> &save)
{
    if (m_closeAnswered || !isModified())
        return true;
    const int answer = ask(messageText(m_messages.closeUnsaved, {}));
    if (answer == QMessageBox::Save) {
        save();
        m_closeAnswered = !isModified(); // not when cancelled or failed
    } else {
        m_closeAnswered = answer == QMessageBox::Discard;
    }
    return m_closeAnswered;
}
