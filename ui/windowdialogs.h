#pragma once

#include <QString>

#include <functional>
#include <utility>

class QFileDialog;
class QWidget;

// The window's modal exchanges with the user: the error report, the file dialogs and the
// question about unsaved changes. Tests and fuzzers replace them to answer as a user would.
class WindowDialogs
{
public:
    // Shows text as given: a message box.
    using ReportError = std::function<void(const QString &text)>;
    // Shows dialog proposing fileName; returns the chosen path, empty when cancelled.
    using ChooseFile = std::function<QString(QFileDialog &dialog, const QString &fileName)>;
    // Asks whether to save changed code: QMessageBox::Save, Discard or Cancel.
    using AskToSave = std::function<int(const QString &question)>;

    // The standard dialogs, over window.
    explicit WindowDialogs(QWidget &window);

    // Reports errorText with a full stop added when its last character sorts after '.'.
    // While the window is being built the report waits for the event loop, so the window
    // opens with everything set up to that point.
    void report(const QString &errorText);
    void setBuilding(bool building) { m_building = building; }
    // Reports text as given once the event loop runs.
    void reportLater(const QString &text);

    QString chooseFile(QFileDialog &dialog, const QString &fileName) const
    {
        return m_chooseFile(dialog, fileName);
    }
    const AskToSave &askToSave() const { return m_askToSave; }

    void setReportError(ReportError report) { m_reportError = std::move(report); }
    void setChooseFile(ChooseFile choose) { m_chooseFile = std::move(choose); }
    void setAskToSave(AskToSave ask) { m_askToSave = std::move(ask); }

private:
    QWidget &m_window;
    ReportError m_reportError;
    ChooseFile m_chooseFile;
    AskToSave m_askToSave;
    bool m_building = false;
};
