#pragma once

#include <QString>

class QTextDocument;

// A pane holds one break between lines; files, example texts and program output hold CR LF,
// lone CR or lone LF. These two are the only places where one form becomes the other.

// The text of document with CR LF for every paragraph and line separator (Shift+Return).
QString textWithCrLf(const QTextDocument &document);
// text with each CR LF, lone CR and lone LF as one "\n", the break a pane takes.
QString textWithLineFeeds(QString text);
