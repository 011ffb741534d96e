#include "arguments.h"
#include "configfolder.h"
#include "configloader.h"
#include "nativeexec.h"
#include "optimizer.h"
#include "profile.h"
#include "sourceprep.h"
#include "streams.h"
#include "u_Brainfuck.h"
#include "usererror.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

// sysexits.h codes, spelled out so that the runner documents them in one place.
constexpr int ExitUsage = 64;
constexpr int ExitNoInput = 66;
constexpr int ExitIoError = 74;

constexpr const char *UsageText =
    "Usage: cerebrix-run [OPTION]... FILE\n"
    "   or: cerebrix-run [OPTION]... -e CODE\n"
    "Runs the Brainfuck program in FILE (- reads it from standard input), or the\n"
    "program text CODE. Program input comes from standard input, output goes to\n"
    "standard output unchanged (each cell's low 8 bits).\n"
    "\n"
    "  -e, --code=CODE   run the program text CODE instead of a file\n"
    "      --cell-bits=8|16|32  cell width; arithmetic wraps at it (default 8)\n"
    "      --eof=zero|all-ones|unchanged  what \",\" stores once standard input has\n"
    "                    ended: 0 (default), the largest cell value, or nothing\n"
    "      --tape-cells=N  tape of N cells, 1 to 16777216 (default 65536)\n"
    "      --start=middle|left  the data pointer starts on cell (N-1)/2 (default)\n"
    "                    or on cell 0\n"
    "      --no-data-wrap  stop with an error when the data pointer leaves the tape,\n"
    "                    instead of wrapping around (\">\" on the last cell goes to\n"
    "                    cell 1, \"<\" on cell 0 to the last cell)\n"
    "  -p, --plain       take every command of the program; without it each line is\n"
    "                    cut at its first \";\", as the IDE's compile command does\n"
    "  -l, --listing     print the run-length listing of the program instead of\n"
    "                    running it, with the words of lang/assemb.ini from the\n"
    "                    configuration folder\n"
    "      --ops         print the operations the program is translated into, and the\n"
    "                    machine code made from them, instead of running it\n"
    "      --profile=FILE  run, and write to FILE how often each command ran: one line\n"
    "                    per command, LINE<TAB>COLUMN<TAB>COMMAND<TAB>COUNT, lines and\n"
    "                    columns from 1 in FILE's text (columns count characters)\n"
    "  -h, --help        show this text\n"
    "      --version     show the version\n"
    "  --                end the options: what follows is the FILE\n"
    "\n"
    "Short options combine (-pl, -pe CODE). The configuration folder is this program's\n"
    "own, or else ../share/cerebrix beside it.\n"
    "\n"
    "Exit status: 0 done, 1 or 2 data pointer left the tape, 3 or 4 unpaired brackets,\n"
    "64 bad usage, 66 unreadable file or one of more than 32000000 bytes (also an\n"
    "unreadable lang/assemb.ini), 74 input could not be read or output (or the\n"
    "profile) written,\n"
    "130 or 143 interrupted or terminated (the output so far is written first).\n";

// The IDE's code pane holds no more; a longer program text (or /dev/zero) is refused
// without being read to its end.
constexpr std::size_t MaxProgramBytes = 32000000;

// Reads the whole of fd, at most MaxProgramBytes; errno tells why when it returns nothing
// (EFBIG: the text is longer).
std::optional<std::string> readAll(int fd)
{
    std::string text;
    char chunk[1 << 16];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count == 0)
            return text;
        if (count < 0) {
            if (errno == EINTR ||
                ((errno == EAGAIN || errno == EWOULDBLOCK) && waitUntilReady(fd, POLLIN)))
                continue;
            return std::nullopt;
        }
        text.append(chunk, static_cast<std::size_t>(count));
        if (text.size() > MaxProgramBytes) {
            errno = EFBIG;
            return std::nullopt;
        }
    }
}

std::optional<std::string> readProgram(const std::string &file)
{
    if (file == "-")
        return readAll(STDIN_FILENO);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> text = readAll(fd); // a folder fails here with EISDIR
    const int error = errno;
    ::close(fd);
    errno = error;
    return text;
}

