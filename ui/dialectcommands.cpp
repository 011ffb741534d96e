#include "Ufrm_BrainF_ck.h"

#include "console.h"
#include "dialectdialog.h"
#include "dialectsettings.h"

void Tfrm_BF_IDE::pm_bf_DialectClick()
{
    DialectDialog dialog(m_dialect->texts(), m_dialect->dialect(), this);
    if (dialog.exec() == QDialog::Accepted)
        m_dialect->choose(dialog.dialect());
}

void Tfrm_BF_IDE::nEndOfInputClick()
{
    m_console->endInput();
}
