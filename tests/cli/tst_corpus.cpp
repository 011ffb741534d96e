#include "corpus.h"
#include "runprocess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path corpus = CEREBRIX_CORPUS_DIR;

struct CorpusCase
{
    std::string name; // test name
    fs::path program;
    std::vector<std::string> options;
    fs::path input; // empty: no input
    fs::path expected; // empty: no output expected
    int exitStatus = 0;
    bool slow = false;
};

std::vector<CorpusCase> corpusCases()
{
    std::vector<CorpusCase> cases;
    if (!fs::is_directory(corpus))
        return cases;
    // The quick subset is listed in the corpus manifest; everything else takes long on the
    // exact executor and only runs where slow programs are enabled.
    const std::vector<std::string> listed = quickSubset(corpus.string());
    const std::set<std::string> quick(listed.begin(), listed.end());
    for (const fs::directory_entry &entry : fs::directory_iterator(corpus)) {
        const fs::path program = entry.path();
        if (program.extension() != ".b")
            continue;
        CorpusCase c;
        c.name = program.stem().string();
        c.program = program;
        c.options = {"--plain"};
        if (fs::exists(fs::path(program).replace_extension(".in")))
            c.input = fs::path(program).replace_extension(".in");
        c.expected = fs::path(program).replace_extension(".out");
        c.slow = quick.count(c.name) == 0;
        cases.push_back(c);
    }
    for (const char *name : {"leftbound", "rightbound"}) {
        const fs::path program = corpus / "wrap" / (std::string(name) + ".b");
        cases.push_back({std::string("wrap_") + name, program, {"--plain"}, {},
            corpus / "wrap" / (std::string(name) + ".out"), 0, false});
        cases.push_back({std::string("nowrap_") + name, program, {"--plain", "--no-data-wrap"}, {},
            corpus / "wrap" / (std::string(name) + ".nowrap.out"), name[0] == 'l' ? 2 : 1, false});
    }
    cases.push_back({"error_unmatched_open", corpus / "errors" / "unmatched_open.b", {"--plain"},
        {}, {}, 4, false});
    cases.push_back({"error_unmatched_close", corpus / "errors" / "unmatched_close.b", {"--plain"},
        {}, {}, 3, false});
    std::sort(cases.begin(), cases.end(),
        [](const CorpusCase &a, const CorpusCase &b) { return a.name < b.name; });
    return cases;
}

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const CorpusCase &c, std::ostream *os)
{
    *os << c.name;
}

class Corpus : public testing::TestWithParam<CorpusCase>
{ };

TEST_P(Corpus, ReproducesExpectedOutputByteForByte)
{
    const CorpusCase &c = GetParam();
#ifndef CEREBRIX_SLOW_CORPUS
    if (c.slow)
        GTEST_SKIP() << "slow program; runs only in the optimised build";
#endif
    std::vector<std::string> arguments {CEREBRIX_RUN};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(c.program.string());
    const ProcessResult result =
        runProcess(arguments, "", c.input.empty() ? "/dev/null" : c.input.string());
    EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
    const std::string expected =
        c.expected.empty() ? "" : readFile(c.expected.string()).value_or("");
    ASSERT_EQ(result.out.size(), expected.size());
    EXPECT_TRUE(result.out == expected) << "output differs";
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Corpus);
INSTANTIATE_TEST_SUITE_P(Programs, Corpus, testing::ValuesIn(corpusCases()),
    [](const auto &row) { return row.param.name; });

TEST(CorpusFolder, IsPresent)
{
    if (!fs::is_directory(corpus))
        GTEST_SKIP() << "no corpus at " << corpus;
    EXPECT_FALSE(quickSubset(corpus.string()).empty());
}

} // namespace
