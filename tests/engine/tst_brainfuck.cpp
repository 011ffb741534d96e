#include "u_Brainfuck.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Records what a run does through its hooks; input comes from a fixed byte string.
struct Host
{
    std::string output;
    std::string input;
    std::size_t inputPosition = 0;
    int inputCalls = 0;
    long idleCalls = 0;
    long breakAtIdleCall = 0; // 0: never

    static void outChar(void *context, std::uint8_t byte)
    {
        static_cast<Host *>(context)->output.push_back(static_cast<char>(byte));
    }
    static std::uint8_t inChar(void *context)
    {
        auto *host = static_cast<Host *>(context);
        ++host->inputCalls;
        if (host->inputPosition >= host->input.size())
            return 0;
        return static_cast<std::uint8_t>(host->input[host->inputPosition++]);
    }
    static void idle(void *context)
    {
        auto *host = static_cast<Host *>(context);
        ++host->idleCalls;
        if (host->idleCalls == host->breakAtIdleCall)
            host->engine->m_breakFlag = true;
    }

    tBF *engine = nullptr;

    void install(tBF &bf)
    {
        engine = &bf;
        bf.m_outputHook = {outChar, this};
        bf.m_inputHook = {inChar, this};
        bf.m_idleHook = {idle, this};
    }
};

std::vector<std::int32_t> jumpsOf(const char *program, int *result)
{
    tBF bf;
    bf.LoadCode(program);
    *result = bf.MatchBrackets();
    return bf.m_jumps;
}

TEST(ProgramStore, ConstructionValues)
{
    tBF bf;
    EXPECT_EQ(bf.m_configuredTapeSize, 65536);
    EXPECT_EQ(bf.m_cellRange, 256);
    EXPECT_EQ(bf.m_maxCellValue, 255);
    EXPECT_TRUE(bf.m_dataWrap);
    EXPECT_TRUE(bf.m_valueWrap);
    EXPECT_FALSE(bf.m_breakFlag);
    EXPECT_EQ(bf.m_codeArrayLength, 0);
    EXPECT_TRUE(bf.m_code.empty() && bf.m_jumps.empty() && bf.m_data.empty());
    EXPECT_EQ(bf.m_tapeSize, 0);
    EXPECT_EQ(bf.m_lastCell, 0);
    // The default input hook reads the (empty) engine queue.
    EXPECT_EQ(bf.m_inputHook(), 0);
}

TEST(ProgramStore, LoadCodeKeepsOnlyCommands)
{
    tBF bf;
    bf.LoadCode("a+b-c<d>e,f.g[h]i");
    EXPECT_EQ(std::string(bf.m_code.begin() + 1, bf.m_code.end()), "+-<>,.[]");
    EXPECT_EQ(bf.m_code[0], '\0');
    EXPECT_EQ(bf.m_codeLength, 8);
    EXPECT_EQ(bf.m_codeArrayLength, 9);

    bf.LoadCode(std::string("x\0y \r\n\xe9", 7));
    EXPECT_EQ(bf.m_codeLength, 0);
    EXPECT_EQ(bf.m_codeArrayLength, 1);
    EXPECT_EQ(bf.MatchBrackets(), ResultOk);
    EXPECT_EQ(bf.m_jumps, std::vector<std::int32_t>({0}));
}

struct BracketCase
{
    const char *name;
    const char *program;
    int result;
    std::vector<std::int32_t> jumps; // positions 0 .. length
};

class BracketPairing : public testing::TestWithParam<BracketCase>
{ };

TEST_P(BracketPairing, LeavesTheExactTable)
{
    int result = -1;
    const std::vector<std::int32_t> jumps = jumpsOf(GetParam().program, &result);
    EXPECT_EQ(result, GetParam().result);
    EXPECT_EQ(jumps, GetParam().jumps);
}

