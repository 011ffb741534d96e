#pragma once

#include <QString>

// A source file's text with "\n" line breaks and how its bytes were encoded.
struct SourceText
{
    QString text;
    bool isUtf8 = true; // false: Windows-1252
    bool hasBom = false; // the UTF-8 bytes began with a byte order mark
    // The file's line and paragraph separators (U+2028, U+2029), which a text pane would turn
    // into line breaks, stand in the text as U+E028 and U+E029 and go back when it is saved.
    bool keepsSeparators = false;
};

// Reads the file at path. Bytes that form valid UTF-8 are read as UTF-8, any others as
// Windows-1252; CR LF, CR and LF each end a line. Throws UserError "Datei <path> kann nicht
// geöffnet werden" when path is no regular file (a device or pipe is never opened) or cannot be
// read, and a UserError saying so when its text has more than characterLimit characters.
SourceText readSourceFile(const QString &path, qsizetype characterLimit);

// Replaces the file at path by source.text with CR LF line breaks, all at once: a failed write
// leaves the old file as it was. Writes Windows-1252 when source says so and every character
// fits, UTF-8 otherwise. Throws UserError "Datei <path> kann nicht erstellt werden".
void writeSourceFile(const QString &path, const SourceText &source);
