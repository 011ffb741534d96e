#pragma once

#include "messagetexts.h"

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

class QByteArray;

// Single-byte text of the program (INI files, engine texts, program output and input) in the
// Windows-1252 code page. Every byte maps to one character and back, the five positions the
// code page leaves unassigned included (they map to the C1 controls of the same number).

// The character of byte b.
QChar charFromCp1252(std::uint8_t b);
// The byte of c; false (and *byte untouched) when the code page has no such character.
bool charToCp1252(QChar c, std::uint8_t *byte);

QString fromCp1252(std::string_view bytes);
// Characters outside the code page become '?'.
std::string toCp1252(const QString &text);
// Whether every character of text has a byte in the code page.
bool fitsCp1252(const QString &text);

// The standard integer conversion of a typed number: leading blanks, an optional sign and
// decimal digits, or hexadecimal digits after $, x, X or 0x. Throws UserError with the
// message notAnInteger of messages ("'<text>' ist kein gültiger Integerwert" built in) when
// text is no such number.
std::int32_t convertToInteger(const QString &text, const MessageTexts &messages);
