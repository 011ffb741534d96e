#include "dialectsettings.h"

#include <QSettings>
#include <QString>

namespace {

// Where the debugger window keeps its place too.
QSettings userSettings()
{
    return QSettings(QStringLiteral("Cerebrix"), QStringLiteral("Cerebrix"));
}

} // namespace

void DialectSettings::configure(const tDialect &fallback, const DialectTexts &texts)
{
    m_texts = texts;
    m_dialect = fallback;
    const QSettings settings = userSettings();
    const int bits = settings.value(QStringLiteral("Dialect/CellBits"), fallback.cellBits).toInt();
    if (bits == 8 || bits == 16 || bits == 32)
        m_dialect.cellBits = bits;
    bool isNumber = false;
    const qlonglong cells = settings.value(QStringLiteral("Dialect/TapeCells"), fallback.tapeCells)
                                .toLongLong(&isNumber);
    if (isNumber && cells >= 1 && cells <= tDialect::MostTapeCells)
        m_dialect.tapeCells = static_cast<std::int32_t>(cells);
    const QString end = settings.value(QStringLiteral("Dialect/EndOfInput")).toString();
    m_dialect.endOfInput = endOfInputFromWord(end.toStdString()).value_or(fallback.endOfInput);
    const QString start = settings.value(QStringLiteral("Dialect/TapeStart")).toString();
    m_dialect.start = tapeStartFromWord(start.toStdString()).value_or(fallback.start);
}

void DialectSettings::choose(const tDialect &dialect)
{
    m_dialect = dialect;
    QSettings settings = userSettings();
    settings.setValue(QStringLiteral("Dialect/CellBits"), dialect.cellBits);
    settings.setValue(QStringLiteral("Dialect/EndOfInput"),
        QString::fromLatin1(endOfInputWord(dialect.endOfInput)));
    settings.setValue(QStringLiteral("Dialect/TapeCells"), dialect.tapeCells);
    settings.setValue(
        QStringLiteral("Dialect/TapeStart"), QString::fromLatin1(tapeStartWord(dialect.start)));
}
