#pragma once

#include <string>
#include <vector>

class QByteArray;
class QString;
class QTextDocument;

// Reads an RTF document into document, replacing its content. Understands groups, \par, \line,
// \tab, \b, \i, \ul, \strike, \plain, \fs (half-points), the colour table with \cf, paragraph
// alignment, \'hh (Windows-1252), \u with its \uc fallback and the usual control symbols; font
// tables, style sheets, \* groups, pictures and other destinations are skipped, unknown control
// words ignored. Returns false, sets *error (when given) and leaves document untouched when bytes
// do not begin with "{\rtf", groups are unbalanced or nested deeper than 200, or anything but
// blanks and line breaks follows the closing brace.
// At most AboutTextLines paragraphs and AboutTextCharacters characters are taken.
bool readRtf(const QByteArray &bytes, QTextDocument *document, QString *error = nullptr);

// The most of a text that a document built here takes: lines (paragraphs) and characters. A
// text view lays out all its text at once, so a longer one would freeze the window.
inline constexpr int AboutTextLines = 10000; // configuration reading keeps one more
inline constexpr int AboutTextCharacters = 65536;

// Loads the about lines into document: formatted when the lines, each followed by CR LF, form an
// RTF document; otherwise as plain Windows-1252 text, one paragraph per line. No lines give an
// empty document. Only the first AboutTextLines lines and AboutTextCharacters characters are
// taken; returns whether the text was cut there.
bool AssignViaStream(QTextDocument *document, const std::vector<std::string> &lines);
