#pragma once

#include <cstddef>

// What the window is doing. Every command's enabled state and every key's effect follow from
// it through one table (commandEffect).
enum class WindowState {
    Idle, // the code pane's text is not compiled (or changed since)
    Compiled, // the code pane's text is compiled
    Running, // a plain run
    WaitingForInput, // a plain run waits for an input entry
    DebugPaused, // a program under the debugger stands before a command
    DebugRunning, // a leg of the debugged run is going on
    DebugWaiting, // the debugged run waits for an input entry
    DebugEnded, // the debugged run ended (its history may still be stepped back through)
    DebugEdited, // the code changed under a paused or ended debugged run
};
inline constexpr std::size_t WindowStateCount = 9;

// The window's commands, each a button, menu item or key.
enum class WindowCommand {
    Compile,
    Run,
    Disassemble,
    Break,
    Continue, // F5
    Pause,
    Stop, // Shift+F5
    RunToCaret, // Ctrl+F10
    ToggleBreakpoint, // F9
    StepInto, // F11
    StepOver, // F10
    StepOut, // Shift+F11
    StepBack,
    Reverse,
};
inline constexpr std::size_t WindowCommandCount = 14;

// What a command does in a state.
enum class CommandEffect {
    None, // disabled
    Acts, // does its work on what is there
    StartsAfresh, // compiles the code and starts it under the debugger, ending any debugged run
    WhenCompiled, // enabled while the code is as compiled; it waits for the run to end
};

// The effect of command in state.
CommandEffect commandEffect(WindowState state, WindowCommand command);
// Whether command is enabled in state; codeCompiled says whether the code is as compiled.
bool isCommandEnabled(WindowState state, WindowCommand command, bool codeCompiled);
