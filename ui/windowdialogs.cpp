#include "windowdialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

WindowDialogs::WindowDialogs(QWidget &window)
    : m_window(window)
{
    m_reportError = [](const QString &text) {
        QMessageBox box(
            QMessageBox::Critical, QCoreApplication::applicationName(), text, QMessageBox::Ok);
        box.exec();
    };
    m_chooseFile = [](QFileDialog &dialog, const QString &fileName) {
        dialog.selectFile(fileName);
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    };
    m_askToSave = [this](const QString &question) {
        return int(QMessageBox::question(&m_window, m_window.windowTitle(), question,
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save));
    };
}

void WindowDialogs::report(const QString &errorText)
{
    QString text = errorText;
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        text += QLatin1Char('.');
    if (!m_building) {
        m_reportError(text);
        return;
    }
    reportLater(text);
}

void WindowDialogs::reportLater(const QString &text)
{
    QTimer::singleShot(0, &m_window, [this, text] { m_reportError(text); });
}
