#include "u_Brainfuck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>

namespace {

// One distinct word per slot, so that a line taking the wrong slot shows it.
MnemonicTable distinctWords()
{
    return {"", "P", "M", "R", "L", "O", "I", "[", "]", "Z", "T", "S", "@"};
}

std::string crlfLines(std::initializer_list<const char *> lines)
{
    std::string text;
    for (const char *line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string listingOf(const std::string &program, const MnemonicTable &words)
{
    tBF engine;
    engine.m_mnemonics = words;
    engine.LoadCode(program);
    return engine.Disassemble();
}

struct ListingCase
{
    const char *name;
    const char *program;
    std::string expected;
};

void PrintTo(const ListingCase &c, std::ostream *os)
{
    *os << c.program;
}

std::string caseName(const testing::TestParamInfo<ListingCase> &row)
{
    return row.param.name;
}

class ListingWithWords : public testing::TestWithParam<ListingCase>
{ };

TEST_P(ListingWithWords, MatchesExpectedLines)
{
    EXPECT_EQ(listingOf(GetParam().program, distinctWords()), GetParam().expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Listing, ListingWithWords, testing::Values(
    ListingCase{"EmptyProgram", "", ""},
    ListingCase{"CommentsOnly", "no commands here\r\n", ""},
    ListingCase{"TransferAfterRun", "++[->+<]>.", crlfLines({" P2", " T1", " R1", " O"})},
    ListingCase{"NestedClearAndScaledTransfer", "+[>[-]<-[->>++<<]],",
                crlfLines({" P", " [", "   R1", "   Z", "   L1", "   M", "   S*2 @+2", " ]", " I"})},
    ListingCase{"SingleRight", ">", crlfLines({" R1"})},
    ListingCase{"SinglePlus", "+", crlfLines({" P"})},
    ListingCase{"ThreeLeft", "<<<", crlfLines({" L3"})},
    ListingCase{"MinusRun", "---", crlfLines({" M3"})},
    ListingCase{"OutputRun", "...", crlfLines({" O*3"})},
    ListingCase{"InputRun", ",,,", crlfLines({" I*3"})},
    ListingCase{"SingleInput", ",", crlfLines({" I"})},
    ListingCase{"ClearLoop", "[-]", crlfLines({" Z"})},
    ListingCase{"PlusLoopIsNoClear", "[+]", crlfLines({" [", "   P", " ]"})},
    ListingCase{"DoubleMinusLoopIsNoClear", "[--]", crlfLines({" [", "   M2", " ]"})},
    ListingCase{"OpenMinusAtEnd", "[-", crlfLines({" [", "   M"})},
    ListingCase{"RunsStopAtBrackets", "+[+]+", crlfLines({" P", " [", "   P", " ]", " P"})},
    ListingCase{"TransferRight", "[->+<]", crlfLines({" T1"})},
    ListingCase{"TransferLeft", "[-<+>]", crlfLines({" T-1"})},
    ListingCase{"TransferLeftDecrementLast", "[<+>-]", crlfLines({" T-1"})},
    ListingCase{"TransferRightDecrementLast", "[>+<-]", crlfLines({" T1"})},
    ListingCase{"TransferTwoCells", "[->>+<<]", crlfLines({" T2"})},
    ListingCase{"ScaledByTwo", "[->++<]", crlfLines({" S*2 @+1"})},
    ListingCase{"DividedByTwo", "[-->+<]", crlfLines({" S*1/2 @+1"})},
    ListingCase{"DividedByTwoDecrementLast", "[>+<--]", crlfLines({" S*1/2 @+1"})},
    ListingCase{"SubtractRight", "[->-<]", crlfLines({" S*-1 @+1"})},
    ListingCase{"SubtractRightDecrementLast", "[>-<-]", crlfLines({" S*-1 @+1"})},
    ListingCase{"SubtractLeftDecrementLast", "[<->-]", crlfLines({" S*-1 @-1"})},
    ListingCase{"SubtractLeft", "[-<->]", crlfLines({" S*-1 @-1"})},
    ListingCase{"ScaledAllRunsLong", "[---<<<++++>>>]", crlfLines({" S*4/3 @-3"})},
    ListingCase{"UnequalMovesNotFolded", "[->>+<]",
                crlfLines({" [", "   M", "   R2", "   P", "   L1", " ]"})},
    ListingCase{"NestedIndentation", "[[+]]", crlfLines({" [", "   [", "     P", "   ]", " ]"})},
    ListingCase{"TransferInsideLoop", "[[->+<]>]", crlfLines({" [", "   T1", "   R1", " ]"})},
    ListingCase{"AdjacentTransfers", "[->+<][-<+>]", crlfLines({" T1", " T-1"})},
    ListingCase{"UnclosedOpenIndentsRest", "+[+[-]>", crlfLines({" P", " [", "   P", "   Z", "   R1"})},
    ListingCase{"UnmatchedCloseStaysOutermost", "]+", crlfLines({" ]", " P"})},
    ListingCase{"UnmatchedClosesThenLoop", "+]][+]", crlfLines({" P", " ]", " ]", " [", "   P", " ]"})},
    ListingCase{"BalancedThenExtraClose", "[[+]]]+", crlfLines({" [", "   [", "     P", "   ]", " ]", " ]", " P"})}
), caseName);
// clang-format on

class ListingWithoutWords : public testing::TestWithParam<ListingCase>
{ };

TEST_P(ListingWithoutWords, ShowsOnlyNumbersAndSymbols)
{
    EXPECT_EQ(listingOf(GetParam().program, MnemonicTable {}), GetParam().expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Listing, ListingWithoutWords, testing::Values(
    ListingCase{"TransferAfterRun", "++[->+<]>.", " 2\r\n 1\r\n 1\r\n \r\n"},
    ListingCase{"NestedClearAndScaledTransfer", "+[>[-]<-[->>++<<]],",
                crlfLines({" ", " ", "   1", "   ", "   1", "   ", "   *2 +2", " ", " "})},
    ListingCase{"DividedSubtractLeft", "[<->--]", crlfLines({" *-1/2 -1"})}
), caseName);
// clang-format on

TEST(Listing, EmptyBeforeAnyProgramIsLoaded)
{
    const tBF engine;
    EXPECT_EQ(engine.Disassemble(), "");
}

TEST(Listing, NestingDeeperThan127LevelsStandsAtTheDeepestIndentation)
{
    constexpr int depth = 130;
    const std::string program = std::string(depth, '[') + "+" + std::string(depth, ']');
    const std::string listing = listingOf(program, distinctWords());

    const auto indentation = [](int level) {
        return std::string(static_cast<std::size_t>(std::min(1 + 2 * level, 255)), ' ');
    };
    std::string expected;
    for (int level = 0; level < depth; ++level)
        expected += indentation(level) + "[\r\n";
    expected += indentation(depth) + "P\r\n";
    for (int level = depth - 1; level >= 0; --level)
        expected += indentation(level) + "]\r\n";
    EXPECT_EQ(listing, expected);
}

TEST(Listing, BuiltOnlyWithinItsLimit)
{
    tBF engine;
    engine.LoadCode("[[-]>+++<]");
    const std::string whole = engine.Disassemble();
    EXPECT_EQ(engine.disassembleWithin(whole.size()), whole);
    EXPECT_EQ(engine.disassembleWithin(whole.size() - 1), std::nullopt);
    EXPECT_EQ(engine.disassembleWithin(0), std::nullopt);

    int lines = 0;
    EXPECT_FALSE(engine.writeListing([&](std::string_view) { return ++lines < 2; }));
    EXPECT_EQ(lines, 2) << "lines handed over after the consumer stopped";
}

// Golden files lie beside this source; __FILE__ names it with its full path.
const std::filesystem::path goldenFolder = std::filesystem::path(__FILE__).parent_path() / "data";

std::string readBytes(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ListingGolden : public testing::TestWithParam<const char *>
{ };

std::string fileName(const testing::TestParamInfo<const char *> &row)
{
    return row.param;
}

TEST_P(ListingGolden, MatchesFileByteForByte)
{
    const std::filesystem::path program = goldenFolder / (std::string(GetParam()) + ".b");
    const std::filesystem::path listing = goldenFolder / (std::string(GetParam()) + ".lst");
    ASSERT_TRUE(std::filesystem::exists(program)) << program;
    ASSERT_TRUE(std::filesystem::exists(listing)) << listing;
    EXPECT_EQ(listingOf(readBytes(program), distinctWords()), readBytes(listing));
}

INSTANTIATE_TEST_SUITE_P(
    Listing, ListingGolden, testing::Values("hello", "transfers", "unbalanced"), fileName);

} // namespace
