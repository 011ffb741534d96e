#include "linebreaks.h"

#include "softbreaks.h"

#include <QTextDocument>

QString textWithCrLf(const QTextDocument &document)
{
    // The raw text: the plain one would also turn non-breaking spaces into blanks.
    QString text = SoftBreaks::sourceText(document, true);
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return text;
}

QString textWithLineFeeds(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}
