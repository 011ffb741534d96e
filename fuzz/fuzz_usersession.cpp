#include "../tests/ui/usersession.h"
#include "fuzzsupport.h"
#include "offscreenapp.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Turns the bytes into a sequence of user actions on the real window (each choice takes a
// byte) and checks the invariants of UserSession after every action.

namespace {

struct Folders
{
    QTemporaryDir configuration; // no configuration files: the built-in texts
    QTemporaryDir files; // what the session opens and saves
};

Folders &folders()
{
    static Folders *instance = [] {
        auto *made = new Folders; // kept until exit, like the application
        // Where the debugger window was left is kept there, not in the user's settings.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(made->files.path()));
        offscreenApplication();
        return made;
    }();
    return *instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 400)
        return 0;
    Folders &fixed = folders();
    UserSession::forgetUserChoices();
    Tfrm_BF_IDE window(fixed.configuration.path() + QLatin1Char('/'));
    window.show();
    std::size_t used = 0;
    bool exhausted = false;
    UserSession session(
        window,
        [&](int n) {
            if (used >= size) {
                exhausted = true;
                return 0;
            }
            return int(data[used++] % std::uint8_t(n));
        },
        fixed.files.path());
    while (!exhausted) {
        if (!session.step()) {
            std::fprintf(stderr, "%s\n", qPrintable(session.failure()));
            FUZZ_CHECK(false);
        }
    }
    return 0;
}
