#include "arguments.h"
#include "fuzzsupport.h"
#include "sourceprep.h"
#include "streams.h"
#include "u_Brainfuck.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

// The runner's way from its command line to the engine: arbitrary arguments (the lines before
// the first empty one), then the program text the arguments choose how to prepare, which also
// goes through the runner's output sink and input source over a pipe.

namespace {

bool isCommand(char c)
{
    return std::string_view("+-<>,.[]").find(c) != std::string_view::npos;
}

std::string commandsOf(std::string_view text)
{
    std::string commands;
    for (const char c : text) {
        if (isCommand(c))
            commands += c;
    }
    return commands;
}

// Writes text through a sink into a pipe and reads it back through a source: the same bytes,
// then the byte 0 for the end of input.
void throughThePipe(std::string_view text)
{
    int ends[2];
    FUZZ_CHECK(::pipe(ends) == 0);
    {
        StdoutSink sink(ends[1]);
        for (const char c : text)
            sink.put(static_cast<std::uint8_t>(c));
        sink.flush();
        FUZZ_CHECK(sink.error() == 0);
    }
    ::close(ends[1]);
    StdoutSink unused(-1);
    StdinSource source(ends[0], unused);
    for (const char c : text)
        FUZZ_CHECK(source.get() == static_cast<std::uint8_t>(c));
    FUZZ_CHECK(source.get() == 0 && source.error() == 0);
    ::close(ends[0]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A pipe holds 64 KiB: more would block the writer, which is also the reader here.
    if (size > 60000)
        return 0;
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const std::size_t split = input.find("\n\n");
    const std::string_view line = input.substr(0, split);
    const std::string_view text = split == std::string_view::npos ? "" : input.substr(split + 2);

    std::vector<std::string> arguments {"cerebrix-run"};
    for (std::size_t start = 0; start <= line.size() && arguments.size() < 6;) {
        const std::size_t end = std::min(line.find('\n', start), line.size());
        arguments.emplace_back(line.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(argument.c_str());
    const Options options = parseArguments(int(argv.size()), argv.data());
    if (options.error.empty() && !options.help && !options.version) {
        // The program comes from one argument: the file's name or the text after -e.
        bool named = false; // as the runner sees it: an argument ends at its first byte 0
        for (std::size_t i = 1; i < argv.size(); ++i) {
            const std::string_view argument = argv[i];
            named = named ||
                (options.code ? argument.ends_with(*options.code) : options.file == argument);
        }
        FUZZ_CHECK(named);
    }

    const std::string prepared = prepareSource(text);
    // Preparing only cuts comments and trims lines: its commands are some of the text's, in order.
    const std::string all = commandsOf(text);
    const std::string kept = commandsOf(prepared);
    std::size_t at = 0;
    for (const char c : kept) {
        at = all.find(c, at);
        FUZZ_CHECK(at != std::string::npos);
        ++at;
    }
    FUZZ_CHECK(prepared.find(';') == std::string::npos);
    tBF engine;
    engine.LoadCode(options.error.empty() && options.plain ? text : std::string_view(prepared));
    const int paired = engine.MatchBrackets();
    FUZZ_CHECK(
        paired == ResultOk || paired == ResultTooManyClosing || paired == ResultTooFewClosing);

    throughThePipe(text);
    return 0;
}
