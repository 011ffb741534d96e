#pragma once

#include <QApplication>

// The one application object of a fuzz target that needs widgets, on the offscreen platform,
// made at the first call and kept for the life of the process.
inline QApplication &offscreenApplication()
{
    static int argc = 1;
    static char name[] = "cerebrix-fuzz";
    static char *argv[] = {name, nullptr};
    static QApplication *application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv); // lives until exit, as the widgets expect
    }();
    return *application;
}
