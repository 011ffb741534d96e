#pragma once

#include "enginehost.h"

// GoogleTest checks over the engine host's runs.

// Expects another run to look to a host as the exact run does (differenceBetween).
void expectSame(const Outcome &exact, const Outcome &other);

// Runs test on every plain path and expects each to look as the exact run does.
void expectPlainPathsAgree(const Outcome &exact, const Case &test);
