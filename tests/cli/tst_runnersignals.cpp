#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// The runner interrupted in the middle of a run, also while its reader takes nothing; its
// output on a terminal; and streams that do not wait, as other programs may hand it.

namespace {

const std::string runner = CEREBRIX_RUN;

struct Child
{
    pid_t pid = -1;
    int input = -1; // the write end of its standard input
    std::string program; // the file it runs
};

// Starts the runner on a file holding program, with a pipe the test writes as its standard
// input and outputFd as its standard output; nonBlocking makes both streams O_NONBLOCK.
Child start(const std::string &program, int outputFd, bool nonBlocking = false)
{
    char path[] = "/tmp/cerebrix-signalsXXXXXX";
    const int file = ::mkstemp(path);
    EXPECT_EQ(::write(file, program.data(), program.size()), static_cast<ssize_t>(program.size()));
    ::close(file);
    int input[2];
    EXPECT_EQ(::pipe(input), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (nonBlocking) {
            ::fcntl(input[0], F_SETFL, ::fcntl(input[0], F_GETFL) | O_NONBLOCK);
            ::fcntl(outputFd, F_SETFL, ::fcntl(outputFd, F_GETFL) | O_NONBLOCK);
        }
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(outputFd, STDOUT_FILENO);
        ::close(input[0]);
        ::close(input[1]);
        ::execl(runner.c_str(), runner.c_str(), path, static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(input[0]);
    return {pid, input[1], path};
}

// Reads from fd until it holds count bytes, the writer is gone or ten seconds pass.
std::string readSome(int fd, std::size_t count)
{
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd ready {fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        char chunk[256];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
}

// Waits for the child, ten seconds at most; its exit status, 1000 + the signal that killed
// it, or -1 when it had to be killed for not ending.
int exitStatusOf(const Child &child)
{
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(child.pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, &status, 0);
            status = -1;
            break;
        }
        ::usleep(10000);
    }
    if (status == -1) {
        ::close(child.input);
        ::unlink(child.program.c_str());
        return -1;
    }
    ::close(child.input);
    ::unlink(child.program.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

struct SignalRow
{
    const char *name;
    int signal;
    int exitStatus;
};

void PrintTo(const SignalRow &row, std::ostream *stream)
{
    *stream << row.name;
}

class Interrupted : public testing::TestWithParam<SignalRow>
{ };

// ".," writes a byte 0 and flushes it before it waits for input: once the test reads it,
// the run is in progress. "ABC" then stays in the runner's buffer, since an endless loop
// follows, until the signal writes it out.
TEST_P(Interrupted, WritesTheOutputSoFarAndExits)
{
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    const Child child = start(".,>++++++++[>++++++++<-]>+.+.+.[]", output[1]);
    ::close(output[1]);
    ASSERT_EQ(readSome(output[0], 1), std::string(1, '\0'));
    ASSERT_EQ(::write(child.input, "x", 1), 1);
    ::usleep(200000); // the three bytes take microseconds; the loop then spins
    ::kill(child.pid, GetParam().signal);
    EXPECT_EQ(readSome(output[0], 3), "ABC");
    EXPECT_EQ(exitStatusOf(child), GetParam().exitStatus);
    ::close(output[0]);
}

// More output than a pipe holds, then an endless loop, into a pipe nobody reads: the signal
// cannot write the rest and must not wait for a reader that never comes.
TEST_P(Interrupted, EndsPromptlyWhenNobodyReads)
{
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    const Child child = start(std::string(70000, '.') + "+[]", output[1]);
    ::close(output[1]);
    ::usleep(300000);
    ::kill(child.pid, GetParam().signal);
    EXPECT_EQ(exitStatusOf(child), GetParam().exitStatus);
    ::close(output[0]);
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupted,
    testing::Values(SignalRow {"Interrupt", SIGINT, 130}, SignalRow {"Terminate", SIGTERM, 143}),
    [](const testing::TestParamInfo<SignalRow> &row) { return row.param.name; });

TEST(Terminal, ShowsEachLineAsItIsWritten)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    // "F" and a line break, then an endless loop: only a flush per line shows them.
    const Child child = start("++++++++[>+++++++++<-]>--.<++++++++++.[]", terminal);
    ::close(terminal);
    EXPECT_EQ(readSome(master, 3), "F\r\n"); // the terminal turns LF into CR LF
    ::kill(child.pid, SIGTERM);
    EXPECT_EQ(exitStatusOf(child), 143);
    ::close(master);
}

// Non-blocking standard streams with a slow reader and a slow writer: the runner waits for
// them as for blocking ones, and loses nothing.
TEST(NonBlockingStreams, WaitForReaderAndWriter)
{
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    // Echoes its input, then writes 200,000 bytes: more than a pipe holds.
    const Child child = start(",[.,]" + std::string(200000, '.'), output[1], true);
    ::close(output[1]);
    for (const char *part : {"ab", "cd"}) {
        ::usleep(100000);
        ASSERT_EQ(::write(child.input, part, 2), 2);
    }
    ::close(child.input);
    ::usleep(300000); // the runner meets a full pipe while nobody reads
    EXPECT_EQ(readSome(output[0], 1 << 20), "abcd" + std::string(200000, '\0'));
    EXPECT_EQ(exitStatusOf(child), 0);
    ::close(output[0]);
}

} // namespace
