#include "sourceprep.h"

#include <gtest/gtest.h>

#include <string>

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
    [](const auto &row) { return std::string(row.param.name); });

} // namespace
