#include "Ufrm_BrainF_ck.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cerebrix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Cerebrix"));
    Tfrm_BF_IDE frm_BF_IDE;
    frm_BF_IDE.show();
    return application.exec();
}
