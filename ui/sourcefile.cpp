#include "sourcefile.h"

#include "codepage.h"
#include "usererror.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

std::string displayName(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdString();
}

[[noreturn]] void throwTooLarge(const QString &path, qsizetype limit)
{
    throw UserError("Datei " + displayName(path) +
        " ist zu gro\u00df f\u00fcr das Codefeld (h\u00f6chstens " + std::to_string(limit) +
        " Zeichen)");
}

} // namespace

SourceText readSourceFile(const QString &path, qsizetype characterLimit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw UserError("Datei " + displayName(path) + " kann nicht ge\u00f6ffnet werden");
    // Every character takes at least a third of a UTF-16 unit's worth of bytes, so a file
    // this large cannot fit and is refused before it is read.
    if (characterLimit > 0 && file.size() > 3 * characterLimit)
        throwTooLarge(path, characterLimit);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw UserError("Datei " + displayName(path) + " kann nicht ge\u00f6ffnet werden");

    SourceText source;
    source.hasBom = bytes.startsWith("\xEF\xBB\xBF");
    QStringDecoder utf8(QStringConverter::Utf8);
    source.text = utf8(bytes);
    if (utf8.hasError()) {
        source.isUtf8 = false;
        source.hasBom = false;
        source.text = fromCp1252(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    }
    source.text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    source.text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (characterLimit > 0 && source.text.size() > characterLimit)
        throwTooLarge(path, characterLimit);
    return source;
}

void writeSourceFile(const QString &path, const SourceText &source)
{
    QString text = source.text;
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    QByteArray bytes;
    if (!source.isUtf8 && fitsCp1252(text)) {
        const std::string single = toCp1252(text);
        bytes = QByteArray(single.data(), qsizetype(single.size()));
    } else {
        if (source.isUtf8 && source.hasBom)
            bytes = "\xEF\xBB\xBF";
        bytes += text.toUtf8();
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw UserError("Datei " + displayName(path) + " kann nicht erstellt werden");
}
