#include "enginecheck.h"
#include "nativeexec.h"
#include "optimizer.h"
#include "sanitizers.h"
#include "u_Brainfuck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

// The machine-code back end: what the differential suites cannot see (its memory, its bounds,
// exceptions crossing it) and the shapes of code it emits inline.

namespace {

std::string repeated(char command, std::size_t count)
{
    return std::string(count, command);
}

Program translated(const std::string &source, const TranslationOptions &options = {})
{
    tBF engine;
    engine.LoadCode(source);
    EXPECT_EQ(engine.MatchBrackets(), ResultOk);
    std::optional<Program> program =
        translateProgram(engine.m_code, engine.m_jumps, engine.m_codeLength, options);
    EXPECT_TRUE(program.has_value());
    return program ? *program : Program {};
}

// The permissions of the mapping that holds address ("r-xp"), or empty when none does.
std::string protectionOf(const void *address)
{
    const auto wanted = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::uintptr_t low = 0;
        std::uintptr_t high = 0;
        char dash = 0;
        std::string permissions;
        fields >> std::hex >> low >> dash >> high >> permissions;
        if (wanted >= low && wanted < high)
            return permissions;
    }
    return {};
}

TEST(NativeCode, ExistsWhereTheBuildPromisesIt)
{
#if defined(CEREBRIX_NATIVE) && defined(__x86_64__)
    EXPECT_TRUE(nativeCodeAvailable());
    EXPECT_NE(compileNative(translated("+[->+<]>."), false), nullptr);
    EXPECT_NE(compileNative(translated("+[->+<]>."), true), nullptr);
#else
    EXPECT_FALSE(nativeCodeAvailable());
    GTEST_SKIP() << "this build runs the threaded interpreter only";
#endif
}

TEST(NativeCode, IsNeverWritableAndGoesWithItsRun)
{
    if (!nativeCodeAvailable())
        GTEST_SKIP() << "no machine code in this build";
    std::unique_ptr<NativeCode> code = compileNative(translated("++[>+++[-<+>]<-]."), false);
    ASSERT_NE(code, nullptr);
    const void *address = code->address();
    EXPECT_EQ(protectionOf(address), "r-xp");
    code.reset();
    EXPECT_EQ(protectionOf(address).find('x'), std::string::npos) << "still executable";
}

TEST(NativeCode, LeavesToTheThreadedLoopWhatItDoesNotRun)
{
    if (!nativeCodeAvailable())
        GTEST_SKIP() << "no machine code in this build";
    const std::string source = "+++[>++[->+<]<-]>>.";
    // Past its size bound.
    EXPECT_EQ(compileNative(translated(source), false, 64), nullptr);
    EXPECT_NE(compileNative(translated(source), false, 1 << 16), nullptr);
    // A debugger's counting translation, with or without stops, runs with its idle hook only.
    TranslationOptions counting;
    counting.countsCommands = true;
    EXPECT_NE(compileNative(translated(source, counting), true), nullptr);
    EXPECT_EQ(compileNative(translated(source, counting), false), nullptr);
    counting.stops.assign(source.size() + 2, false);
    counting.stops[5] = true;
    EXPECT_NE(compileNative(translated(source, counting), true), nullptr);
}

// Each row exercises one piece the generator emits inline or calls out for, on the paths with
// and without a coarse idle hook; small intervals make the idle call fall due inside it.
struct ShapeRow
{
    const char *name;
    std::string program;
    bool dataWrap = true;
};

void PrintTo(const ShapeRow &row, std::ostream *stream)
{
    *stream << row.name;
}

class EmittedShapes : public testing::TestWithParam<ShapeRow>
{ };

TEST_P(EmittedShapes, RunAsTheExactPathRunsThem)
{
    const ShapeRow &row = GetParam();
    Case test;
    test.program = row.program;
    test.dataWrap = row.dataWrap;
    test.input = "\x05\x07";
    test.budget = 5000000;
    const Outcome exact = run(test, Path::Exact);
    ASSERT_TRUE(exact.finished);
    expectPlainPathsAgree(exact, test);
    for (const Path path : CoarsePaths) {
        for (const std::int32_t interval : {24, 300, 1 << 16, 1 << 20}) {
            SCOPED_TRACE(std::string(pathName(path)) + ", interval " + std::to_string(interval));
            expectSame(exact, run(test, path, interval));
        }
    }
}

