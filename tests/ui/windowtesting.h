#pragma once

#include "Ufrm_BrainF_ck.h"
#include "designwidgets.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A window built from a fixture configuration folder (tests/ui/data/<name>, or no files at
// all for an empty name), shown on the offscreen screen, with its error reports collected.
struct TestWindow
{
    explicit TestWindow(const QString &fixture = QString())
    {
        Tfrm_BF_IDE::resetOutputState();
        const QString dir = fixture.isEmpty()
            ? m_empty.path() + QLatin1Char('/')
            : QStringLiteral(CEREBRIX_UI_TEST_DATA "/") + fixture + QLatin1Char('/');
        window = std::make_unique<Tfrm_BF_IDE>(dir);
        window->m_reportError = [this](const QString &text) { reports.append(text); };
        window->show();
    }
    Tfrm_BF_IDE *operator->() const { return window.get(); }

    // Puts code into the code pane as typed text and compiles it.
    void compile(const QString &code)
    {
        window->re_code->setPlainText(code);
        window->kn_loadClick();
    }

    QTemporaryDir m_empty;
    std::unique_ptr<Tfrm_BF_IDE> window;
    QStringList reports;
};

// The start-up text of the output pane.
inline QString outputStart()
{
    return QStringLiteral("(Outp)\r\n \r\n");
}
