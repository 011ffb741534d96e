#include "messages.h"

#include "codepage.h"

QString messageText(const std::string &text, const QStringList &arguments)
{
    QString message = fromCp1252(text);
    for (const QString &argument : arguments)
        message = message.arg(argument);
    return message;
}

std::string messageBytes(const std::string &text, const QStringList &arguments)
{
    return messageText(text, arguments).toStdString();
}
