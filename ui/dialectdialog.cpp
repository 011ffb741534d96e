#include "dialectdialog.h"

#include "codepage.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>

namespace {

QComboBox *comboBox(const char *name, const QStringList &items, int current, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->addItems(items);
    box->setCurrentIndex(current);
    return box;
}

} // namespace

DialectDialog::DialectDialog(const DialectTexts &texts, const tDialect &dialect, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("DialectDialog"));
    setWindowTitle(fromCp1252(texts.title));
    auto *form = new QFormLayout(this);
    m_cellBits =
        comboBox("dlg_CellBits", {QStringLiteral("8"), QStringLiteral("16"), QStringLiteral("32")},
            dialect.cellBits == 32       ? 2
                : dialect.cellBits == 16 ? 1
                                         : 0,
            this);
    form->addRow(fromCp1252(texts.cellBits), m_cellBits);
    m_endOfInput = comboBox("dlg_EndOfInput",
        {fromCp1252(texts.endZero), fromCp1252(texts.endAllOnes), fromCp1252(texts.endUnchanged)},
        static_cast<int>(dialect.endOfInput), this);
    form->addRow(fromCp1252(texts.endOfInput), m_endOfInput);
    m_tapeCells = new QSpinBox(this);
    m_tapeCells->setObjectName(QStringLiteral("dlg_TapeCells"));
    m_tapeCells->setRange(1, tDialect::MostTapeCells);
    m_tapeCells->setGroupSeparatorShown(true);
    m_tapeCells->setValue(dialect.tapeCells);
    form->addRow(fromCp1252(texts.tapeCells), m_tapeCells);
    m_start =
        comboBox("dlg_TapeStart", {fromCp1252(texts.startMiddle), fromCp1252(texts.startLeft)},
            static_cast<int>(dialect.start), this);
    form->addRow(fromCp1252(texts.start), m_start);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

tDialect DialectDialog::dialect() const
{
    tDialect dialect;
    dialect.cellBits = 8 << m_cellBits->currentIndex();
    dialect.endOfInput = static_cast<tEndOfInput>(m_endOfInput->currentIndex());
    dialect.tapeCells = m_tapeCells->value();
    dialect.start = static_cast<tTapeStart>(m_start->currentIndex());
    return dialect;
}
