#include "windowstate.h"

#include <array>
#include <string_view>

namespace {

// One row per command (in the order of WindowCommand), one column per state (in the order of
// WindowState): '.' none, 'a' acts, 's' starts afresh, 'c' when compiled.
//                                              Idle   Run   DbgPaused DbgWait DbgEdited
//                                              | Compiled | Wait | DbgRun | DbgEnded
constexpr std::array<std::string_view, WindowCommandCount> Effects = {
    "aa..a..aa", // Compile
    ".accacca.", // Run: ends a debugged run, then runs
    ".accacca.", // Disassemble
    "..aa.aa..", // Break
    "ss..a..ss", // Continue
    ".....aa..", // Pause
    "....aaaaa", // Stop
    "ss..a..ss", // RunToCaret
    "aa..a..aa", // ToggleBreakpoint
    "ss..a..ss", // StepInto
    "ss..a..ss", // StepOver
    "....a....", // StepOut
    "....a..a.", // StepBack
    "....a..a.", // Reverse
};
constexpr bool rowsComplete()
{
    for (const std::string_view row : Effects) {
        if (row.size() != WindowStateCount)
            return false;
    }
    return true;
}
static_assert(rowsComplete(), "one column per state");

} // namespace

CommandEffect commandEffect(WindowState state, WindowCommand command)
{
    switch (Effects[std::size_t(command)][std::size_t(state)]) {
    case 'a': return CommandEffect::Acts;
    case 's': return CommandEffect::StartsAfresh;
    case 'c': return CommandEffect::WhenCompiled;
    default: return CommandEffect::None;
    }
}

bool isCommandEnabled(WindowState state, WindowCommand command, bool codeCompiled)
{
    const CommandEffect effect = commandEffect(state, command);
    return effect == CommandEffect::WhenCompiled ? codeCompiled : effect != CommandEffect::None;
}
