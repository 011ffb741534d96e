#pragma once

#include <string_view>

// The control words the RTF reader acts on.

namespace rtf {

enum class Word {
    Unknown,
    Par,
    Line,
    Tab,
    Symbol,
    Bold,
    Italic,
    Underline,
    UnderlineNone,
    StrikeOut,
    Plain,
    FontSize,
    Colour,
    Red,
    Green,
    Blue,
    ColourTable,
    Pard,
    Align,
    Unicode,
    FallbackLength,
    Binary,
    Destination
};

struct WordMeaning
{
    Word word = Word::Unknown;
    int value = 0; // the character of a Symbol, the Qt::Alignment of an Align
};

// The meaning of a control word's name; Word::Unknown for any word the reader ignores.
WordMeaning findControlWord(std::string_view name);

} // namespace rtf
