#include "Ufrm_BrainF_ck.h"
#include "processsetup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    prepareProcess();
    QApplication application(argc, argv);
    // The name titles the error report. No display name is set: Qt would append it to the
    // window's own caption.
    QApplication::setApplicationName(QStringLiteral("Cerebrix"));
    Tfrm_BF_IDE frm_BF_IDE;
    frm_BF_IDE.show();
    return application.exec();
}
