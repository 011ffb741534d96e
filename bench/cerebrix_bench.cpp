// Times the heavy corpus programs on the engine's exact path, on its optimised path, with the
// coarse idle hook the window declares (called at least every 65536 work units), through the
// cerebrix-run process, in the real window on the offscreen platform (cerebrix-bench-window
// times the run alone, without its start-up) and through the plain reference interpreter
// (naive.c, built with cc -O2 beside this benchmark), and prints seconds, ns per command,
// speed-ups and each time over cerebrix-run's.
#include "corpus.h"
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
    "Usage: cerebrix-bench [--runs N] [--corpus DIR] [--no-exact] [--no-naive] [NAME...]\n"
    "Times corpus programs (default: mandelbrot hanoi long bench counter) on the exact\n"
    "path, the optimised path, with a coarse idle hook, the cerebrix-run process, the IDE\n"
    "window and the reference interpreter.\n"
    "Each figure is the median of N runs (default 3). Run it alone on the machine.\n";

struct Options
{
    int runs = 3;
    bool exact = true;
    bool naive = true;
    std::string corpus = CEREBRIX_CORPUS_DIR;
    std::vector<std::string> names;
};

std::optional<Options> parseArguments(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if ((argument == "--runs" || argument == "--corpus") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (argument == "--corpus") {
                options.corpus = value;
                continue;
            }
            options.runs = std::atoi(value.c_str());
            if (options.runs < 1)
                return std::nullopt;
        } else if (argument == "--no-exact") {
            options.exact = false;
        } else if (argument == "--no-naive") {
            options.naive = false;
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

struct Program
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

enum class EnginePath { Exact, Optimised, Coarse, Counting };

// The interval the window declares for its idle hook.
constexpr std::int32_t WindowIdleInterval = 1 << 16;

// Runs the program once in this process; returns seconds (or, counting, the command count).
double runEngine(const Program &program, EnginePath path)
{
    tBF engine;
    Host host {&program.input};
    engine.LoadCode(program.source);
    engine.MatchBrackets();
    engine.m_outputHook = {discardOutput, &host};
    engine.m_inputHook = {readInput, &host};
    if (path == EnginePath::Exact)
        engine.m_idleHook = {noIdle, &host}; // not the default: the exact path runs
    if (path == EnginePath::Counting || path == EnginePath::Coarse)
        engine.m_idleHook = {countIdle, &host};
    if (path == EnginePath::Coarse)
        engine.m_idleInterval = WindowIdleInterval;
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

std::vector<Measurement> measurementsFor(const Program &program, const Options &options)
{
    std::vector<Measurement> list;
    if (options.exact)
        list.push_back({"exact path", [&] { return runEngine(program, EnginePath::Exact); }});
    list.push_back({"optimised path", [&] { return runEngine(program, EnginePath::Optimised); }});
    list.push_back({"coarse idle", [&] { return runEngine(program, EnginePath::Coarse); }});
    list.push_back(
        {"cerebrix-run", [&] {
             return runProcess({CEREBRIX_RUN, "--plain", program.sourcePath}, program.inputPath);
         }});
#ifdef CEREBRIX_BENCH_WINDOW
    if (program.inputPath == "/dev/null") // the window would ask for input in a dialog
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
    for (const std::string &name : options->names) {
        Program program;
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

        std::vector<std::pair<std::string, double>> rows;
        for (const Measurement &measurement : measurementsFor(program, *options)) {
            std::vector<double> times;
            for (int run = 0; run < options->runs; ++run)
                times.push_back(measurement.once());
            rows.emplace_back(measurement.label, median(times));
        }
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
        if (naive > 0 && secondsOf("cerebrix-run") > 0)
            runnerSpeedups.push_back(naive / secondsOf("cerebrix-run"));
        std::fflush(stdout);
    }
    if (!runnerSpeedups.empty()) {
        double logSum = 0;
        for (const double speedup : runnerSpeedups)
            logSum += std::log(speedup);
        std::printf("geometric mean of cerebrix-run speed-ups over naive.c: %.1fx\n",
            std::exp(logSum / static_cast<double>(runnerSpeedups.size())));
    }
    return 0;
}
