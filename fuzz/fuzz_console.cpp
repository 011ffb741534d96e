#include "../tests/ui/windowprobe.h"
#include "Ufrm_BrainF_ck.h"
#include "customwidgets.h"
#include "fuzzsupport.h"
#include "offscreenapp.h"

#include <QString>
#include <QTemporaryDir>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

// Sends arbitrary output bytes through the window's console with small pane limits, once with
// the pane updated after every byte and once in batches: the batched pane must show what the
// byte-by-byte one shows, also when a limit stopped the output, and both must stay within the
// limits. The first two bytes choose the character and line limits.

namespace {

const QString FullLine = QStringLiteral("Programm angehalten: das Ausgabefeld ist voll");

// A folder without configuration files, for the windows.
const QTemporaryDir &noConfiguration()
{
    offscreenApplication();
    static const QTemporaryDir *folder = new QTemporaryDir; // kept until exit
    return *folder;
}

struct Pane
{
    QString text; // with CR LF line breaks
    int blocks = 0;
};

Pane show(const std::uint8_t *bytes, std::size_t size, qsizetype characters, qsizetype lines,
    bool eachByte)
{
    Tfrm_BF_IDE window(noConfiguration().path() + QLatin1Char('/'));
    auto *pane = window.findChild<LimitedTextEdit *>(QStringLiteral("re_outp"));
    pane->setCharacterLimit(characters);
    pane->setLineLimit(lines);
    for (std::size_t i = 0; i < size; ++i) {
        WindowProbe::outputByte(window, bytes[i]);
        if (eachByte)
            WindowProbe::outputText(window);
    }
    return {WindowProbe::outputText(window), pane->document()->blockCount()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2 || size > 4096)
        return 0;
    noConfiguration();
    const qsizetype characters = 20 + 10 * qsizetype(data[0]);
    const qsizetype lines = 4 + qsizetype(data[1]);
    const Pane byByte = show(data + 2, size - 2, characters, lines, true);
    const Pane batched = show(data + 2, size - 2, characters, lines, false);
    FUZZ_CHECK(batched.text == byByte.text);
    for (const Pane &pane : {byByte, batched}) {
        FUZZ_CHECK(pane.text.size() <= characters + 2 * pane.blocks + FullLine.size() + 20);
        FUZZ_CHECK(pane.blocks <= lines + 2);
    }
    return 0;
}
