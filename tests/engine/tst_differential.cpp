#include "corpus.h"
#include "enginecheck.h"
#include "sanitizers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

// Runs programs on the exact path (a per-command idle hook) and on the optimised path (the
// default idle hook) and compares everything a host can see afterwards.

namespace {

// ---- corpus programs ------------------------------------------------------------------

const std::filesystem::path CorpusDir = CEREBRIX_CORPUS_DIR;

// The corpus file at path, empty when it cannot be read.
std::string corpusFile(const std::filesystem::path &path)
{
    return readFile(path.string()).value_or("");
}

class CorpusProgram : public testing::TestWithParam<std::string>
{ };

TEST_P(CorpusProgram, BothPathsAgree)
{
    const std::filesystem::path source = CorpusDir / (GetParam() + ".b");
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << "corpus not found at " << CorpusDir;
    Case test;
    test.program = corpusFile(source);
    if (std::filesystem::exists(CorpusDir / (GetParam() + ".in")))
        test.input = corpusFile(CorpusDir / (GetParam() + ".in"));
    const Outcome exact = run(test, Path::Exact);
    expectPlainPathsAgree(exact, test);
    EXPECT_EQ(exact.output, corpusFile(CorpusDir / (GetParam() + ".out")));
}

INSTANTIATE_TEST_SUITE_P(
    QuickSubset, CorpusProgram, testing::ValuesIn(quickSubset(CorpusDir.string())));
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusProgram);

TEST(CorpusManifest, ListsTheQuickSubset)
{
    if (!std::filesystem::exists(CorpusDir / "MANIFEST.md"))
        GTEST_SKIP() << "corpus not found at " << CorpusDir;
    EXPECT_GE(quickSubset(CorpusDir.string()).size(), 20u);
}

struct WrapRow
{
    const char *name;
    bool dataWrap;
    const char *expected;
    int result;
};

class WrapProgram : public testing::TestWithParam<WrapRow>
{ };

TEST_P(WrapProgram, BothPathsAgreeAtTheTapeEnds)
{
    const WrapRow &row = GetParam();
    const std::filesystem::path folder = CorpusDir / "wrap";
    if (!std::filesystem::exists(folder))
        GTEST_SKIP() << "corpus not found at " << CorpusDir;
    Case test;
    test.program = corpusFile(folder / (std::string(row.name) + ".b"));
    test.dataWrap = row.dataWrap;
    const Outcome exact = run(test, Path::Exact);
    expectPlainPathsAgree(exact, test);
    EXPECT_EQ(exact.result, row.result);
    EXPECT_EQ(exact.output, corpusFile(folder / row.expected));
}

INSTANTIATE_TEST_SUITE_P(Wrap, WrapProgram,
    testing::Values(WrapRow {"leftbound", true, "leftbound.out", ResultOk},
        WrapRow {"leftbound", false, "leftbound.nowrap.out", ResultBelowDataArea},
        WrapRow {"rightbound", true, "rightbound.out", ResultOk},
        WrapRow {"rightbound", false, "rightbound.nowrap.out", ResultAboveDataArea}),
    [](const testing::TestParamInfo<WrapRow> &row) {
        return std::string(row.param.name) + (row.param.dataWrap ? "Wrap" : "NoWrap");
    });

// Corpus programs that check the dialect, each in the dialects its author documents, with
// the output the author gives for it.
struct DialectRow
{
    const char *name;
    int cellBits;
    tEndOfInput endOfInput;
    const char *expected;
    std::int32_t tapeCells = 65536;
    tTapeStart start = tTapeStart::Middle;
};

class DialectProgram : public testing::TestWithParam<DialectRow>
{ };

TEST_P(DialectProgram, PrintsWhatItsAuthorDocuments)
{
    const DialectRow &row = GetParam();
    const std::filesystem::path source = CorpusDir / (std::string(row.name) + ".b");
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << "corpus not found at " << CorpusDir;
    Case test;
    test.program = corpusFile(source);
    test.input = corpusFile(CorpusDir / (std::string(row.name) + ".in"));
    test.dataWrap = row.tapeCells == 65536; // the tape tests must not need to wrap
    test.dialect = {row.cellBits, row.endOfInput, row.tapeCells, row.start};
    const Outcome exact = run(test, Path::Exact);
    EXPECT_EQ(exact.result, ResultOk);
    EXPECT_EQ(exact.output, row.expected);
    expectPlainPathsAgree(exact, test);
}