// The program's standard streams during a run. A failed write or read stops the run through
// the break flag, before the next command, instead of unwinding through the engine.
struct RunStreams
{
    tBF &engine;
    StdoutSink sink {STDOUT_FILENO};
    StdinSource source {STDIN_FILENO, sink};

    void stopOnStreamError()
    {
        if (sink.error() != 0 || source.error() != 0)
            engine.m_breakFlag = true;
    }
};

void writeToSink(void *context, std::uint8_t byte)
{
    auto *streams = static_cast<RunStreams *>(context);
    streams->sink.put(byte);
    streams->stopOnStreamError();
}

std::uint8_t readFromSource(void *context)
{
    auto *streams = static_cast<RunStreams *>(context);
    const std::uint8_t byte = streams->source.get(); // flushes the output first
    streams->engine.m_inputEnded = streams->source.ended();
    streams->stopOnStreamError();
    return byte;
}

// Messages go out through the C library's streams: the C++ streams' set-up of their locales,
// which a program using them pays at its start, was a tenth of a short run's time.
void sayError(const std::string &text)
{
    std::fputs(text.c_str(), stderr);
}

// Standard output could not be written: a reader that has gone away ends the program
// quietly, any other failure (a full disk, say) is an error that must not pass as success.
int reportWriteError(int error)
{
    if (error == EPIPE)
        return 0;
    sayError(std::string("cerebrix-run: cannot write output: ") + std::strerror(error) + '\n');
    return ExitIoError;
}

// Writes text to standard output and flushes it.
int printStandardOutput(std::string_view text)
{
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    if (std::fflush(stdout) != 0 || !written || std::ferror(stdout) != 0)
        return reportWriteError(errno != 0 ? errno : EIO);
    return 0;
}

// The folder of this executable, ending with '/', from which the configuration is found; the
// working directory has nothing to do with it.
std::string executableFolder(const char *argv0)
{
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        self = std::filesystem::absolute(argv0, error); // no /proc: trust how we were called
    return self.parent_path().string() + '/';
}

int printListing(const Options &options, const std::string &text, const char *argv0)
{
    tBF engine;
    const ConfigurationFolder folder = findConfigurationFolder(executableFolder(argv0));
    if (!folder.found) {
        std::string message = "cerebrix-run: no configuration in";
        for (const std::string &place : folder.looked)
            message += (&place == &folder.looked.front() ? " " : " or ") + place;
        sayError(message + "; the built-in listing words are used\n");
    }
    try {
        applyListingWords(readListingWords(folder.path), engine.m_mnemonics);
    } catch (const UserError &error) { // the terminal's counterpart of the window's error report
        sayError(std::string("cerebrix-run: ") + error.what() + '\n');
        return ExitNoInput;
    }
    engine.LoadCode(options.plain ? std::string_view(text) : prepareSource(text));
    // Through the same sink as a run's output, so a closed pipe ends both alike: quietly.
    // Line by line: a listing can be many times the size of its program.
    StdoutSink sink {STDOUT_FILENO};
    engine.writeListing([&](std::string_view line) {
        for (const char byte : line)
            sink.put(static_cast<std::uint8_t>(byte));
        return sink.error() == 0;
    });
    sink.flush();
    return sink.error() != 0 ? reportWriteError(sink.error()) : 0;
}

// CEREBRIX_ENGINE_PATH=threaded or exact forces that path, for comparisons and benchmarks;
// anything else runs the fastest.
tEnginePath enginePathFromEnvironment()
{
    const char *chosen = std::getenv("CEREBRIX_ENGINE_PATH");
    const std::string_view path = chosen ? chosen : "";
    if (path == "threaded")
        return tEnginePath::Threaded;
    if (path == "exact")
        return tEnginePath::Exact;
    return tEnginePath::Fastest;
}

// The translated operations and, where the fastest path has it, their machine code: what a
// run would execute, for tracing a difference to the transformation that made it.
int printOperations(const Options &options, const std::string &text)
{
    tBF engine;
    engine.LoadCode(options.plain ? std::string_view(text) : prepareSource(text));
    const int bracketResult = engine.MatchBrackets();
    if (bracketResult != ResultOk) {
        sayError(defaultErrorMessages()[static_cast<std::size_t>(bracketResult)] + '\n');
        return bracketResult;
    }
    engine.m_dialect = options.dialect;
    const std::optional<Program> program =
        translateProgram(engine.m_code, engine.m_jumps, engine.m_codeLength, optionsFor(engine));
    std::string printed = program ? describeOperations(*program) : std::string();
    if (program && enginePathFromEnvironment() == tEnginePath::Fastest) {
        const std::string assembly = nativeAssembly(*program, false);
        if (!assembly.empty())
            printed += "\n" + assembly;
    }
    return printStandardOutput(printed);
}

