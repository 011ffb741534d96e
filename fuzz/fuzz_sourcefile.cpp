#include "codepage.h"
#include "fuzzsupport.h"
#include "offscreenapp.h"
#include "sourcefile.h"
#include "sourceprep.h"

#include <QByteArray>
#include <QFile>
#include <QPlainTextEdit>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

// Opens arbitrary bytes as a source file, puts the text into a code pane as the window does,
// takes it back out and saves it: the saved bytes must equal the opened ones up to line
// breaks, and compile to the same commands.

namespace {

QByteArray withLineFeeds(QByteArray bytes)
{
    bytes.replace("\r\n", "\n");
    bytes.replace('\r', '\n');
    return bytes;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// The pane and the folder of the files, made once.
struct Setting
{
    QTemporaryDir folder;
    QPlainTextEdit pane;
};

Setting &setting()
{
    offscreenApplication();
    static Setting *instance = new Setting; // kept until exit, like the application
    return *instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Setting &fixed = setting();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString in = fixed.folder.filePath(QStringLiteral("in.bf"));
    const QString out = fixed.folder.filePath(QStringLiteral("out.bf"));
    QFile file(in);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
    file.close();

    const SourceText source = readSourceFile(in, 1 << 20, MessageTexts());
    // The pane's round trip, as opening and saving in the window make it.
    fixed.pane.setPlainText(source.text);
    writeSourceFile(out, *fixed.pane.document(), source.format, MessageTexts());

    const QByteArray saved = readBytes(out);
    FUZZ_CHECK(withLineFeeds(saved) == withLineFeeds(bytes));
    const auto commands = [](const QByteArray &text) {
        return prepareSource(std::string(text.constData(), std::size_t(text.size())));
    };
    FUZZ_CHECK(commands(saved) == commands(bytes));
    return 0;
}
