#pragma once

#include "u_Brainfuck.h"

#include <optional>

// Runs the loaded program on the optimised path when no host can tell it from the
// exact one: the idle hook is the engine's default, or the host declared it coarse
// (m_idleInterval > 1; it is then called at least once every m_idleInterval work units).
// Expects Run's set-up (fresh tape, pointers at their start). Returns nothing, having
// changed nothing, when the exact path must run instead: a per-command idle hook, brackets
// not all paired, or an idle interval too short for the program's longest straight stretch.
std::optional<int> runOptimised(tBF &engine);

// Whether hook is the do-nothing idle hook that the constructor installs.
bool isDefaultIdleHook(const tIdleHook &hook);
