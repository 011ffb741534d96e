#include "processsetup.h"

#include <QByteArray>

void prepareProcess()
{
    // Read once, at the first match of any regular expression. Patterns here are short file
    // filters, for which the interpreter is as fast.
    qputenv("QT_ENABLE_REGEXP_JIT", QByteArrayLiteral("0"));
}
