#include "enginecheck.h"
#include "sanitizers.h"
#include "u_Brainfuck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

// What a hook sees of the engine while a run is in progress: on every path, the tape and both
// pointers exactly as the exact run has them at that point.

namespace {

// One look at the engine from inside a hook.
struct Sight
{
    std::int32_t instructionPointer = 0;
    std::int32_t dataPointer = 0;
    std::uint64_t tape = 0; // a hash of every cell
    std::size_t transfers = 0;

    bool operator==(const Sight &) const = default;
};

struct SightHash
{
    std::size_t operator()(const Sight &sight) const
    {
        return static_cast<std::size_t>(sight.tape ^
            (std::uint64_t(sight.instructionPointer) << 20) ^ std::uint64_t(sight.dataPointer) ^
            (sight.transfers << 40));
    }
};

// Each cell's share of the tape hash, so that one cell's change updates it at once.
std::uint64_t shareOf(std::size_t cell, std::uint8_t value)
{
    return (cell * 0x9E3779B97F4A7C15ull + 1) * (value * 0xC2B2AE3D27D4EB4Full + 7);
}

// Zero bytes are skipped a page at a time (memcmp, which the sanitizers check once a call
// rather than once a byte), then eight at a time: most of the tape is zero. Each byte counts
// as a cell: a run's cells of any width hash apart all the same.
std::uint64_t hashOf(const tDataArr &tape)
{
    static const std::uint64_t zeroTape = [] {
        std::uint64_t hash = 0;
        for (std::size_t cell = 0; cell < tBF::TapeCells; ++cell)
            hash += shareOf(cell, 0);
        return hash;
    }();
    constexpr std::size_t Page = 4096;
    static const std::array<std::uint8_t, Page> zeroPage {};
    std::uint64_t hash = zeroTape;
    std::size_t word = 0;
    while (word + 8 <= tape.size()) {
        if (word % Page == 0 && word + Page <= tape.size() &&
            std::memcmp(tape.data() + word, zeroPage.data(), Page) == 0) {
            word += Page;
            continue;
        }
        std::uint64_t cells = 0;
        std::memcpy(&cells, tape.data() + word, sizeof cells);
        if (cells != 0) {
            for (std::size_t cell = word; cell < word + 8; ++cell)
                hash += shareOf(cell, tape[cell]) - shareOf(cell, 0);
        }
        word += 8;
    }
    for (; word < tape.size(); ++word)
        hash += shareOf(word, tape[word]) - shareOf(word, 0);
    return hash;
}

struct Watcher
{
    tBF engine;
    std::vector<Sight> transferSights; // at every output and input call
    std::vector<Sight> idleSights; // coarse path: at every idle call
    std::unordered_set<Sight, SightHash> exactStates; // exact path: before every command
    std::uint64_t tapeHash = 0; // exact path: kept up to date one cell at a time
    tDataArr shadow; // exact path: the tape the hash stands for
    std::int32_t lastPointer = -1;
    std::size_t transfers = 0;
    long commands = 0;
    bool recordsStates = false; // exact path: fill exactStates

    Sight look(std::uint64_t hash) const
    {
        return {engine.m_instructionPointer, engine.m_dataPointer, hash, transfers};
    }
    static void output(void *context, std::uint8_t)
    {
        auto *watcher = static_cast<Watcher *>(context);
        watcher->transferSights.push_back(watcher->look(hashOf(watcher->engine.m_data)));
        ++watcher->transfers;
    }
    static std::uint8_t input(void *context)
    {
        auto *watcher = static_cast<Watcher *>(context);
        watcher->transferSights.push_back(watcher->look(hashOf(watcher->engine.m_data)));
        ++watcher->transfers;
        watcher->engine.m_inputEnded = watcher->transfers % 5 == 0; // the dialect's end value
        return static_cast<std::uint8_t>(watcher->transfers * 3);
    }
    // Only the cell under the pointer of the previous command can have changed since.
    static void exactIdle(void *context)
    {
        auto *watcher = static_cast<Watcher *>(context);
        if (++watcher->commands > 100000)
            watcher->engine.m_breakFlag = true;
        if (!watcher->recordsStates)
            return;
        const tDataArr &tape = watcher->engine.m_data;
        if (watcher->lastPointer < 0) {
            watcher->tapeHash = hashOf(tape);
            watcher->shadow = tape;
        } else {
            const std::size_t width = watcher->engine.m_dialect.cellBytes();
            const auto first = static_cast<std::size_t>(watcher->lastPointer) * width;
            for (std::size_t byte = first; byte < first + width; ++byte) {
                watcher->tapeHash +=
                    shareOf(byte, tape[byte]) - shareOf(byte, watcher->shadow[byte]);
                watcher->shadow[byte] = tape[byte];
            }
        }
        watcher->lastPointer = watcher->engine.m_dataPointer;
        watcher->exactStates.insert(watcher->look(watcher->tapeHash));
    }
    static void coarseIdle(void *context)
    {
        auto *watcher = static_cast<Watcher *>(context);
        watcher->idleSights.push_back(watcher->look(hashOf(watcher->engine.m_data)));
    }

