#include "messages.h"

#include "codepage.h"

QString messageText(const std::string &text, const QStringList &arguments)
{
    const QString message = fromCp1252(text);
    // Qt's multi-argument arg replaces every marker in one pass, so a replaced text (a file
    // name holding "%2") is never scanned again. No message takes more than three.
    Q_ASSERT(arguments.size() <= 3);
    switch (arguments.size()) {
    case 0: return message;
    case 1: return message.arg(arguments[0]);
    case 2: return message.arg(arguments[0], arguments[1]);
    default: return message.arg(arguments[0], arguments[1], arguments[2]);
    }
}

std::string messageBytes(const std::string &text, const QStringList &arguments)
{
    return messageText(text, arguments).toStdString();
}