std::string nameOfDialectRow(const testing::TestParamInfo<DialectRow> &row)
{
    static const char *const Ends[] = {"Zero", "AllOnes", "Unchanged"};
    return std::string(row.param.name) + "_" + std::to_string(row.param.cellBits) + "Bits" +
        Ends[static_cast<int>(row.param.endOfInput)] +
        (row.param.tapeCells != 65536 ? "_" + std::to_string(row.param.tapeCells) : "");
}

constexpr auto Zero = tEndOfInput::Zero, AllOnes = tEndOfInput::AllOnes,
               Unchanged = tEndOfInput::Unchanged;

INSTANTIATE_TEST_SUITE_P(Documented, DialectProgram,
    testing::Values(DialectRow {"cell_type", 8, Zero, "8 bit cells\n"},
        DialectRow {"cell_type", 16, Zero, "16 bit cells\n"},
        DialectRow {"cell_type", 32, Zero, "32 bit cells\n"},
        DialectRow {"tribit", 8, Zero, "8 bit cells\n"},
        DialectRow {"tribit", 16, Zero, "16 bit cells\n"},
        DialectRow {"tribit", 32, Zero, "32 bit cells\n"},
        DialectRow {"cell_max", 8, Zero, "255\n"}, DialectRow {"cell_max", 16, Zero, "65535\n"},
        DialectRow {"cell_max", 32, Zero, "LARGE\n"},
        DialectRow {"bitwidth", 8, Zero, "Hello World! 255\n"},
        DialectRow {"bitwidth", 16, Zero, "Hello world! 65535\n"},
        DialectRow {"bitwidth", 32, Zero, "Hello, world!\n"},
        DialectRow {"io_eof", 8, Zero, "LB\nLB\n"}, DialectRow {"io_eof", 8, AllOnes, "LA\nLA\n"},
        DialectRow {"io_eof", 8, Unchanged, "LK\nLK\n"},
        DialectRow {"io_eof", 32, AllOnes, "LA\nLA\n"},
        DialectRow {"endtest", 8, Zero, "<NL>\nZero\n"},
        DialectRow {"endtest", 8, AllOnes, "<NL>\n0xFF\n"},
        DialectRow {"endtest", 16, AllOnes, "<NL>\nEOF\n"},
        DialectRow {"endtest", 8, Unchanged, "<NL>\nLeave\n"},
        DialectRow {"cell30000", 8, Zero, "#\n", 30000, tTapeStart::Left},
        DialectRow {"cells30k", 8, Zero, "OK\n", 30000, tTapeStart::Left}),
    nameOfDialectRow);

// ---- random programs ------------------------------------------------------------------

// Random programs built to hit what the optimiser folds: runs, clear, multiply and scan
// loops, moving loops, I/O inside loops, stray brackets, and starts near either tape end.
class ProgramMaker
{
public:
    explicit ProgramMaker(unsigned seed)
        : m_random(seed)
    { }

    Case make()
    {
        Case test;
        test.dataWrap = pick(2) == 0;
        test.budget = 200000;
        if (pick(4) == 0)
            test.breakAfterTransfers = 1 + pick(6);
        for (int i = pick(8); i > 0; --i)
            test.input.push_back(static_cast<char>(pick(256)));
        if (pick(2) == 0) // half in the default dialect, half in one of the others
            test.dialect = dialectFor(1 + pick(1000));
        if (pick(2) == 0) // machine code takes over from the threaded loop mid-run
            test.handOverAfter = pick(40);
        const int where = pick(4); // where the pointer starts the interesting part
        if (where < 2)
            test.program = towardEnd(test.dialect, where == 0, pick(12));
        body(test.program, 0, 4 + pick(40));
        if (pick(10) == 0) // an unpaired bracket somewhere: the exact path runs it
            test.program.insert(
                pick(static_cast<int>(test.program.size()) + 1), 1, pick(2) == 0 ? '[' : ']');
        return test;
    }

private:
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(m_random); }

    void body(std::string &out, int depth, int length)
    {
        static const char *const Shapes[] = {"[-]", "[+]", "[->+<]", "[->>+++<<]", "[<+>-]",
            "[-<<->>]", "[>]", "[<]", "[>>]", "[<<<]", "[-<+>>++<]", "[>+<-]>[<+>-]<",
            "[->>+++[->+<]>[-]<<<]", "[-<+>>[-]+<]", "[+>[-]++<]", "[->+<<[-]>]", "[-<<]",
            "[>[->>+<<]<<<]", "[>-[<<+>>-]>]", "[-<>]", "[->+-<]", "[+>><<]", "[<[-<>]>-]",
            "[-<<>>>+<]", "[>++[>+++[-]<-]<-]", "[>+++[>++[>+[-]<-]<-]<+++]",
            "[->>+++[->[-]+<]<<<+>]", "[->+>[-]<[->+>[-]+<<]>[-<+>]<<]",
            "[-<++>>[-]+++[->++<]>[-]<<]", "[+>>[-]++[-<+>]<<]", "[-<+<]", "<[-<<+>>]<",
            // Wide scans, one along a row of eight marks: a bound test per eight steps.
            "[>>>>]", "[<<<<<]",
            "+>>>>+>>>>+>>>>+>>>>+>>>>+>>>>+>>>>+>>>><<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<[>>>>]",
            "[>[-<<+++>>>[-]++<]<<]",
            // Short rows of marks: scans that end within their first steps.
            "+>>+>>+<<<<[>>]", "-<<<-<<<<<<[<<<]", "+>+>+>+<<<[>]"};
        for (int i = 0; i < length; ++i) {
            const int choice = pick(20);
            if (choice < 10) {
                out.append(static_cast<std::size_t>(1 + pick(4)), "+-<>"[pick(4)]);
            } else if (choice < 12) {
                out.push_back(".,"[pick(2)]);
            } else if (choice < 16) {
                out += Shapes[pick(static_cast<int>(std::size(Shapes)))];
            } else if (depth < 4) {
                out.push_back('[');
                body(out, depth + 1, 1 + pick(8));
                if (pick(3) != 0)
                    out.push_back('-'); // most loops count themselves down
                out.push_back(']');
            }
        }
    }

    std::mt19937 m_random;
};

