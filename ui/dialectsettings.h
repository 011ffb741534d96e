#pragma once

#include "configloader.h"
#include "u_Brainfuck.h"

class QWidget;

// The dialect the window's runs take and the texts of its dialog. BF.ini's [Engine] keys give
// the default; the user's choice in the dialect dialog overrides it and is remembered per user
// (QSettings), so it outlasts the session.
class DialectSettings
{
public:
    // Takes fallback (BF.ini's dialect) and the GUI file's texts, then the remembered choice
    // over fallback (a remembered value out of range keeps fallback's).
    void configure(const tDialect &fallback, const DialectTexts &texts);
    const tDialect &dialect() const { return m_dialect; }
    const DialectTexts &texts() const { return m_texts; }
    // Makes dialect the choice and remembers it.
    void choose(const tDialect &dialect);

private:
    tDialect m_dialect;
    DialectTexts m_texts;
};