INSTANTIATE_TEST_SUITE_P(Table, BracketPairing,
    testing::Values(BracketCase {"Nested", "[[]]", 0, {0, 4, 3, 2, 1}},
        BracketCase {"Sequential", "[][]", 0, {0, 2, 1, 4, 3}},
        BracketCase {"LoneClose", "]", 3, {0, 0}},
        BracketCase {"PairThenClose", "[]]", 3, {0, 2, 1, 0}},
        BracketCase {"CloseStopsTheScan", "[]][]", 3, {0, 2, 1, 0, 0, 0}},
        BracketCase {"OpenBeforeFaultKeepsZero", "[[]]][]", 3, {0, 4, 3, 2, 1, 0, 0, 0}},
        BracketCase {"LoneOpen", "[", 4, {0, 0}},
        BracketCase {"OuterOpenLeft", "[[]", 4, {0, 0, 3, 2}},
        BracketCase {"CommandsBetween", "+[>.]-", 0, {0, 0, 5, 0, 0, 2, 0}}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(ProgramStore, DeepNestingPairsAtAnyDepth)
{
    for (int depth : {999, 1000, 100000}) {
        tBF bf;
        bf.LoadCode(std::string(static_cast<std::size_t>(depth), '[') +
            std::string(static_cast<std::size_t>(depth), ']'));
        ASSERT_EQ(bf.MatchBrackets(), ResultOk) << depth;
        EXPECT_EQ(bf.m_jumps[1], 2 * depth) << depth;
        EXPECT_EQ(bf.m_jumps[static_cast<std::size_t>(depth)], depth + 1) << depth;
        EXPECT_EQ(bf.m_jumps[static_cast<std::size_t>(2 * depth)], 1) << depth;
    }
}

TEST(ProgramStore, InputQueue)
{
    tInputQueue queue;
    queue.Clear();
    EXPECT_EQ(queue.ReadByte(), 0);
    EXPECT_EQ(queue.readIndex, 0);
    EXPECT_EQ(queue.writeIndex, 0);
    // A writer advances the write index and stores in the slot it then names; reading
    // follows it around the end of the ring.
    queue.readIndex = queue.writeIndex = 254;
    for (std::uint8_t byte : {7, 8, 9}) {
        ++queue.writeIndex;
        queue.data[queue.writeIndex] = byte;
    }
    EXPECT_EQ(queue.ReadByte(), 7);
    EXPECT_EQ(queue.ReadByte(), 8);
    EXPECT_EQ(queue.ReadByte(), 9);
    EXPECT_EQ(queue.readIndex, 1);
    EXPECT_EQ(queue.ReadByte(), 0);
}

struct RunCase
{
    const char *name;
    std::string program;
    bool dataWrap;
    std::string input;
    int result;
    std::string output;
    std::int32_t dataPointer;
};

class Execution : public testing::TestWithParam<RunCase>
{ };

TEST_P(Execution, GivesResultOutputAndPointer)
{
    const RunCase &c = GetParam();
    tBF bf;
    Host host;
    host.install(bf);
    host.input = c.input;
    bf.LoadCode(c.program);
    bf.MatchBrackets();
    bf.m_dataWrap = c.dataWrap;
    EXPECT_EQ(bf.Run(), c.result);
    EXPECT_EQ(host.output, c.output);
    EXPECT_EQ(bf.m_dataPointer, c.dataPointer);
    if (c.result != ResultOk) { // a failing move keeps the instruction pointer on itself
        EXPECT_EQ(bf.m_code[static_cast<std::size_t>(bf.m_instructionPointer)],
            c.result == ResultAboveDataArea ? '>' : '<');
    }
}

const std::string toLeftEnd(32767, '<');
const std::string toRightEnd(32768, '>');

INSTANTIATE_TEST_SUITE_P(Table, Execution,
    testing::Values(RunCase {"PlusWrapsToZero", std::string(256, '+') + ".", true, "", 0,
                        std::string(1, '\0'), 32767},
        RunCase {"MinusWrapsToMax", "-.", true, "", 0, "\xff", 32767},
        RunCase {"ClearLoop", "+[-].", true, "", 0, std::string(1, '\0'), 32767},
        RunCase {"SkippedLoop", "[+].", true, "", 0, std::string(1, '\0'), 32767},
        RunCase {"EchoInput", ",.,.", true, "Hi", 0, "Hi", 32767},
        RunCase {"InputAfterEndIsZero", ",,.", true, "A", 0, std::string(1, '\0'), 32767},
        RunCase {"LeftEndWraps", toLeftEnd + "<", true, "", 0, "", 65535},
        RunCase {"LeftEndFails", toLeftEnd + "<+", false, "", ResultBelowDataArea, "", 0},
        RunCase {"RightEndWrapsToCellOne", toRightEnd + ">", true, "", 0, "", 1},
        RunCase {"RightEndFails", toRightEnd + ">+", false, "", ResultAboveDataArea, "", 65535},
        RunCase {"OutputBeforeFaultKept", "+." + toLeftEnd + "<.", false, "", ResultBelowDataArea,
            "\x01", 0},
        RunCase {"HelloLoop", "++++++++[>+++++++++<-]>.", true, "", 0, "H", 32768}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(Executor, EmptyProgramCallsNothingAndAllocatesNothing)
{
    tBF bf;
    Host host;
    host.install(bf);
    bf.LoadCode("no commands");
    bf.MatchBrackets();
    bf.m_breakFlag = true;
    EXPECT_EQ(bf.Run(), ResultOk);
    EXPECT_EQ(host.idleCalls, 0);
    EXPECT_TRUE(bf.m_data.empty());
    EXPECT_TRUE(bf.m_breakFlag); // not even cleared
}

TEST(Executor, BreakOnFifthIdleCallStopsAfterFourCommands)
{
    tBF bf;
    Host host;
    host.install(bf);
    host.breakAtIdleCall = 5;
    bf.LoadCode("++++++.");
    bf.MatchBrackets();
    bf.m_breakFlag = true; // set before Run: cleared, no effect
    EXPECT_EQ(bf.Run(), ResultOk);
    EXPECT_EQ(host.idleCalls, 5);
    EXPECT_EQ(bf.m_data[32767], 4);
    EXPECT_EQ(bf.m_instructionPointer, 5);
    EXPECT_TRUE(host.output.empty());
}

TEST(Executor, BreakStopsAnEndlessLoop)
{
    tBF bf;
    Host host;
    host.install(bf);
    host.breakAtIdleCall = 1000000;
    bf.LoadCode("+[]");
    bf.MatchBrackets();
    EXPECT_EQ(bf.Run(), ResultOk);
    EXPECT_EQ(host.idleCalls, 1000000);
}

TEST(Executor, UnpairedBracketJumpsBackToTheFirstCommand)
{
    // "[" left open: on a zero cell its jump entry 0 restarts the program each time.
    tBF bf;
    Host host;
    host.install(bf);
    host.breakAtIdleCall = 100;
    bf.LoadCode("[");
    EXPECT_EQ(bf.MatchBrackets(), ResultTooFewClosing);
    EXPECT_EQ(bf.Run(), ResultOk);
    EXPECT_EQ(host.idleCalls, 100);

    // "+]+" after a fault: "]" with a non-zero cell goes back to position 1, the tape stays.
    Host second;
    second.install(bf);
    second.breakAtIdleCall = 7; // + ] + ] + ] | stop
    bf.LoadCode("+]");
    EXPECT_EQ(bf.MatchBrackets(), ResultTooManyClosing);
    EXPECT_EQ(bf.Run(), ResultOk);
    EXPECT_EQ(bf.m_data[32767], 3);
}

TEST(Executor, FreshTapeEveryRun)
{
    tBF bf;
    Host host;
    host.install(bf);
    bf.LoadCode("+++.>++.");
    bf.MatchBrackets();
    bf.Run();
    bf.FreeData();
    EXPECT_EQ(bf.m_tapeSize, 0);
    EXPECT_EQ(bf.m_lastCell, -1);
    EXPECT_TRUE(bf.m_data.empty());
    bf.Run();
    EXPECT_EQ(host.output, "\x03\x02\x03\x02");
}

TEST(Executor, ThrowingHookLeavesRunAndTheEngineStaysUsable)
{
    struct Failure : std::runtime_error
    {
        using std::runtime_error::runtime_error;
    };
    tBF bf;
    bf.m_outputHook = {[](void *, std::uint8_t) { throw Failure("closed"); }, nullptr};
    bf.LoadCode("+.+.");
    bf.MatchBrackets();
    EXPECT_THROW(bf.Run(), Failure);
    EXPECT_EQ(bf.m_data.size(), 65536U); // still allocated: the host frees it

    Host host;
    host.install(bf);
    bf.FreeData();
    EXPECT_EQ(bf.Run(), ResultOk);
    EXPECT_EQ(host.output, "\x01\x02");
}

} // namespace