class RandomPrograms : public testing::TestWithParam<unsigned>
{ };

TEST_P(RandomPrograms, BothPathsAgree)
{
    ProgramMaker maker(GetParam());
    int compared = 0;
    constexpr int Programs = SanitizedBuild ? 100 : 400;
    for (int i = 0; i < Programs; ++i) {
        const Case test = maker.make();
        const Outcome exact = run(test, Path::Exact);
        if (!exact.finished)
            continue; // the optimised path would run on; nothing to compare
        SCOPED_TRACE(shownPart(test.program) + " (" + describe(test.dialect) + ")");
        expectPlainPathsAgree(exact, test);
        ++compared;
        if (HasFailure())
            return;
    }
    EXPECT_GT(compared, Programs / 3) << "too few programs ended within the budget";
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomPrograms, testing::Range(1u, 11u));

// ---- coarse idle hook -----------------------------------------------------------------

class CoarseIdle : public testing::TestWithParam<std::int32_t>
{ };

TEST_P(CoarseIdle, AgreesAndCallsTheHookOftenEnough)
{
    const std::int32_t interval = GetParam();
    ProgramMaker maker(interval);
    for (int i = 0; i < 200; ++i) {
        Case test = maker.make();
        test.breakAfterTransfers = 0;
        const Outcome exact = run(test, Path::Exact);
        if (!exact.finished)
            continue;
        SCOPED_TRACE(shownPart(test.program) + " (" + describe(test.dialect) + ")");
        for (const Path path : CoarsePaths) {
            SCOPED_TRACE(pathName(path));
            const Outcome coarse = run(test, path, interval);
            expectSame(exact, coarse);
            // Loops run whole count their cost, not their commands: only loop-free programs
            // tie the calls to the command count.
            if (test.program.find('[') == std::string::npos) {
                EXPECT_GE(coarse.commands, exact.commands / interval);
            }
        }
        if (HasFailure())
            return;
    }
}

// Whether some state the exact run passes through (tried in order of its tape matches) is
// the one the coarse run broke at.
bool exactRunStopsAt(Case test, const Outcome &coarse)
{
    test.target = &coarse;
    test.budget = 5000000; // loops run whole make the coarse run's units far fewer than commands
    for (test.skippedMatches = 0; test.skippedMatches < 1000; ++test.skippedMatches) {
        const Outcome exact = run(test, Path::Exact);
        if (!exact.reachedTarget)
            return false; // no more states with that tape
        if (exact.result == coarse.result && exact.dataPointer == coarse.dataPointer &&
            exact.instructionPointer == coarse.instructionPointer && exact.tape == coarse.tape &&
            exact.output == coarse.output && exact.inputCalls == coarse.inputCalls)
            return true;
    }
    return false;
}

class CoarseBreak : public testing::TestWithParam<std::int32_t>
{ };

