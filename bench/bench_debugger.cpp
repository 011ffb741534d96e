// Times the debugger on the corpus: a run to a breakpoint that is never hit against the
// window's plain run (the coarse idle hook), how soon a pause takes effect, one step in a
// 1 MB program, a step back after 100 million commands with the history's memory, and the
// search back for the last change of a cell written long ago; a profiled run against a plain
// one, the travel to the '.' that printed a character of mandelbrot's last line, and a
// continue with a watchpoint on a cell the run seldom writes against a plain continue.
#include "corpus.h"
#include "debugger.h"
#include "profile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void load(tBF &engine, const std::string &program)
{
    engine.LoadCode(program);
    engine.MatchBrackets();
}

void discard(void *, std::uint8_t) { }
std::uint8_t zero(void *)
{
    return 0;
}
void nothing(void *) { }

// The window's plain run: a coarse idle hook every 1,048,576 units.
double plainRun(const std::string &program)
{
    tBF engine;
    load(engine, program);
    engine.m_outputHook = {discard, nullptr};
    engine.m_inputHook = {zero, nullptr};
    engine.m_idleHook = {nothing, nullptr};
    engine.m_idleInterval = 1 << 20;
    const auto start = Clock::now();
    engine.Run();
    return secondsSince(start);
}

struct Debugged
{
    explicit Debugged(const std::string &program)
        : debugger(engine)
    {
        load(engine, program);
        debugger.hostOutput = {discard, nullptr};
        debugger.hostInput = {zero, nullptr};
        debugger.start();
    }
    tBF engine;
    tDebugger debugger;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A pause request waits for the next idle call: the longest gap between two of them, and the
// time from a request made in one to the stop.
struct PauseFigures
{
    double longestGap = 0;
    double requestToStop = 0;
};

// Runs for half a second, then pauses.
PauseFigures pauseLatency(const std::string &program, bool optimised)
{
    Debugged run(program);
    if (!optimised)
        run.debugger.exactFirst = tDebugger::NoLimit;
    struct Pauser
    {
        tDebugger *debugger;
        Clock::time_point start, requested, last;
        bool done = false;
        double longestGap = 0;
    } pauser {&run.debugger, Clock::now(), {}, Clock::now()};
    run.debugger.hostIdle = {[](void *context) {
                                 auto &p = *static_cast<Pauser *>(context);
                                 p.longestGap = std::max(p.longestGap, secondsSince(p.last));
                                 p.last = Clock::now();
                                 if (!p.done && secondsSince(p.start) > 0.5) {
                                     p.done = true;
                                     p.requested = Clock::now();
                                     p.debugger->requestPause();
                                 }
                             },
        &pauser};
    run.debugger.resume();
    return {pauser.longestGap, pauser.done ? secondsSince(pauser.requested) : -1};
}

} // namespace

