#include "naming.h"
#include "sourceprep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct PrepCase
{
    const char *name;
    std::string text;
    std::string source;
};

class SourcePreparation : public testing::TestWithParam<PrepCase>
{ };

TEST_P(SourcePreparation, TrimsCutsAndJoins)
{
    EXPECT_EQ(prepareSource(GetParam().text), GetParam().source);
}

// The map names, in order, the characters of the commands that compiling keeps.
TEST_P(SourcePreparation, MapsEveryKeptCommandToItsCharacter)
{
    const std::string &text = GetParam().text;
    std::string kept;
    for (const char c : prepareSource(text)) {
        if (std::string_view("+-<>.,[]").find(c) != std::string_view::npos)
            kept.push_back(c);
    }
    const SourceMap map = mapSource(text);
    std::string mapped;
    for (const std::size_t offset : map.commands)
        mapped.push_back(text.at(offset));
    EXPECT_EQ(mapped, kept);
    EXPECT_TRUE(std::is_sorted(map.commands.begin(), map.commands.end()));
}

struct MapCase
{
    const char *name;
    std::string text;
    std::vector<std::size_t> commands;
    std::vector<std::size_t> marks;
};

class SourceMapping : public testing::TestWithParam<MapCase>
{ };

TEST_P(SourceMapping, GivesTheOffsetsOfCommandsAndMarks)
{
    const SourceMap map = mapSource(GetParam().text);
    EXPECT_EQ(map.commands, GetParam().commands);
    EXPECT_EQ(map.marks, GetParam().marks);
}

INSTANTIATE_TEST_SUITE_P(Table, SourceMapping,
    testing::Values(MapCase {"CommentCutHidesMarks", "+#;#-", {0}, {1}},
        MapCase {"OffsetsCountLineBreaks", "+\r\n  -\n#.", {0, 5, 8}, {7}},
        MapCase {"TrimmedLinesKeepTheirOffsets", " \t[ x ]\t", {2, 6}, {}},
        MapCase {"NothingKept", "; #+", {}, {}}),
    RowName);

INSTANTIATE_TEST_SUITE_P(Table, SourcePreparation,
    testing::Values(
        PrepCase {"TrimThenCutKeepsInnerBlank", "+++ ;word\r\n  >[-]<  ;;word", "+++ >[-]<  "},
        PrepCase {"CommentLineGivesNothing", "; only a comment\r\n;another", ""},
        PrepCase {"LoneLineFeeds", "+\n-\n", "+-"},
        PrepCase {"LoneCarriageReturns", "+\r-\r", "+-"},
        PrepCase {"MixedBreaks", "a\r\n\r\nb\n\rc", "abc"},
        PrepCase {"ControlCharactersTrimmedAtTheEnds", std::string("\t\x01+\x1f\x02", 5), "+"},
        PrepCase {"TrimComesBeforeTheCut", "\t+ \x1f;x ", "+ \x1f"},
        PrepCase {"SemicolonInsideCommandsCuts", "+;+\r\n-", "+-"},
        PrepCase {"HighBytesKept", "\xe9+\xe9", "\xe9+\xe9"}, PrepCase {"EmptyText", "", ""},
        PrepCase {"NoFinalBreak", "  +  ", "+"}),
    RowName);

} // namespace
