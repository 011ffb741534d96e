// Times the heavy corpus programs on the engine's exact path, on its optimised path with each
// back end (machine code and the threaded loop), with the coarse idle hook the window declares
// (called at least every 1,048,576 work units) on each back end, through the cerebrix-run process,
// in the real window on the offscreen platform (cerebrix-bench-window times the run alone,
// without its start-up) and through the plain reference interpreter (naive.c, built with
// cc -O2 beside this benchmark), and prints seconds, ns per command, speed-ups and each time
// over cerebrix-run's; then the time to translate each program and to generate its code.
#include "corpus.h"
#include "nativeexec.h"
#include "optimizer.h"
#include "u_Brainfuck.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr const char *UsageText =
    "Usage: cerebrix-bench [--runs N] [--corpus DIR] [--cell-bits 8|16|32] [--no-exact]\n"
    "                      [--no-naive] [--no-window] [NAME...]\n"
    "Times corpus programs (default: mandelbrot hanoi long bench counter) on the exact\n"
    "path, the optimised path's two back ends, with a coarse idle hook, the cerebrix-run\n"
    "process, the IDE window and the reference interpreter, and the time to translate\n"
    "each program and to generate its machine code. --cell-bits runs them on cells of\n"
    "that width (the window, which runs in its own dialect, only on 8-bit cells).\n"
    "Each figure is the median of N runs (default 3), taken in rounds of one run of each.\n"
    "Run it alone on the machine.\n";

struct Options
{
    int runs = 3;
    bool exact = true;
    bool naive = true;
    bool window = true;
    int cellBits = 8;
    std::string corpus = CEREBRIX_CORPUS_DIR;
    std::vector<std::string> names;
};

std::optional<Options> parseArguments(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if ((argument == "--runs" || argument == "--corpus" || argument == "--cell-bits") &&
            i + 1 < argc) {
            const std::string value = argv[++i];
            if (argument == "--corpus") {
                options.corpus = value;
                continue;
            }
            if (argument == "--cell-bits") {
                options.cellBits = std::atoi(value.c_str());
                if (options.cellBits != 8 && options.cellBits != 16 && options.cellBits != 32)
                    return std::nullopt;
                continue;
            }
            options.runs = std::atoi(value.c_str());
            if (options.runs < 1)
                return std::nullopt;
        } else if (argument == "--no-exact") {
            options.exact = false;
        } else if (argument == "--no-naive") {
            options.naive = false;
        } else if (argument == "--no-window") {
            options.window = false;
        } else if (!argument.empty() && argument[0] == '-') {
            return std::nullopt;
        } else {
            options.names.push_back(argument);
        }
    }
    if (options.names.empty())
        options.names = {"mandelbrot", "hanoi", "long", "bench", "counter"};
    return options;
}

struct CorpusProgram
{
    std::string name;
    std::string source;
    std::string input;
    std::string sourcePath;
    std::string inputPath; // /dev/null when the program reads nothing
};

// Feeds the program its input and throws its output away, counting bytes so that the work
// cannot be optimised out.
struct Host
{
    const std::string *input = nullptr;
    std::size_t position = 0;
    std::size_t outputBytes = 0;
    long long idleCalls = 0;
};

void discardOutput(void *context, std::uint8_t)
{
    ++static_cast<Host *>(context)->outputBytes;
}

std::uint8_t readInput(void *context)
{
    auto *host = static_cast<Host *>(context);
    return host->position < host->input->size()
        ? static_cast<std::uint8_t>((*host->input)[host->position++])
        : 0;
}

void countIdle(void *context)
{
    ++static_cast<Host *>(context)->idleCalls;
}

void noIdle(void *) { }

enum class EnginePath { Exact, Native, Threaded, Coarse, CoarseThreaded, Counting };

// The interval the window declares for its idle hook.
constexpr std::int32_t WindowIdleInterval = 1 << 20;

