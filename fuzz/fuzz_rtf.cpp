#include "rtfreader.h"

#include <QByteArray>
#include <QString>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

// Reads arbitrary bytes as RTF, then as about lines split at line feeds. Any result is fine; a
// rejected document must stay as it was.

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QTextDocument document;
    document.setPlainText(QStringLiteral("before"));
    QString error;
    if (!readRtf(bytes, &document, &error))
        check(!error.isEmpty() && document.toPlainText() == QStringLiteral("before"));

    std::vector<std::string> lines;
    for (const QByteArray &line : bytes.split('\n'))
        lines.push_back(line.toStdString());
    AssignViaStream(&document, lines);
    return 0;
}