// A row of cells 1 .. count set to non-zero values, the pointer back on cell 0 (zero).
std::string filledCells(int count)
{
    std::string cells;
    for (int i = 0; i < count; ++i)
        cells += ">+";
    return cells + repeated('<', static_cast<std::size_t>(count));
}

const ShapeRow Shapes[] = {
    {"FactorOne", "+++++[->+<]>."},
    {"FactorMinusOne", "+++++[->-<]>."},
    {"FactorSeven", "+++++[->+++++++<]>."},
    {"FactorOfWholeTurns", "+++++[->" + repeated('+', 256) + "<]>."},
    {"MultiplyWithManyTerms", "+++++[->+>--<<<+++>>]>.>.<<<."},
    {"SetInsideARepeat", "+++[>[-]+>+<<-]>>."},
    // 255 rounds each fill one more cell behind a gap, scanning there and back.
    {"LongScans", "-[->>[>]+[<]<]>>[>]<[<]>."},
    {"LongScansAcrossTheTopEnd", repeated('>', 32700) + "-[->>[>]+[<]<]>>[>]<.", true},
    {"LongScansIntoTheTopEnd", repeated('>', 32700) + "-[->>[>]+[<]<]>>[>]<.", false},
    {"LongScansAcrossTheBottomEnd", repeated('<', 32700) + "-[-<<[<]+[>]>]<<[<]>.", true},
    {"LongScansIntoTheBottomEnd", repeated('<', 32700) + "-[-<<[<]+[>]>]<<[<]>.", false},
    {"WideStrideScan", ">" + filledCells(400) + "+[>>>]<<<."},
    {"ScanPastTheTopEndWraps", repeated('>', 32760) + filledCells(8) + "+[>]<.", true},
    {"ScanPastTheTopEndFaults", repeated('>', 32760) + "+[>+]<.", false},
    {"ScanPastTheBottomEndFaults", repeated('<', 32760) + "+[<+]>.", false},
    {"MovingRepeatIntoTheEnd", repeated('<', 32700) + "+[-<<+>+]>.", false},
    {"MovingRepeatWraps", repeated('<', 32760) + "+<+<+<+<+<+<+<+" + repeated('>', 7) + "[-<]>.",
        true},
    {"MovingRepeatFaults", repeated('<', 32760) + "+<+<+<+<+<+<+<+" + repeated('>', 7) + "[-<]>.",
        false},
    {"LoopsAroundOutputAndInput", "++[>,[->+<]>.<<-]"},
    {"BlockPastTheTopEndFaults", repeated('>', 32767) + "+[>+>+<<-]>.", false},
    {"BlockPastTheBottomEndFaults", repeated('<', 32766) + "+.>>[<+<+>>-]", false},
    {"BlockPastTheTopEndWraps", repeated('>', 32767) + "+[>+>+<<-]>.", true},
    {"SettlingLoopInPlace", "+++++[->[-]+>++<<]>>."},
    // Loops in place keep their cells in registers; collapsible ones hand over after rounds.
    {"HeldLoopCollapses", "-[->+>[-]+>++<<<]>.>.>."},
    {"HeldLoopWithAMultiply", "+++++[->+++[->++<]<]>>."},
    {"HeldLoopUpwards", repeated('+', 40) + "[+>-->[-]+<<]>.>."},
    // Three cells rotate every round while a fourth state settles at once: the states never
    // all settle, so the rounds run on.
    {"HeldLoopNeverSettles",
        repeated('+', 40) +
            ">>>+>++>+++<<<<<[->>[-]>[->>>+<<<]>[-<+>]>[-<+>]>[-<+>]<<<<<<]>>>.>.>."},
    {"TooManyCellsToHold", "-[->+>+>+>+>+>+>+>+<<<<<<<<]>>>>>>>>."},
    {"HeldLoopPastTheTopEndWraps", repeated('>', 32767) + "-[->+>[-]+<<]>.", true},
    {"HeldLoopPastTheTopEndFaults", repeated('>', 32767) + "-[->+>[-]+<<]>.", false},
};

