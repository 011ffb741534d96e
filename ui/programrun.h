#pragma once

#include "windowstate.h"

#include <utility>

// The program the code pane's text was compiled into, and its run: whether the pane still
// holds the compiled text, the bracket the compile found unpaired, whether a run is going on
// (a plain run, or a leg of the debugged run), and a close of the window waiting for that
// run to end.
class ProgramRun
{
public:
    // A compile finished; faultBracket is the code pane offset of the unpaired bracket it
    // found, -1 when the brackets pair.
    void compiled(int faultBracket)
    {
        m_compiled = true;
        m_faultBracket = faultBracket;
    }
    // The code pane's text changed; whether that ends its being compiled.
    bool codeChanged() { return std::exchange(m_compiled, false); }
    bool isCompiled() const { return m_compiled; }
    // The unpaired bracket of the compiled text, -1 when none or the text changed since.
    int faultBracket() const { return m_compiled ? m_faultBracket : -1; }

    void setRunning(bool running) { m_running = running; }
    bool isRunning() const { return m_running; }

    // The window closes once the run has unwound, never under it.
    void requestClose() { m_closeRequested = true; }
    bool isCloseRequested() const { return m_closeRequested; }

    // What the window is doing when no program is under the debugger.
    WindowState state(bool waitingForInput) const
    {
        if (m_running)
            return waitingForInput ? WindowState::WaitingForInput : WindowState::Running;
        return m_compiled ? WindowState::Compiled : WindowState::Idle;
    }

private:
    bool m_compiled = false;
    int m_faultBracket = -1;
    bool m_running = false;
    bool m_closeRequested = false;
};
