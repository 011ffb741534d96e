#pragma once

#include "loopanalysis.h"
#include "optimizer.h"

// The work units a coarse idle hook counts. A unit is one command run one by one; a loop run
// as a whole counts its real cost (a few units, plus one per round it ran one by one or per
// cell a scan looked at), not the commands it stands for.

// The most units that may wait, uncounted, for the "]" of the loops the run is in: a loop's
// boundaries other than its "]" add theirs to the "]"'s, which tests the budget once a round.
inline constexpr std::int64_t DeferredCost = 256;

// The cells a scan of stride may pass without spending them as it goes, counted with the
// Scan's own units: machine code takes its first four steps so.
inline constexpr std::int64_t scanPrepaidCells(std::int32_t stride)
{
    return 4 * (stride < 0 ? -std::int64_t {stride} : stride);
}

// Fills program's costs (the units each boundary and Checkpoint adds), the round cost of
// its Repeat loops and the largest count the hook's counter can grow by between two tests.
void countIdleCosts(Program &program, const ProgramPlan &plan);

// Fills program's counts and entries for a counting translation of a program of length
// commands: which commands each operation stands for follows from the positions alone, since
// every operation that ends a run of plain commands (a transfer, a folded loop, a loop
// bracket, a Checkpoint or Stop, the End) comes in the order of its commands.
void countCommands(Program &program, const ProgramPlan &plan, std::int32_t length);