// The estimate that refuses large programs before generating must never exceed real code,
// or programs that fit would lose their machine code.
TEST_P(EmittedShapes, TakeNoLessCodeThanEstimated)
{
    if (!nativeCodeAvailable())
        GTEST_SKIP() << "no machine code in this build";
    TranslationOptions counting;
    counting.countsCommands = true;
    for (const auto &[options, counted] : {std::pair {TranslationOptions {}, false},
             std::pair {TranslationOptions {}, true}, std::pair {counting, true}}) {
        const Program program = translated(GetParam().program, options);
        const std::unique_ptr<NativeCode> code = compileNative(program, counted);
        ASSERT_NE(code, nullptr);
        EXPECT_LE(leastNativeCodeBytes(program, counted), code->size()) << counted;
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, EmittedShapes, testing::ValuesIn(Shapes),
    [](const testing::TestParamInfo<ShapeRow> &row) { return row.param.name; });

// A program whose code would not fit gets none, whether the estimate knows it at once or
// memory runs out while the code is made: the threaded loop runs it, and nothing aborts.
// The child gets little more address space than the program's translation holds.
TEST(NativeCode, LargeProgramsFallBackWithinLittleMemory)
{
    if (SanitizedBuild)
        GTEST_SKIP() << "the address sanitizer reserves more address space than any limit";
    if (!nativeCodeAvailable())
        GTEST_SKIP() << "no machine code in this build";
    const std::size_t pairs = 1000000;
    const Program nested =
        translated("+" + repeated('[', pairs) + "-" + repeated(']', pairs), TranslationOptions {});
    for (const bool counted : {true, false}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            long pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            const auto spare = static_cast<rlim_t>(pages) * 4096 + (rlim_t {24} << 20);
            const rlimit limit {spare, spare};
            ::setrlimit(RLIMIT_AS, &limit);
            const std::unique_ptr<NativeCode> code = compileNative(nested, counted);
            ::_exit(code == nullptr ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << counted;
    }
}

// What a hook throws crosses the machine code and leaves the pointers it was shown.
struct Thrower
{
    tBF engine;
    int calls = 0;
    int throwAt = 0;
    std::int32_t shownData = 0;
    std::int32_t shownCommand = 0;

    void maybeThrow()
    {
        if (++calls < throwAt)
            return;
        shownData = engine.m_dataPointer;
        shownCommand = engine.m_instructionPointer;
        throw std::runtime_error("hook failed");
    }
};

TEST(NativeCode, HookExceptionsPassWithThePointersShown)
{
    enum class Hook { Output, Input, Idle };
    for (const tEnginePath backEnd : {tEnginePath::Fastest, tEnginePath::Threaded}) {
        for (const Hook hook : {Hook::Output, Hook::Input, Hook::Idle}) {
            SCOPED_TRACE(static_cast<int>(hook));
            Thrower thrower;
            tBF &engine = thrower.engine;
            engine.LoadCode("++++[>+++[>+.>,<<-]>[-]<<-]" + repeated('>', 40) + "+[[>]+<[-]+]");
            ASSERT_EQ(engine.MatchBrackets(), ResultOk);
            engine.m_path = backEnd;
            thrower.throwAt = 5;
            engine.m_outputHook = {
                [](void *context, std::uint8_t) { static_cast<Thrower *>(context)->maybeThrow(); },
                &thrower};
            engine.m_inputHook = {[](void *context) -> std::uint8_t {
                                      static_cast<Thrower *>(context)->maybeThrow();
                                      return 1;
                                  },
                &thrower};
            if (hook == Hook::Idle) {
                engine.m_outputHook = {[](void *, std::uint8_t) {}, nullptr};
                engine.m_inputHook = {[](void *) -> std::uint8_t { return 1; }, nullptr};
                engine.m_idleHook = {
                    [](void *context) { static_cast<Thrower *>(context)->maybeThrow(); }, &thrower};
                engine.m_idleInterval = 64;
            } else if (hook == Hook::Input) {
                engine.m_outputHook = {[](void *, std::uint8_t) {}, nullptr};
            } else {
                engine.m_inputHook = {[](void *) -> std::uint8_t { return 1; }, nullptr};
            }
            EXPECT_THROW(engine.Run(), std::runtime_error);
            EXPECT_EQ(engine.m_dataPointer, thrower.shownData);
            EXPECT_EQ(engine.m_instructionPointer, thrower.shownCommand);
        }
    }
}

} // namespace
