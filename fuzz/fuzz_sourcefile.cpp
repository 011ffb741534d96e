#include "codepage.h"
#include "outputlines.h"
#include "sourcefile.h"
#include "sourceprep.h"

#include <QApplication>
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

#define check(condition) checkAt(condition, __LINE__)

void checkAt(bool condition, int line)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_sourcefile: check on line %d failed\n", line);
        std::abort();
    }
}

QByteArray withLineFeeds(QByteArray bytes)
{
    bytes.replace("\r\n", "\n");
    bytes.replace('\r', '\n');
    return bytes;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    check(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

struct Setting
{
    std::unique_ptr<QApplication> application;
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<QPlainTextEdit> pane;
};

Setting &setting()
{
    static Setting instance = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_sourcefile";
        static char *argv[] = {name, nullptr};
        Setting made;
        made.application = std::make_unique<QApplication>(argc, argv);
        made.folder = std::make_unique<QTemporaryDir>();
        made.pane = std::make_unique<QPlainTextEdit>();
        return made;
    }();
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Setting &fixed = setting();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString in = fixed.folder->filePath(QStringLiteral("in.bf"));
    const QString out = fixed.folder->filePath(QStringLiteral("out.bf"));
    QFile file(in);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    check(file.write(bytes) == bytes.size());
    file.close();

    SourceText source = readSourceFile(in, 1 << 20);
    // The pane's round trip, as opening and saving in the window make it.
    fixed.pane->setPlainText(source.text);
    source.text = textWithCrLf(*fixed.pane->document());
    source.text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    writeSourceFile(out, source);

    const QByteArray saved = readBytes(out);
    check(withLineFeeds(saved) == withLineFeeds(bytes));
    const auto commands = [](const QByteArray &text) {
        return prepareSource(std::string(text.constData(), std::size_t(text.size())));
    };
    check(commands(saved) == commands(bytes));
    return 0;
}
