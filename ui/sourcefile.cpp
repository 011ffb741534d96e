#include "sourcefile.h"

#include "messages.h"

#include "codepage.h"
#include "linebreaks.h"
#include "usererror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

// Private-use stand-ins for the separators. A file that holds the stand-ins themselves is
// read without them (its separators then become line breaks), so none turns into another.
constexpr char16_t LineSeparatorStandIn = 0xE028;
constexpr char16_t ParagraphSeparatorStandIn = 0xE029;

QString displayName(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

[[noreturn]] void throwTooLarge(const QString &path, qsizetype limit, const MessageTexts &messages)
{
    throw UserError(
        messageBytes(messages.fileTooLarge, {displayName(path), QString::number(limit)}));
}

[[noreturn]] void throwCannotOpen(const QString &path, const MessageTexts &messages)
{
    throw UserError(messageBytes(messages.fileCannotOpen, {displayName(path)}));
}

} // namespace

SourceText readSourceFile(
    const QString &path, qsizetype characterLimit, const MessageTexts &messages)
{
    // Only a regular file is read: a device never ends and opening a pipe blocks.
    if (!QFileInfo(path).isFile())
        throwCannotOpen(path, messages);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throwCannotOpen(path, messages);
    // Every character takes at most three bytes, so more bytes than this cannot fit. Reading
    // one byte beyond it bounds the read even when the file grows meanwhile.
    const qint64 maximumBytes = characterLimit > 0 ? 3 * qint64(characterLimit) + 3 : -1;
    if (maximumBytes >= 0 && file.size() > maximumBytes)
        throwTooLarge(path, characterLimit, messages);
    const QByteArray bytes = maximumBytes >= 0 ? file.read(maximumBytes + 1) : file.readAll();
    if (file.error() != QFileDevice::NoError)
        throwCannotOpen(path, messages);
    if (maximumBytes >= 0 && bytes.size() > maximumBytes)
        throwTooLarge(path, characterLimit, messages);

    SourceText source;
    SourceFormat &format = source.format;
    format.hasBom = bytes.startsWith("\xEF\xBB\xBF");
    // Stateless: a sequence cut off at the end of the file is an error, not input to wait for
    // (the stateful decoder dropped those last bytes without a word).
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    source.text = utf8(bytes);
    if (utf8.hasError()) {
        format.isUtf8 = false;
        format.hasBom = false;
        source.text = fromCp1252(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    }
    const qsizetype lineEnd = source.text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    if (lineEnd >= 0) {
        const QStringView rest = QStringView(source.text).mid(lineEnd);
        format.lineBreak =
            rest.startsWith(u"\r\n") ? QStringLiteral("\r\n") : rest.left(1).toString();
    }
    source.text = textWithLineFeeds(source.text);
    const bool hasSeparators = source.text.contains(QChar::LineSeparator) ||
        source.text.contains(QChar::ParagraphSeparator);
    const bool hasStandIns = source.text.contains(QChar(LineSeparatorStandIn)) ||
        source.text.contains(QChar(ParagraphSeparatorStandIn));
    if (hasSeparators && !hasStandIns) {
        source.text.replace(QChar::LineSeparator, QChar(LineSeparatorStandIn));
        source.text.replace(QChar::ParagraphSeparator, QChar(ParagraphSeparatorStandIn));
        format.keepsSeparators = true;
    }
    if (characterLimit > 0 && source.text.size() > characterLimit)
        throwTooLarge(path, characterLimit, messages);
    return source;
}

SourceFormat writeSourceFile(const QString &path, const QTextDocument &code,
    const SourceFormat &format, const MessageTexts &messages)
{
    QString text = textWithCrLf(code);
    if (format.lineBreak != QLatin1String("\r\n"))
        text.replace(QStringLiteral("\r\n"), format.lineBreak);
    if (format.keepsSeparators) {
        text.replace(QChar(LineSeparatorStandIn), QChar::LineSeparator);
        text.replace(QChar(ParagraphSeparatorStandIn), QChar::ParagraphSeparator);
    }
    SourceFormat written = format;
    QByteArray bytes;
    if (!format.isUtf8 && fitsCp1252(text)) {
        const std::string single = toCp1252(text);
        bytes = QByteArray(single.data(), qsizetype(single.size()));
    } else {
        if (!format.isUtf8) // the text no longer fits the file's code page
            written = {true, false, format.keepsSeparators, format.lineBreak};
        if (written.hasBom)
            bytes = "\xEF\xBB\xBF";
        bytes += text.toUtf8();
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw UserError(messageBytes(messages.fileCannotCreate, {displayName(path)}));
    return written;
}
