#pragma once

#include "configloader.h"
#include "messagetexts.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the configuration files give the window: the folder they are read from, the main
// settings, the example catalogue, and the error and message texts. The start-up set-up reads
// them once; they stay as read until the program ends. Until a text is read its built-in one
// stands, so reports during the start-up have words.
class WindowConfiguration
{
public:
    // folder: a path ending with '/'; empty: the program's folder, or else ../share/cerebrix
    // beside it (missingReport() then says where it looked when neither holds the files).
    explicit WindowConfiguration(const QString &folder);

    const QString &folder() const { return m_folder; }
    const QString &missingReport() const { return m_missingReport; }

    // The folder as the readers take it.
    std::string path() const;

    // The reading steps that keep what they read; each throws UserError for a file that
    // cannot be read, keeping what earlier steps read. The examples come in the settings'
    // language, element n - 1 numbered n as their menu items are.
    const MainSettings &readSettings();
    std::vector<Example> readExamples();
    // The error texts the interface file gives in place of the built-in ones.
    void takeErrorTexts(const InterfaceTexts &texts);
    void readMessages();

    const MainSettings &settings() const { return m_settings; }
    // The example numbered n (from 1), with "\n" line breaks; none for a number not listed.
    std::optional<QString> example(std::int32_t n) const;
    // The text for an engine result (1 to 4); empty for any other.
    QString errorText(int result) const;
    // The messages' one home: the panes and owners that report keep a reference to it.
    const MessageTexts &messages() const { return m_messages; }

private:
    QString m_folder;
    QString m_missingReport;
    MainSettings m_settings;
    QStringList m_examples; // slot 0 unused
    ErrorMessageTable m_errorMessages;
    MessageTexts m_messages;
};