    void run(const std::string &program, bool dataWrap, const tDialect &dialect, Path path,
        std::int32_t interval = 1)
    {
        engine.LoadCode(program);
        ASSERT_EQ(engine.MatchBrackets(), ResultOk);
        engine.m_dataWrap = dataWrap;
        engine.m_dialect = dialect;
        engine.m_outputHook = {output, this};
        engine.m_inputHook = {input, this};
        if (path == Path::Exact)
            engine.m_idleHook = {exactIdle, this};
        if (path == Path::Threaded || path == Path::CoarseThreaded)
            engine.m_path = tEnginePath::Threaded;
        if (path == Path::Coarse || path == Path::CoarseThreaded) {
            engine.m_idleHook = {coarseIdle, this};
            engine.m_idleInterval = interval;
        }
        engine.Run();
        if (recordsStates) // a loop run whole may end the program before an idle call
            exactStates.insert(look(hashOf(engine.m_data)));
    }
};

constexpr int RandomPrograms = SanitizedBuild ? 20 : 80;

// The program without the moves that place the pointer near the tape's end, for failure
// messages (all of it when it is nothing but moves).
std::string shown(const std::string &program)
{
    const std::size_t start = program.find_first_not_of('<');
    return start == std::string::npos ? program : program.substr(start);
}

// Programs with loops of every folded shape around output and input, some near a tape end of
// dialect's tape.
std::string randomProgram(std::mt19937 &random, const tDialect &dialect)
{
    const auto pick = [&](int count) {
        return std::uniform_int_distribution<int>(0, count - 1)(random);
    };
    static const char *const Pieces[] = {"+", "-", ">", "<", "++", ">>", ".", ",", "[-]", "[-<>]",
        "[->+<]", "[->>+++<<]", "[>]", "[<]", "[-<+>>+<]", "[->+>]", "[>+<-]>[<+>-]<", "[.-]",
        "[-[->+<]>.<]", "++++[->++++<]>[-<+>>.<]<", "+[-<<]", "[>.+<-]", "++[->+++[->[-]+<]<<+>]"};
    std::string program;
    if (pick(3) == 0)
        program = towardEnd(dialect, true, pick(3));
    for (int i = 10 + pick(30); i > 0; --i)
        program += Pieces[pick(static_cast<int>(std::size(Pieces)))];
    return program;
}

// A third of the programs in the default dialect, the others in one each. Wide cells come on
// short tapes: every hook call hashes the whole tape, and a loop of output rounds runs up to
// 65,535 of them there.
tDialect dialectOf(int program, std::mt19937 &random)
{
    if (program % 3 == 0)
        return {};
    tDialect dialect = dialectFor(random() % 1000);
    // Tapes of one or two cells end most runs at once; the other generators try them.
    dialect.tapeCells = std::max(dialect.tapeCells, 7);
    if (dialect.cellBits > 8)
        dialect.tapeCells = std::min(dialect.tapeCells, 300);
    return dialect;
}

TEST(HookState, OutputAndInputHooksSeeTheExactStateOnEveryPath)
{
    std::mt19937 random(11);
    int compared = 0;
    for (int i = 0; i < RandomPrograms; ++i) {
        const tDialect dialect = dialectOf(i, random);
        const std::string program = randomProgram(random, dialect);
        const bool dataWrap = i % 2 == 0;
        Watcher exact;
        exact.run(program, dataWrap, dialect, Path::Exact);
        if (exact.commands > 100000)
            continue;
        SCOPED_TRACE(shown(program) + " (" + describe(dialect) + ")");
        for (const Path path :
            {Path::Optimised, Path::Threaded, Path::Coarse, Path::CoarseThreaded}) {
            Watcher other;
            other.run(program, dataWrap, dialect, path, 64);
            EXPECT_TRUE(exact.transferSights == other.transferSights) << pathName(path);
        }
        compared += !exact.transferSights.empty();
        if (HasFailure())
            return;
    }
    EXPECT_GT(compared, RandomPrograms * 5 / 8);
}

TEST(HookState, CoarseIdleCallsSeeStatesOfTheExactRun)
{
    std::mt19937 random(5);
    long calls = 0;
    for (int i = 0; i < RandomPrograms; ++i) {
        const tDialect dialect = dialectOf(i, random);
        const std::string program = randomProgram(random, dialect);
        const bool dataWrap = i % 2 != 0;
        Watcher exact;
        exact.recordsStates = true;
        exact.run(program, dataWrap, dialect, Path::Exact);
        if (exact.commands > 100000)
            continue;
        SCOPED_TRACE(shown(program) + " (" + describe(dialect) + ")");
        for (const std::int32_t interval : {64, 1000}) {
            for (const Path path : CoarsePaths) {
                Watcher coarse;
                coarse.run(program, dataWrap, dialect, path, interval);
                for (const Sight &sight : coarse.idleSights)
                    EXPECT_TRUE(exact.exactStates.contains(sight))
                        << pathName(path) << ", interval " << interval << ": at command "
                        << sight.instructionPointer << ", cell " << sight.dataPointer;
                calls += static_cast<long>(coarse.idleSights.size());
            }
        }
        if (HasFailure())
            return;
    }
    EXPECT_GT(calls, RandomPrograms * 6);
}

TEST(HookState, ExactIdleCallsSeeTheNextCommandAndItsCell)
{
    Watcher exact;
    std::vector<std::pair<std::int32_t, std::int32_t>> seen;
    exact.engine.LoadCode(">+[<]");
    ASSERT_EQ(exact.engine.MatchBrackets(), ResultOk);
    struct Context
    {
        tBF *engine;
        std::vector<std::pair<std::int32_t, std::int32_t>> *seen;
    } context {&exact.engine, &seen};
    exact.engine.m_idleHook = {
        [](void *pointer) {
            auto *watched = static_cast<Context *>(pointer);
            watched->seen->emplace_back(
                watched->engine->m_instructionPointer, watched->engine->m_dataPointer);
        },
        &context};
    exact.engine.Run();
    const std::vector<std::pair<std::int32_t, std::int32_t>> expected {
        {1, 32767}, {2, 32768}, {3, 32768}, {4, 32768}, {5, 32767}};
    EXPECT_EQ(seen, expected);
}

} // namespace