TEST_P(CoarseBreak, BreakFromTheHookStopsAtAStateOfTheExactRun)
{
    const std::int32_t interval = GetParam();
    ProgramMaker maker(interval + 7);
    int stopped = 0;
    for (int i = 0; i < 100 && stopped < 20; ++i) {
        Case test = maker.make();
        test.breakAfterTransfers = 0;
        test.breakAtIdleCall = 3;
        // Wider cells make loops of billions of rounds, which the coarse run folds but the
        // exact search cannot reach; their tapes and ends stay.
        test.dialect.cellBits = 8;
        const Path path = CoarsePaths[i % std::size(CoarsePaths)];
        const Outcome coarse = run(test, path, interval);
        if (coarse.commands < 3 || coarse.bracketResult != ResultOk)
            continue; // the run ended first
        SCOPED_TRACE(shownPart(test.program) + " (" + describe(test.dialect) + ") on the " +
            pathName(path) + " path");
        test.breakAtIdleCall = 0;
        EXPECT_TRUE(exactRunStopsAt(test, coarse));
        ++stopped;
        if (HasFailure())
            return;
    }
    EXPECT_GT(stopped, 5);
}

INSTANTIATE_TEST_SUITE_P(Intervals, CoarseBreak, testing::Values(2, 64, 1000));

INSTANTIATE_TEST_SUITE_P(Intervals, CoarseIdle, testing::Values(2, 1000, 50000, 1 << 20));

TEST(CoarseIdle, LongStraightBlocksStayOnTheFastPath)
{
    // Twenty wide multiply loops make one block that could stand for 300,000 commands.
    const std::string wide = "++[->" + std::string(30, '>') + "+" + std::string(31, '<') + "]";
    Case test;
    test.budget = 1000000;
    test.program = "++[>";
    for (int i = 0; i < 20; ++i)
        test.program += wide;
    test.program += "<-]";
    const Outcome exact = run(test, Path::Exact);
    for (const Path path : CoarsePaths) {
        SCOPED_TRACE(pathName(path));
        const Outcome coarse = run(test, path, 1 << 16);
        expectSame(exact, coarse);
        EXPECT_LT(coarse.commands * 10, exact.commands) << "the idle hook ran once per command";
    }
}

TEST(CoarseIdle, MovingRoundsSpendTheDistanceTheyMoved)
{
    // 255 times over 5,000 cells: a loop walks right taking one from each, and one walks back
    // adding it again. Machine code runs most of these rounds without budget tests at the
    // window's interval; the threaded loop tests every round.
    std::string program = "->>";
    for (int cell = 0; cell < 5000; ++cell)
        program += "++>";
    Case test;
    test.program = program + std::string(5002, '<') + "[>>[->]<[+<]<-]";
    const Outcome counted = run(test, Path::CoarseThreaded, 1 << 20);
    const Outcome untested = run(test, Path::Coarse, 1 << 20);
    expectSame(counted, untested);
    EXPECT_GE(counted.commands, 4);
    EXPECT_GE(untested.commands * 2, counted.commands) << "idle calls came too seldom";
}

TEST(CoarseIdle, BreakFromTheHookStopsAnEndlessLoop)
{
    // Ordinary, repeated, moving, clearing, multiplying and collapsing loops, and scans; with
    // the window's interval, moving loops run rounds without budget tests.
    for (const char *program : {"+[]", "+[>+<]", "+[>+]", "+[<<+]", "+[[-]+]", "+[>+++[->+<]<]",
             "+[>++++[->+>[-]+<<]<]", "+[[>]+[<]>]"}) {
        for (const auto &[backEnd, interval] :
            {std::pair {tEnginePath::Fastest, 4096}, std::pair {tEnginePath::Threaded, 4096},
                std::pair {tEnginePath::Fastest, 1 << 20}}) {
            struct Counter
            {
                tBF engine;
                int calls = 0;
            } counter;
            tBF &engine = counter.engine;
            engine.LoadCode(program);
            ASSERT_EQ(engine.MatchBrackets(), ResultOk);
            engine.m_path = backEnd;
            engine.m_idleInterval = interval;
            engine.m_idleHook = {[](void *context) {
                                     auto *host = static_cast<Counter *>(context);
                                     host->engine.m_breakFlag = ++host->calls == 5;
                                 },
                &counter};
            EXPECT_EQ(engine.Run(), ResultOk) << program;
            EXPECT_EQ(counter.calls, 5) << program;
            EXPECT_LE(engine.m_instructionPointer, engine.m_codeLength) << program << " ended";
        }
    }
}

} // namespace