// Runs the program once in this process; returns seconds (or, counting, the command count).
double runEngine(const CorpusProgram &program, EnginePath path, int cellBits = 8)
{
    tBF engine;
    engine.m_dialect.cellBits = cellBits;
    Host host {&program.input};
    engine.LoadCode(program.source);
    engine.MatchBrackets();
    engine.m_outputHook = {discardOutput, &host};
    engine.m_inputHook = {readInput, &host};
    if (path == EnginePath::Exact)
        engine.m_idleHook = {noIdle, &host}; // not the default: the exact path runs
    const bool coarse = path == EnginePath::Coarse || path == EnginePath::CoarseThreaded;
    if (path == EnginePath::Counting || coarse)
        engine.m_idleHook = {countIdle, &host};
    if (coarse)
        engine.m_idleInterval = WindowIdleInterval;
    if (path == EnginePath::Threaded || path == EnginePath::CoarseThreaded)
        engine.m_path = tEnginePath::Threaded;
    const auto begin = std::chrono::steady_clock::now();
    engine.Run();
    const auto end = std::chrono::steady_clock::now();
    engine.FreeData();
    if (path == EnginePath::Counting)
        return static_cast<double>(host.idleCalls);
    return std::chrono::duration<double>(end - begin).count();
}

// Spawns arguments with standard input from inputPath and output to /dev/null; returns the
// wall-clock seconds until it ends, or a negative number when it could not run.
double runProcess(const std::vector<std::string> &arguments, const std::string &inputPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inputPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    const auto begin = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status))
        return -1;
    return std::chrono::duration<double>(end - begin).count();
}

#ifdef CEREBRIX_BENCH_WINDOW
// Runs the program in the window; returns the seconds its run took there, negative when the
// window could not run it.
double runWindow(const std::string &sourcePath)
{
    const std::string command =
        "'" CEREBRIX_BENCH_WINDOW "' --program '" + sourcePath + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    double seconds = -1;
    if (std::fscanf(pipe, "%lf", &seconds) != 1)
        seconds = -1;
    return pclose(pipe) == 0 ? seconds : -1;
}
#endif

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Measurement
{
    std::string label;
    std::function<double()> once; // seconds of one run, negative when it cannot run
};

std::vector<Measurement> measurementsFor(const CorpusProgram &program, const Options &options)
{
    std::vector<Measurement> list;
    const int bits = options.cellBits;
    if (options.exact)
        list.push_back(
            {"exact path", [&, bits] { return runEngine(program, EnginePath::Exact, bits); }});
    if (nativeCodeAvailable())
        list.push_back(
            {"machine code", [&, bits] { return runEngine(program, EnginePath::Native, bits); }});
    list.push_back(
        {"threaded", [&, bits] { return runEngine(program, EnginePath::Threaded, bits); }});
    if (nativeCodeAvailable())
        list.push_back(
            {"coarse, code", [&, bits] { return runEngine(program, EnginePath::Coarse, bits); }});
    list.push_back({"coarse, thread",
        [&, bits] { return runEngine(program, EnginePath::CoarseThreaded, bits); }});
    list.push_back({"cerebrix-run", [&, bits] {
                        return runProcess(
                            {CEREBRIX_RUN, "--plain", "--cell-bits=" + std::to_string(bits),
                                program.sourcePath},
                            program.inputPath);
                    }});
#ifdef CEREBRIX_BENCH_WINDOW
    // The window would ask for input in a dialog, and runs in its own dialect.
    if (program.inputPath == "/dev/null" && options.window && bits == 8)
        list.push_back({"IDE window", [&] { return runWindow(program.sourcePath); }});
#endif
#ifdef CEREBRIX_NAIVE
    if (options.naive)
        list.push_back(
            {"naive.c -O2", [&] {
                 return runProcess({CEREBRIX_NAIVE, program.sourcePath}, program.inputPath);
             }});
#endif
    return list;
}

// Milliseconds to translate the program and to generate its machine code (negative when the
// back end is missing or declines it), medians of runs.
std::pair<double, double> preparationTimes(const CorpusProgram &program, int runs)
{
    tBF engine;
    engine.LoadCode(program.source);
    engine.MatchBrackets();
    std::vector<double> translation;
    std::vector<double> generation;
    for (int run = 0; run < runs; ++run) {
        const auto begin = std::chrono::steady_clock::now();
        const std::optional<Program> translated =
            translateProgram(engine.m_code, engine.m_jumps, engine.m_codeLength);
        const auto translatedAt = std::chrono::steady_clock::now();
        const bool generated = translated && compileNative(*translated, true) != nullptr;
        const auto end = std::chrono::steady_clock::now();
        translation.push_back(
            std::chrono::duration<double, std::milli>(translatedAt - begin).count());
        generation.push_back(
            generated ? std::chrono::duration<double, std::milli>(end - translatedAt).count() : -1);
    }
    return {median(translation), median(generation)};
}

