#pragma once

#include "configloader.h"
#include "u_Brainfuck.h"

#include <QDialog>

class QComboBox;
class QSpinBox;

// The dialect dialog: cell width, end of input, tape size and start, shown with dialect's
// values. Its widgets keep their object names (dlg_CellBits, dlg_EndOfInput, dlg_TapeCells,
// dlg_TapeStart) for tests.
class DialectDialog : public QDialog
{
    Q_OBJECT
public:
    DialectDialog(const DialectTexts &texts, const tDialect &dialect, QWidget *parent = nullptr);

    // The dialect as the dialog's widgets now say.
    tDialect dialect() const;

private:
    QComboBox *m_cellBits = nullptr;
    QComboBox *m_endOfInput = nullptr;
    QSpinBox *m_tapeCells = nullptr;
    QComboBox *m_start = nullptr;
};
