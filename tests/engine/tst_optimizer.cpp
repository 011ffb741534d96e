#include "optimizer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

// The cell ranges the translator gives its guards: a range one cell too narrow lets a block
// run off the tape unnoticed, one too wide sends it to the slow path for nothing.

namespace {

struct GuardRow
{
    const char *name;
    std::string program;
    std::vector<CellRange> guards; // of the Check and Repeat operations, in order
};

// Test listings name the row, not its bytes.
void PrintTo(const GuardRow &row, std::ostream *stream)
{
    *stream << row.name;
}

std::vector<CellRange> guardsOf(const std::string &program)
{
    tBF engine;
    engine.LoadCode(program);
    EXPECT_EQ(engine.MatchBrackets(), ResultOk);
    const std::optional<Program> translated =
        translateProgram(engine.m_code, engine.m_jumps, engine.m_codeLength);
    std::vector<CellRange> guards;
    for (const Op &op : translated->ops) {
        if (op.kind == OpKind::Check || op.kind == OpKind::Repeat)
            guards.push_back(op.cells);
    }
    return guards;
}

class Guards : public testing::TestWithParam<GuardRow>
{ };

TEST_P(Guards, CoverExactlyTheCellsTheBlockReaches)
{
    const std::vector<CellRange> guards = guardsOf(GetParam().program);
    ASSERT_EQ(guards.size(), GetParam().guards.size());
    for (std::size_t i = 0; i < guards.size(); ++i) {
        EXPECT_EQ(guards[i].low, GetParam().guards[i].low) << "guard " << i;
        EXPECT_EQ(guards[i].high, GetParam().guards[i].high) << "guard " << i;
    }
}

const std::string WholeTape(LastCell, '>'); // reaches every cell from cell 0
const std::string OneCellWider(LastCell + 1, '>');
const std::string Wide(70000, '>');

INSTANTIATE_TEST_SUITE_P(Shapes, Guards,
    testing::Values(GuardRow {"PlainAddsNeedNoGuard", "+++.", {}},
        GuardRow {"ClearStaysOnItsCell", "[-]", {}},
        GuardRow {"ClearSteppingOutLeft", "[-<>]", {{-1, 0}}},
        GuardRow {"ClearSteppingOutRight", "[-><]", {{0, 1}}},
        GuardRow {"ClearSteppingTwoOut", "[-<<>>]", {{-2, 0}}},
        GuardRow {"ClearWithCancellingAdd", "[->+-<]", {{0, 1}}},
        GuardRow {"UpClearSteppingOut", "[+>><<]", {{0, 2}}},
        GuardRow {"ClearAfterAMove", ">>[-<<<>>>]", {{-1, 2}}},
        GuardRow {"ClearThenAdd", "[-<>]+++", {{-1, 0}}},
        GuardRow {"MultiplyToTheRight", "[->>+<<]", {{0, 2}}},
        GuardRow {"MultiplyPassingLeft", "[-<<>>>+<]", {{-2, 1}}},
        GuardRow {"MultiplyMany", "[-<+>>++<]", {{-1, 1}}},
        GuardRow {"BlockMovingOut", ">>>+<", {{0, 3}}},
        GuardRow {"MovesThatCancel", "><<>.", {{-1, 1}}},
        GuardRow {"RepeatMovingRight", "[->+>]", {{0, 2}}},
        GuardRow {"RepeatWithClearOut", "[<[-<>]>-]", {{-2, 0}}},
        GuardRow {"RepeatWithMultiplyOut", "[>[->+<]<-]", {{0, 2}}},
        GuardRow {"LoopBodyBlocks", "[.<[-<>]>]", {{-2, 0}}},
        GuardRow {"SpanningTheWholeTape", WholeTape + "+", {{0, LastCell}}},
        GuardRow {"OneCellWiderThanTheTape", OneCellWider + "+", {Nowhere}},
        GuardRow {"WiderThanTheTape", Wide + "+", {Nowhere}}),
    [](const testing::TestParamInfo<GuardRow> &row) { return row.param.name; });

struct FitsRow
{
    const char *name;
    std::int32_t dataPointer;
    CellRange range;
    bool fits;
};

// Test listings name the row, not its bytes.
void PrintTo(const FitsRow &row, std::ostream *stream)
{
    *stream << row.name;
}

class Fits : public testing::TestWithParam<FitsRow>
{ };

TEST_P(Fits, AtTheTapeEnds)
{
    EXPECT_EQ(fits(GetParam().dataPointer, GetParam().range), GetParam().fits);
}

INSTANTIATE_TEST_SUITE_P(Edges, Fits,
    testing::Values(FitsRow {"FirstCell", 0, {0, 0}, true},
        FitsRow {"OneBelowTheFirst", 0, {-1, 0}, false},
        FitsRow {"DownToTheFirst", 1, {-1, 0}, true}, FitsRow {"LastCell", LastCell, {0, 0}, true},
        FitsRow {"OneAboveTheLast", LastCell, {0, 1}, false},
        FitsRow {"UpToTheLast", LastCell - 1, {0, 1}, true},
        FitsRow {"WholeTape", 0, {0, LastCell}, true},
        FitsRow {"WholeTapeOneOff", 1, {0, LastCell}, false},
        FitsRow {"NowhereAtTheStart", 0, Nowhere, false},
        FitsRow {"NowhereInTheMiddle", 32767, Nowhere, false},
        FitsRow {"NowhereAtTheEnd", LastCell, Nowhere, false}),
    [](const testing::TestParamInfo<FitsRow> &row) { return row.param.name; });

} // namespace
