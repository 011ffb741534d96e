#pragma once

#include "sourcefile.h"

#include <QString>

#include <functional>

class LimitedTextEdit;

// The code pane's text as a document: the file it came from or went to, the file's encoding
// and line breaks, whether it changed since, the names the file dialogs propose, and the
// question about unsaved changes.
class SourceDocument
{
public:
    // messages must outlive the document.
    SourceDocument(LimitedTextEdit &pane, const MessageTexts &messages);

    // Replaces the pane's whole text ("\n" line breaks); one undoable edit unless undoable is
    // false. UserError when it passes the pane's limit. While it runs isReplacing() is true,
    // so that the pane's change is not taken for the user's edit.
    void replaceText(const QString &text, bool undoable = true);
    bool isReplacing() const { return m_replacing; }

    // Puts the file at path into the pane (UserError when it cannot be read), keeping its
    // encoding and line breaks for saving; the text counts as unchanged.
    void open(const QString &path);
    // Writes the pane's text to path in the format of the file last opened (a new text: CR LF,
    // UTF-8). Returns the message to show when the text no longer fits the file's encoding
    // and went out as UTF-8; empty otherwise. UserError when it cannot be written.
    QString saveTo(const QString &path);

    // The file last opened or saved (where Ctrl+S writes); empty for a text never saved.
    const QString &fileName() const { return m_fileName; }
    const SourceFormat &format() const { return m_format; }
    bool isModified() const;
    void setUnmodified();
    // The names the open and save dialogs propose.
    const QString &openDialogName() const { return m_openName; }
    const QString &saveDialogName() const { return m_saveName; }

    // Whether a close may go on: unsaved changes are not dropped without asking. ask gets the
    // question and returns QMessageBox::Save, Discard or Cancel; save saves (as Ctrl+S). The
    // answer holds for the rest of this close, which may wait for a run to end.
    bool mayClose(
        const std::function<int(const QString &question)> &ask, const std::function<void()> &save);

private:
    LimitedTextEdit &m_pane;
    const MessageTexts &m_messages;
    QString m_fileName;
    QString m_openName, m_saveName;
    SourceFormat m_format;
    bool m_replacing = false;
    bool m_closeAnswered = false;
};