void printGeometricMean(const char *label, const std::vector<double> &speedups)
{
    if (speedups.empty())
        return;
    double logSum = 0;
    for (const double speedup : speedups)
        logSum += std::log(speedup);
    std::printf("geometric mean of %s speed-ups over naive.c: %.1fx\n", label,
        std::exp(logSum / static_cast<double>(speedups.size())));
}

std::string ratio(double reference, double seconds)
{
    if (reference <= 0 || seconds <= 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", reference / seconds);
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    const std::optional<Options> options = parseArguments(argc, argv);
    if (!options) {
        std::cerr << UsageText;
        return 64;
    }
    std::printf("%-11s %-15s %9s %9s %10s %10s %8s\n", "program", "path", "seconds", "ns/cmd",
        "vs naive", "vs exact", "/ run");
    std::vector<double> runnerSpeedups;
    std::vector<double> nativeSpeedups;
    std::vector<double> threadedSpeedups;
    for (const std::string &name : options->names) {
        CorpusProgram program;
        program.name = name;
        program.sourcePath = options->corpus + "/" + name + ".b";
        const std::optional<std::string> source = readFile(program.sourcePath);
        if (!source) {
            std::fprintf(stderr, "cerebrix-bench: cannot read %s\n", program.sourcePath.c_str());
            continue;
        }
        program.source = *source;
        program.inputPath = options->corpus + "/" + name + ".in";
        if (const std::optional<std::string> input = readFile(program.inputPath))
            program.input = *input;
        else
            program.inputPath = "/dev/null";

        std::optional<long long> commands = manifestCommands(options->corpus, name);
        if (!commands) // count them once through a per-command idle hook
            commands = static_cast<long long>(runEngine(program, EnginePath::Counting));
        std::printf("%-11s %lld commands\n", name.c_str(), *commands);

        // Round by round, each path once a round: a machine that slows down for a while slows
        // every path alike, and the ratios between them stay true.
        const std::vector<Measurement> measurements = measurementsFor(program, *options);
        std::vector<std::vector<double>> times(measurements.size());
        for (int run = 0; run < options->runs; ++run) {
            for (std::size_t path = 0; path < measurements.size(); ++path)
                times[path].push_back(measurements[path].once());
        }
        std::vector<std::pair<std::string, double>> rows;
        for (std::size_t path = 0; path < measurements.size(); ++path)
            rows.emplace_back(measurements[path].label, median(times[path]));
        const auto secondsOf = [&](const std::string &label) {
            for (const auto &[rowLabel, seconds] : rows) {
                if (rowLabel == label)
                    return seconds;
            }
            return -1.0;
        };
        const double naive = secondsOf("naive.c -O2");
        const double exact = secondsOf("exact path");
        const double runner = secondsOf("cerebrix-run");
        for (const auto &[label, seconds] : rows) {
            std::printf("%-11s %-15s %9.3f %9.3f %10s %10s %8s\n", "", label.c_str(), seconds,
                seconds * 1e9 / static_cast<double>(*commands), ratio(naive, seconds).c_str(),
                ratio(exact, seconds).c_str(), ratio(seconds, runner).c_str());
        }
        const auto addSpeedup = [&](std::vector<double> &to, const char *label) {
            if (naive > 0 && secondsOf(label) > 0)
                to.push_back(naive / secondsOf(label));
        };
        addSpeedup(runnerSpeedups, "cerebrix-run");
        addSpeedup(nativeSpeedups, "machine code");
        addSpeedup(threadedSpeedups, "threaded");
        const auto [translation, generation] = preparationTimes(program, options->runs);
        std::printf("%-11s translation %.2f ms, machine code %s\n", "", translation,
            generation < 0 ? "none" : (std::to_string(generation) + " ms").c_str());
        std::fflush(stdout);
    }
    printGeometricMean("cerebrix-run", runnerSpeedups);
    printGeometricMean("machine-code", nativeSpeedups);
    printGeometricMean("threaded", threadedSpeedups);
    return 0;
}
