#include "windowconfiguration.h"

#include "codepage.h"
#include "configfolder.h"
#include "linebreaks.h"

#include <QCoreApplication>
#include <QFile>

WindowConfiguration::WindowConfiguration(const QString &folder)
    : m_folder(folder)
    , m_errorMessages(defaultErrorMessages())
{
    if (!m_folder.isEmpty())
        return;
    // Beside the program (a build folder), or else in ../share/cerebrix (a package).
    const ConfigurationFolder found = findConfigurationFolder(
        QFile::encodeName(QCoreApplication::applicationDirPath() + QLatin1Char('/')).toStdString());
    m_folder = QFile::decodeName(found.path.c_str());
    if (!found.found)
        m_missingReport = QString::fromUtf8(
            builtInMessage(MessageTexts().configurationMissing, found.looked).c_str());
}

std::string WindowConfiguration::path() const
{
    return QFile::encodeName(m_folder).toStdString();
}

const MainSettings &WindowConfiguration::readSettings()
{
    m_settings = readMainSettings(path());
    return m_settings;
}

std::vector<Example> WindowConfiguration::readExamples()
{
    std::vector<Example> examples = ::readExamples(path(), m_settings.languageCode);
    m_examples = QStringList(QString());
    for (const Example &example : examples)
        m_examples.append(textWithLineFeeds(fromCp1252(example.text)));
    return examples;
}

void WindowConfiguration::takeErrorTexts(const InterfaceTexts &texts)
{
    applyErrorMessages(texts, m_errorMessages);
}

void WindowConfiguration::readMessages()
{
    m_messages = readMessageTexts(path(), m_settings.languageCode);
}

std::optional<QString> WindowConfiguration::example(std::int32_t n) const
{
    if (n < 1 || n >= m_examples.size())
        return std::nullopt;
    return m_examples.at(n);
}

QString WindowConfiguration::errorText(int result) const
{
    if (result < 1 || result >= int(m_errorMessages.size()))
        return QString();
    return fromCp1252(m_errorMessages[std::size_t(result)]);
}
