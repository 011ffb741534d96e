#include "Ufrm_BrainF_ck.h"

#include "console.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>

QString CopyBefore(const QString &s, const QString &d)
{
    const qsizetype at = s.indexOf(d);
    return at < 0 ? s : s.left(at);
}

void Tfrm_BF_IDE::bf_OutChar(std::uint8_t b)
{
    m_console->writeByte(b);
}

void Tfrm_BF_IDE::bf_OutLine(const QString &s)
{
    m_console->writeLine(s);
}

void Tfrm_BF_IDE::bf_Idle()
{
    m_console->idle();
}

std::uint8_t Tfrm_BF_IDE::bf_InChar()
{
    const std::uint8_t byte = m_console->readByte(!m_run.isCloseRequested());
    bf_Engine->m_inputEnded = m_console->inputEnded();
    return byte;
}

void Tfrm_BF_IDE::ed_bf_InputKeyPress(int key)
{
    m_console->keyPressed(key);
}

void Tfrm_BF_IDE::N32Leerzeichen1Click(QAction *item)
{
    ed_bf_Input->setText(CopyBefore(item->text().left(255), QStringLiteral(" ")));
    QApplication::processEvents();
    ed_bf_InputKeyPress(13);
}
