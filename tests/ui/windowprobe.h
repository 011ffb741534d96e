#pragma once

#include "Ufrm_BrainF_ck.h"
#include "console.h"
#include "debugsession.h"
#include "windowdialogs.h"

#include <QString>

#include <cstdint>
#include <utility>

// What tests, benchmarks and fuzzers reach of the window beyond what a user can do: the modal
// hooks they replace, the console hooks the engine calls, and the engine and debugger the
// window holds. Everything else they do through the window's parts, found by object name.
class WindowProbe
{
public:
    // Replace the message box of the error report, the file dialogs and the question about
    // unsaved changes on closing.
    static void setReportError(Tfrm_BF_IDE &window, WindowDialogs::ReportError report)
    {
        window.m_dialogs->setReportError(std::move(report));
    }
    static void setChooseFile(Tfrm_BF_IDE &window, WindowDialogs::ChooseFile choose)
    {
        window.m_dialogs->setChooseFile(std::move(choose));
    }
    static void setAskToSave(Tfrm_BF_IDE &window, WindowDialogs::AskToSave ask)
    {
        window.m_dialogs->setAskToSave(std::move(ask));
    }

    // The engine's console hooks, byte by byte: a run shows its bytes only with the line break
    // that ends it, and shows input only as output, where 10 and 13 look alike. outputText
    // writes pending output to the pane first.
    static void outputByte(Tfrm_BF_IDE &window, std::uint8_t byte) { window.bf_OutChar(byte); }
    static QString outputText(Tfrm_BF_IDE &window) { return window.m_console->text(); }
    static std::uint8_t readInput(Tfrm_BF_IDE &window) { return window.bf_InChar(); }

    // The compiled program and the tape (null before the start-up made the engine), and the
    // program under the debugger (null when there is none).
    static const tBF *engine(const Tfrm_BF_IDE &window) { return window.bf_Engine.get(); }
    static const tDebugger *debugger(const Tfrm_BF_IDE &window)
    {
        return window.m_session->debugger();
    }
    static const DebugSession &session(const Tfrm_BF_IDE &window) { return *window.m_session; }
    static WindowState state(const Tfrm_BF_IDE &window) { return window.windowState(); }
    static bool codeCompiled(const Tfrm_BF_IDE &window) { return window.m_run.isCompiled(); }
};