int main(int argc, char **argv)
{
    const std::string corpus = argc > 1 ? argv[1] : CEREBRIX_CORPUS_DIR;
    const std::string mandelbrot = readFile(corpus + "/mandelbrot.b").value_or("");
    if (mandelbrot.empty()) {
        std::fprintf(stderr, "cerebrix-bench-debugger: no mandelbrot.b in %s\n", corpus.c_str());
        return 1;
    }
    // A breakpoint in a loop the run skips: set, never hit.
    const std::string program = "[.]" + mandelbrot;
    std::vector<double> plain, debugged;
    for (int i = 0; i < 3; ++i) {
        plain.push_back(plainRun(program));
        Debugged run(program);
        run.debugger.setBreakpoint(2, true);
        const auto start = Clock::now();
        run.debugger.resume();
        debugged.push_back(secondsSince(start));
    }
    std::printf("mandelbrot to a breakpoint never hit: %.2f s, plain window run %.2f s: %.2f x "
                "(target at most 1.5 x)\n",
        median(debugged), median(plain), median(debugged) / median(plain));

    {
        // The runner's plain run (default hooks, machine code where built) against its profiled
        // one, and the debugger's continue against its profiled continue.
        std::vector<double> runs, profiled, resumed, resumedProfiled;
        for (int i = 0; i < 3; ++i) {
            tBF engine;
            load(engine, mandelbrot);
            auto start = Clock::now();
            engine.Run();
            runs.push_back(secondsSince(start));
            tProfile profile;
            start = Clock::now();
            runProfiled(engine, profile);
            profiled.push_back(secondsSince(start));
            for (const bool profiles : {false, true}) {
                Debugged run(mandelbrot);
                start = Clock::now();
                if (profiles)
                    run.debugger.profiledResume();
                else
                    run.debugger.resume();
                (profiles ? resumedProfiled : resumed).push_back(secondsSince(start));
            }
        }
        std::printf("profile of mandelbrot: %.2f s, plain run %.2f s: %.2f x (target within 3 x); "
                    "in the debugger %.2f s against a continue's %.2f s: %.2f x\n",
            median(profiled), median(runs), median(profiled) / median(runs),
            median(resumedProfiled), median(resumed), median(resumedProfiled) / median(resumed));
    }

    {
        // Mandelbrot run to its end, then each character of its last line clicked: the travel
        // back to the '.' that printed it (median and slowest).
        Debugged run(mandelbrot);
        run.debugger.resume();
        const std::string &printed = run.debugger.printed();
        const std::size_t lastLine = printed.rfind('\n', printed.size() - 2) + 1;
        std::vector<double> travels;
        bool exact = true;
        for (std::size_t index = lastLine; index < printed.size(); index += 7) {
            const auto start = Clock::now();
            const DebugStop stop = run.debugger.travelToOutput(index);
            travels.push_back(secondsSince(start));
            exact = exact && stop == DebugStop::Target &&
                run.debugger.outputs() == static_cast<std::int64_t>(index) + 1;
        }
        std::printf("to the '.' of a character of mandelbrot's last line (%zu clicks, %lld "
                    "commands in the run): median %.1f ms, slowest %.1f ms (target under 1 s)%s\n",
            travels.size(), static_cast<long long>(run.debugger.printedAt().back()),
            median(travels) * 1e3, *std::max_element(travels.begin(), travels.end()) * 1e3,
            exact ? "" : " NOT EXACT");
    }

    // A watched cell mandelbrot writes seldom, beside the cells it works on most: the blocks
    // that reach past it run one by one.
    for (const std::int32_t offset : {5}) {
        std::vector<double> alone, watched;
        long long stops = 0;
        std::int32_t cell = 0;
        for (int i = 0; i < 3; ++i) {
            Debugged plainRun(mandelbrot);
            auto start = Clock::now();
            plainRun.debugger.runToEnd();
            alone.push_back(secondsSince(start));
            Debugged run(mandelbrot);
            cell = run.debugger.dataPointer() + offset;
            run.debugger.setWatch({.first = cell, .last = cell}, true);
            stops = 0;
            start = Clock::now();
            while (run.debugger.resume() == DebugStop::Watchpoint)
                ++stops;
            watched.push_back(secondsSince(start));
        }
        std::printf("mandelbrot with a watchpoint on start cell + %d (%lld stops): %.2f s, plain "
                    "continue %.2f s: %.2f x (target at most 2 x)\n",
            offset, stops, median(watched), median(alone), median(watched) / median(alone));
    }

    for (const bool optimised : {true, false}) {
        const PauseFigures pause = pauseLatency(mandelbrot, optimised);
        std::printf("pause (%s): at most %.3f ms between idle calls, %.3f ms from a request to "
                    "the stop (target under 100 ms)\n",
            optimised ? "optimised" : "one by one", pause.longestGap * 1e3,
            pause.requestToStop * 1e3);
    }

    // A 1 MB program: mandelbrot again and again.
    std::string large;
    while (large.size() < (1u << 20))
        large += mandelbrot;
    {
        Debugged run(large);
        const auto start = Clock::now();
        constexpr int Steps = 1000;
        for (int i = 0; i < Steps; ++i)
            run.debugger.stepInto();
        std::printf("one step in a %zu KB program: %.2f us (the window's view update is in "
                    "cerebrix-bench-window)\n",
            large.size() >> 10, secondsSince(start) * 1e6 / Steps);
    }

    {
        Debugged run(mandelbrot);
        struct Counter
        {
            tBF *engine;
            tDebugger *debugger;
        } counter {&run.engine, &run.debugger};
        run.debugger.hostIdle = {[](void *context) {
                                     auto &c = *static_cast<Counter *>(context);
                                     if (c.engine->m_commandCount >= 100'000'000)
                                         c.debugger->requestPause();
                                 },
            &counter};
        run.debugger.resume();
        const long long commands = run.debugger.commands();
        const auto start = Clock::now();
        run.debugger.stepBack();
        const double back = secondsSince(start);
        const auto reverseStart = Clock::now();
        run.debugger.stepBack();
        std::printf("step back after %lld commands: %.1f ms (target under 1 s); history %.1f MB "
                    "(target under 512 MB); second step back %.1f ms\n",
            commands, back * 1e3, static_cast<double>(run.debugger.historyBytes()) / (1 << 20),
            secondsSince(reverseStart) * 1e3);
    }

    // A cell written once, then counters beside it that run on and on: the search back
    // replays every command since the write.
    for (const auto &[rounds, nested] : {std::pair {"++++++++++++++++++++++++++++++++", false},
             std::pair {"++++++++++++++++++++++++++++++", true}}) {
        const std::string loops = nested ? "[>-[>-[>-[-]<-]<-]<-]" : "[>-[>-[-]<-]<-]";
        Debugged run(std::string("+>") + rounds + loops);
        const std::int32_t cell = run.debugger.dataPointer();
        run.debugger.resume();
        const long long back = run.debugger.commands() - 1;
        const auto start = Clock::now();
        const DebugStop stop = run.debugger.lastChange(cell);
        std::printf("last change of a cell written %lld commands back: %.1f ms (target under "
                    "%s)%s\n",
            back, secondsSince(start) * 1e3, nested ? "2 s" : "50 ms",
            stop == DebugStop::Target && run.debugger.commands() == 1 ? "" : " NOT FOUND");
    }
    return 0;
}
