#include "enginecheck.h"
#include "sanitizers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <random>
#include <string>

// Every loop shape the optimiser folds, started at and next to both tape ends, with and
// without data wrap: the optimised path and a coarse idle hook must leave exactly what the
// exact path leaves.

namespace {

using Random = std::mt19937;

int pick(Random &random, int count)
{
    return std::uniform_int_distribution<int>(0, count - 1)(random);
}

std::string repeated(char command, int count)
{
    return std::string(static_cast<std::size_t>(count), command);
}

// A walk away from the loop's cell and back: the cells it passes are part of what the loop
// touches, even where it adds nothing. Adds that cancel may stand on the way.
std::string excursion(Random &random)
{
    const char away = pick(random, 2) == 0 ? '<' : '>';
    const char back = away == '<' ? '>' : '<';
    const int steps = 1 + pick(random, 3);
    std::string walk = repeated(away, steps);
    if (pick(random, 3) == 0)
        walk += "+-";
    return walk + repeated(back, steps);
}

// Adds factor at offset (relative to the loop's cell) and comes back.
std::string term(int offset, int factor)
{
    const char away = offset < 0 ? '<' : '>';
    const char back = offset < 0 ? '>' : '<';
    return repeated(away, std::abs(offset)) + repeated('+', factor) +
        repeated(back, std::abs(offset));
}

int offsetOf(Random &random)
{
    const int distance = 1 + pick(random, 3);
    return pick(random, 2) == 0 ? -distance : distance;
}

std::string step(Random &random)
{
    return pick(random, 4) == 0 ? "+" : "-";
}

// program, or half the time its mirror image (every move the other way).
std::string mirrored(Random &random, std::string program)
{
    if (pick(random, 2) == 0) {
        for (char &command : program)
            command = command == '<' ? '>' : command == '>' ? '<' : command;
    }
    return program;
}

struct Shape
{
    const char *name;
    std::function<std::string(Random &)> make;
};

// Test listings name the row, not its bytes.
void PrintTo(const Shape &row, std::ostream *stream)
{
    *stream << row.name;
}

const Shape Shapes[] = {
    {"Clear", [](Random &r) { return "[" + step(r) + "]"; }},
    {"ClearOutAndBack",
        [](Random &r) {
            const std::string walk = excursion(r);
            return pick(r, 2) == 0 ? "[" + step(r) + walk + "]" : "[" + walk + step(r) + "]";
        }},
    {"MultiplyOneTerm",
        [](Random &r) { return "[" + step(r) + term(offsetOf(r), 1 + pick(r, 3)) + "]"; }},
    {"MultiplyManyTerms",
        [](Random &r) {
            return "[" + term(-1 - pick(r, 2), 1 + pick(r, 3)) + step(r) + term(1 + pick(r, 2), 2) +
                "]";
        }},
    {"MultiplyOutAndBack",
        [](Random &r) { return "[" + step(r) + excursion(r) + term(offsetOf(r), 1) + "]"; }},
    {"Scan",
        [](Random &r) {
            return "[" + repeated(pick(r, 2) == 0 ? '<' : '>', 1 + pick(r, 3)) + "]";
        }},
    {"RepeatMoving",
        [](Random &r) {
            const int shift = offsetOf(r);
            return "[-" + term(offsetOf(r), 1) + repeated(shift < 0 ? '<' : '>', std::abs(shift)) +
                "]";
        }},
    // A row of marked cells walked by a moving loop up to the cells before it: its rounds
    // after the first test the tape at the end they move towards.
    {"RepeatMovingAlong",
        [](Random &r) {
            const int stride = 1 + pick(r, 3);
            const int cells = 3 + pick(r, 10);
            std::string marks;
            for (int i = 0; i < cells; ++i)
                marks += "+" + repeated('>', stride);
            const std::string back = repeated('<', stride * cells);
            return mirrored(
                r, back + marks + back + "[-" + term(offsetOf(r), 1) + repeated('>', stride) + "]");
        }},
    {"RepeatWithFoldedLoops",
        [](Random &r) {
            const int side = offsetOf(r);
            return "[" + repeated(side < 0 ? '<' : '>', std::abs(side)) + "[-" + excursion(r) +
                "]" + repeated(side < 0 ? '>' : '<', std::abs(side)) + "[-" + term(offsetOf(r), 1) +
                "]" + "+" + excursion(r) + "-]";
        }},
    {"RepeatCollapsing",
        [](Random &r) {
            return "[" + step(r) + term(offsetOf(r), 1 + pick(r, 2)) + ">[-]+" + excursion(r) +
                "<]";
        }},
    // Loops in place running many rounds: machine code holds their cells in registers and,
    // past eight rounds, collapses those whose states settle; rotating states never settle.
    {"RepeatCollapsingLong",
        [](Random &r) {
            return "[-]" + repeated('+', 9 + pick(r, 200)) + "[" + step(r) +
                term(offsetOf(r), 1 + pick(r, 2)) + ">[-]+" + excursion(r) + "<]";
        }},
    // Rounds that all do the same: states set from constants (a product of them, or not),
    // sums stepped by constants; machine code solves them without running one.
    {"RepeatConstantRounds",
        [](Random &r) {
            const std::string product = "[-" + term(1, 1 + pick(r, 3)) + "]";
            const std::string state = ">[-]" + repeated('+', 1 + pick(r, 3)) + product +
                (pick(r, 2) == 0 ? ">[-]<" : "") + "<";
            return mirrored(r,
                "[" + step(r) + term(-1 - pick(r, 2), 1 + pick(r, 3)) + state +
                    (pick(r, 2) == 0 ? excursion(r) : "") + "]");
        }},
    {"RepeatRotatingStates",
        [](Random &r) {
            return mirrored(r,
                "[-]" + repeated('+', 9 + pick(r, 40)) + "[->[->>>+<<<]>[-<+>]>[-<+>]>[-<+>]<<<<]");
        }},
    // A row of marked cells, then a scan along it, four cells per bound test in machine code.
    {"LongScan",
        [](Random &r) {
            const int stride = 1 + pick(r, 3);
            const int cells = 5 + pick(r, 40); // past a vector of 16 cells at times
            std::string marks;
            for (int i = 0; i < cells; ++i)
                marks += repeated('>', stride) + "+";
            return mirrored(
                r, marks + repeated('<', stride * cells) + "+[" + repeated('>', stride) + "]");
        }},
    // Loops holding loops that come back to their cell: those whose other cells come out of
    // a round as they went in settle at once, the counter's step (odd or even, which may never
    // reach zero) solved at the cells' width; an inner loop reading a growing sum never settles.
    {"NestSettling",
        [](Random &r) {
            if (pick(r, 3) == 0) {
                return mirrored(r,
                    "[-]" + repeated('+', 9 + pick(r, 40)) + "[->+>[-]<[->+>[-]+<<]>[-<+>]<<" +
                        step(r) + "+]");
            }
            const int side = offsetOf(r);
            const std::string to = repeated(side < 0 ? '<' : '>', std::abs(side));
            const std::string back = repeated(side < 0 ? '>' : '<', std::abs(side));
            // Half the counters step down to zero without wrapping, which wide cells reach too.
            const int stepSize = 1 + pick(r, 3);
            const bool exact = pick(r, 2) == 0;
            const std::string counter = repeated(exact || pick(r, 2) == 0 ? '-' : '+', stepSize);
            const int start = exact ? stepSize * (3 + pick(r, 60)) : 9 + pick(r, 200);
            const std::string inner = pick(r, 2) == 0 ? "[-" + excursion(r) + "]" : "[-]";
            return "[-]" + repeated('+', start) + "[" + counter + to +
                repeated('+', 1 + pick(r, 3)) + "[-" + excursion(r) + inner + "+" + excursion(r) +
                "-]" + back + term(offsetOf(r), 1 + pick(r, 3)) + "]";
        }},
    // Loops and blocks that touch no cell above the pointer, in place or walking down: machine
    // code tests them at the low end of the tape alone.
    {"CellsBelowThePointer",
        [](Random &r) {
            const int depth = 1 + pick(r, 3);
            return repeated('<', pick(r, 2)) + "[" + step(r) + repeated('<', depth) + "+" +
                repeated('>', depth) + repeated('<', pick(r, 3)) + "]<[-<+>]" +
                repeated('<', 1 + pick(r, 2)) + "[<<]";
        }},
    // A walk whose round holds loops solved at once: the block before the first tests their
    // cells and those of the blocks after them (none at times) for all.
    {"WalkHoldingASolvedLoop",
        [](Random &r) {
            const int side = offsetOf(r);
            const auto solved = [&r] {
                return "[" + step(r) + term(offsetOf(r), 1 + pick(r, 3)) + ">[-]" +
                    repeated('+', 1 + pick(r, 3)) + "<]";
            };
            // At times a second one beside it, which the same test covers.
            const std::string inner = solved() + (pick(r, 2) == 0 ? ">" + solved() + "<" : "");
            const std::string back = pick(r, 3) == 0
                ? ""
                : repeated(side < 0 ? '>' : '<', std::abs(side) + 1 + pick(r, 2));
            return mirrored(r,
                "+>+>+<<[" + repeated(side < 0 ? '<' : '>', std::abs(side)) + inner + back + "]");
        }},
    {"LoopWithOutput",
        [](Random &r) { return "[." + excursion(r) + "-" + repeated('<', pick(r, 2)) + "]"; }},
    {"NestedLoops",
        [](Random &r) {
            const int side = offsetOf(r);
            return "[" + repeated(side < 0 ? '<' : '>', std::abs(side)) + "[" + step(r) +
                excursion(r) + ".]" + repeated(side < 0 ? '>' : '<', std::abs(side)) + "-]";
        }},
    {"LongStraightBlock", // long enough for a coarse idle hook's checkpoints
        [](Random &r) {
            std::string block;
            for (int i = 0; i < 6000; ++i)
                block += "+>-<";
            return block + excursion(r) + "[" + step(r) + excursion(r) + "]";
        }},
};

class ShapeAtTheEnds : public testing::TestWithParam<Shape>
{ };

TEST_P(ShapeAtTheEnds, AllPathsAgree)
{
    const Shape &shape = GetParam();
    Random random(std::hash<std::string> {}(shape.name));
    // The sanitizers look for memory faults, for which half the programs do.
    constexpr int Rounds = SanitizedBuild ? 4 : 8;
    int compared = 0;
    int faulted = 0;
    for (int round = 0; round < Rounds; ++round) {
        // The first rounds on the default tape, the others in a dialect each.
        const tDialect dialect =
            round < Rounds / 3 + 1 ? tDialect {} : dialectFor(1 + pick(random, 1000));
        for (const bool lowEnd : {true, false}) {
            for (int distance = 0; distance <= 2; ++distance) {
                for (const bool dataWrap : {true, false}) {
                    Case test;
                    test.dataWrap = dataWrap;
                    test.dialect = dialect;
                    test.budget = 300000;
                    test.input = "\x03\x02";
                    test.handOverAfter = pick(random, 8) - 1; // -1: by the program's size
                    test.program = towardEnd(dialect, lowEnd, distance) +
                        repeated('+', 1 + pick(random, 4)) + shape.make(random) + "." +
                        repeated(lowEnd ? '<' : '>', pick(random, 3)) + "," + shape.make(random) +
                        ".";
                    const Outcome exact = run(test, Path::Exact);
                    if (!exact.finished)
                        continue;
                    SCOPED_TRACE(shownPart(test.program) + (dataWrap ? " (wrap, " : " (no wrap, ") +
                        describe(dialect) + ")");
                    expectPlainPathsAgree(exact, test);
                    for (const Path path : CoarsePaths) {
                        expectSame(exact, run(test, path, 64));
                        expectSame(exact, run(test, path, 1 << 16));
                    }
                    ++compared;
                    faulted += exact.result != ResultOk;
                    if (HasFailure())
                        return;
                }
            }
        }
    }
    EXPECT_GT(compared, Rounds * 6) << "too few programs ended within the budget";
    EXPECT_GT(faulted, 0) << "no program reached past a tape end";
}

INSTANTIATE_TEST_SUITE_P(Shapes, ShapeAtTheEnds, testing::ValuesIn(Shapes),
    [](const testing::TestParamInfo<Shape> &shape) { return shape.param.name; });

// A scan tests its bound once per group of steps: along a row of marks that runs into a tape
// end, every alignment of the groups with that end.
TEST(ScanGroups, MeetTheTapeEndsAtEveryAlignment)
{
    int faulted = 0;
    for (const bool lowEnd : {true, false}) {
        const char away = lowEnd ? '>' : '<';
        const char toward = lowEnd ? '<' : '>';
        // Vectors, groups of four steps and of eight.
        for (const int stride : {1, 2, 3, 4}) {
            std::string marks;
            for (int i = 0; i < 24; ++i)
                marks += "+" + repeated(away, stride);
            for (int distance = 0; distance < 8 * stride; ++distance) {
                for (const bool dataWrap : {true, false}) {
                    Case test;
                    test.dataWrap = dataWrap;
                    test.budget = 300000;
                    test.program = towardEnd(tDialect {}, lowEnd, distance) + marks +
                        repeated(toward, stride) + "[" + repeated(toward, stride) + "].";
                    const Outcome exact = run(test, Path::Exact);
                    SCOPED_TRACE(std::to_string(stride) + " from " + std::to_string(distance) +
                        (dataWrap ? " (wrap)" : " (no wrap)"));
                    expectPlainPathsAgree(exact, test);
                    // A budget beyond the tape's length, and one that bounds the scan.
                    for (const std::int32_t interval : {1 << 16, 1000}) {
                        for (const Path path : CoarsePaths)
                            expectSame(exact, run(test, path, interval));
                    }
                    faulted += exact.result != ResultOk;
                    if (HasFailure())
                        return;
                }
            }
        }
    }
    EXPECT_GT(faulted, 0) << "no scan passed a tape end";
}

// A scan may stop at any step of its first steps, its groups and its vectors: along rows of
// every length up to past two vectors, in the middle of the tape, with a budget beyond any
// scan (the tape ends bound it) and one within a scan (the budget's end does).
TEST(ScanGroups, StopAtEveryStep)
{
    for (const int stride : {1, -1, 2, -2, 3, -3, 4, -4, 9}) {
        const std::string step = repeated(stride > 0 ? '>' : '<', std::abs(stride));
        const std::string back = repeated(stride > 0 ? '<' : '>', std::abs(stride));
        for (int marks = 0; marks <= 34; ++marks) {
            Case test;
            test.program = "";
            for (int i = 0; i < marks; ++i)
                test.program += "+" + step;
            for (int i = 0; i < marks; ++i)
                test.program += back;
            test.program += "[" + step + "]+";
            const Outcome exact = run(test, Path::Exact);
            SCOPED_TRACE(std::to_string(marks) + " marks at stride " + std::to_string(stride));
            expectPlainPathsAgree(exact, test);
            for (const std::int32_t interval : {1000, 1 << 20}) {
                for (const Path path : CoarsePaths)
                    expectSame(exact, run(test, path, interval));
            }
            if (HasFailure())
                return;
        }
    }
}

// Programs that once ran differently on the optimised path: clear loops that step out and
// back were taken for a plain clear of their cell.
struct FaultRow
{
    const char *name;
    std::string program;
    bool dataWrap;
    int result;
    std::string output;
};

// Test listings name the row, not its bytes.
void PrintTo(const FaultRow &row, std::ostream *stream)
{
    *stream << row.name;
}

class FoundFaults : public testing::TestWithParam<FaultRow>
{ };

TEST_P(FoundFaults, RunAsTheExactPathRunsThem)
{
    const FaultRow &row = GetParam();
    Case test;
    test.program = row.program;
    test.dataWrap = row.dataWrap;
    test.budget = 5000000;
    const Outcome exact = run(test, Path::Exact);
    ASSERT_TRUE(exact.finished);
    EXPECT_EQ(exact.result, row.result);
    EXPECT_EQ(exact.output, row.output);
    expectPlainPathsAgree(exact, test);
    for (const Path path : CoarsePaths)
        expectSame(exact, run(test, path, 1 << 16));
}

INSTANTIATE_TEST_SUITE_P(Programs, FoundFaults,
    testing::Values(FaultRow {"ClearStepsBelowTheTape", repeated('<', 32767) + "+[-<>]", false,
                        ResultBelowDataArea, ""},
        FaultRow {"ClearWrapsToCellOne", repeated('<', 32767) + "[]++[-<>][]<.", true, ResultOk,
            std::string(1, '\x01')},
        FaultRow {
            "ClearInAMovingLoop", "+[[-<<>>][.]<++++].", true, ResultOk, std::string(1, '\0')}),
    [](const testing::TestParamInfo<FaultRow> &row) { return row.param.name; });

} // namespace