// Writes the profile table to file; false (errno saying why) when it could not be written.
bool writeProfile(const std::string &file, const std::string &table)
{
    std::FILE *stream = std::fopen(file.c_str(), "wb");
    if (!stream)
        return false;
    const bool written = std::fwrite(table.data(), 1, table.size(), stream) == table.size();
    const int error = errno;
    if (std::fclose(stream) != 0 || !written) {
        if (!written)
            errno = error;
        return false;
    }
    return true;
}

int runProgram(const Options &options, const std::string &text)
{
    tBF engine;
    const ErrorMessageTable messages = defaultErrorMessages();
    engine.LoadCode(options.plain ? std::string_view(text) : prepareSource(text));
    const int bracketResult = engine.MatchBrackets();
    if (bracketResult != ResultOk) {
        sayError(messages[static_cast<std::size_t>(bracketResult)] + '\n');
        return bracketResult;
    }
    RunStreams streams {engine};
    // A terminal shows each line as the program writes it; files and pipes get it in blocks.
    streams.sink.setLineBuffered(::isatty(STDOUT_FILENO) != 0);
    streams.sink.flushOnTermination();
    engine.m_outputHook = {writeToSink, &streams};
    engine.m_inputHook = {readFromSource, &streams};
    engine.m_dataWrap = options.dataWrap;
    engine.m_dialect = options.dialect;
    engine.m_path = enginePathFromEnvironment();
    tProfile profile;
    const int result =
        options.profile ? runProfiled(engine, profile).value_or(ResultOk) : engine.Run();
    engine.FreeData();
    streams.sink.flush();
    if (streams.sink.error() != 0)
        return reportWriteError(streams.sink.error());
    if (streams.source.error() != 0) {
        sayError(std::string("cerebrix-run: cannot read input: ") +
            std::strerror(streams.source.error()) + '\n');
        return ExitIoError;
    }
    if (result != ResultOk)
        sayError(messages[static_cast<std::size_t>(result)] + '\n');
    if (options.profile) {
        // Lines and columns of the text as given: with --plain every command of it counts,
        // otherwise those the compile command keeps.
        std::vector<std::size_t> offsets;
        if (options.plain) {
            for (std::size_t at = 0; at < text.size(); ++at) {
                if (std::string_view("+-<>.,[]").find(text[at]) != std::string_view::npos)
                    offsets.push_back(at);
            }
        } else {
            offsets = mapSource(text).commands;
        }
        const std::string table =
            profileTable(text, offsets, engine, profile.commandCounts(engine));
        if (!writeProfile(*options.profile, table)) {
            sayError("cerebrix-run: cannot write profile " + *options.profile + ": " +
                std::strerror(errno) + '\n');
            return result != ResultOk ? result : ExitIoError;
        }
    }
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN); // a closed pipe shows up as EPIPE and ends the run quietly
    const Options options = parseArguments(argc, argv);
    if (!options.error.empty()) {
        sayError("cerebrix-run: " + options.error + "\n\n" + UsageText);
        return ExitUsage;
    }
    if (options.help || options.version) {
        return printStandardOutput(
            options.help ? UsageText : "cerebrix-run " CEREBRIX_VERSION "\n");
    }
    const std::optional<std::string> text = options.code ? options.code : readProgram(options.file);
    if (!text) {
        const int error = errno;
        std::string message = "cerebrix-run: cannot read " + options.file;
        if (error == EFBIG)
            message += ": longer than " + std::to_string(MaxProgramBytes) + " bytes";
        else if (error != 0)
            message += std::string(": ") + std::strerror(error);
        sayError(message + '\n');
        return ExitNoInput;
    }
    if (options.listing)
        return printListing(options, *text, argv[0]);
    if (options.operations)
        return printOperations(options, *text);
    return runProgram(options, *text);
}
