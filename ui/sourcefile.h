#pragma once

#include "messagetexts.h"

#include <QString>

class QTextDocument;

// How a source file's bytes were encoded, so that saving writes them back the same way.
struct SourceFormat
{
    bool isUtf8 = true; // false: Windows-1252
    bool hasBom = false; // the UTF-8 bytes began with a byte order mark
    // The file's line and paragraph separators (U+2028, U+2029), which a text pane would turn
    // into line breaks, stand in the text as U+E028 and U+E029 and go back when it is saved.
    bool keepsSeparators = false;
    // The file's line break: CR LF, LF or CR, as its first line break is (CR LF for a file
    // without any, and for new texts).
    QString lineBreak = QStringLiteral("\r\n");
};

// A source file's text with "\n" line breaks, and its format.
struct SourceText
{
    QString text;
    SourceFormat format;
};

// Reads the file at path. Bytes that form valid UTF-8 are read as UTF-8, any others as
// Windows-1252; CR LF, CR and LF each end a line. Throws UserError "Datei <path> kann nicht
// geöffnet werden" when path is no regular file (a device or pipe is never opened) or cannot be
// read, and a UserError saying so when its text has more than characterLimit characters.
SourceText readSourceFile(
    const QString &path, qsizetype characterLimit, const MessageTexts &messages);

// Replaces the file at path by the text of code with the format's line breaks, all at once: a
// failed write leaves the old file as it was. Writes Windows-1252 when format says so and every
// character fits, UTF-8 otherwise. Returns the format written: UTF-8 without a byte order
// mark when Windows-1252 was asked for and did not fit. Throws UserError "Datei <path> kann
// nicht erstellt werden".
SourceFormat writeSourceFile(const QString &path, const QTextDocument &code,
    const SourceFormat &format, const MessageTexts &messages);
