#include "runprocess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const std::string runner = CEREBRIX_RUN;

std::string writeProgram(const std::string &name, const std::string &text)
{
    const auto path = std::filesystem::temp_directory_path() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

struct ExitCase
{
    const char *name;
    std::vector<std::string> options;
    std::string program;
    std::string input;
    int exitStatus;
    std::string out;
    std::string err;
};

class RunnerExit : public testing::TestWithParam<ExitCase>
{ };

TEST_P(RunnerExit, StatusStreamsAndMessages)
{
    const ExitCase &c = GetParam();
    std::vector<std::string> arguments {runner};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(writeProgram(std::string("cerebrix-") + c.name + ".bf", c.program));
    const ProcessResult result = runProcess(arguments, c.input);
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
}

const std::string leftEnd(32768, '<');

INSTANTIATE_TEST_SUITE_P(Table, RunnerExit,
    testing::Values(ExitCase {"Echo", {}, ",[.,]", "abc", 0, "abc", ""},
        ExitCase {"CommentCutsLine", {}, "+++; ignored .\n.", "", 0, "\x03", ""},
        ExitCase {
            "PlainKeepsCommentCommands", {"--plain"}, "+++; counted .\n.", "", 0, "\x03\x03", ""},
        ExitCase {"TooManyClosing", {}, "+.]", "", 3, "", "too many closing brackets\n"},
        ExitCase {"TooFewClosing", {}, "+.[", "", 4, "", "too little closing brackets\n"},
        ExitCase {"BelowDataArea", {"--no-data-wrap"}, "+." + leftEnd, "", 2, "\x01",
            "access below data-area\n"},
        ExitCase {"WrapByDefault", {}, "+." + leftEnd + ".", "", 0, std::string("\x01\0", 2), ""},
        ExitCase {"AboveDataArea", {"--no-data-wrap"}, "." + std::string(32769, '>'), "", 1,
            std::string(1, '\0'), "access above data-area\n"}),
    [](const auto &row) { return std::string(row.param.name); });

// --profile: each command's line and column in the text as the run reads it (CR LF, CR and
// LF end lines; columns count characters) and how often it ran, also when the run fails.
struct ProfileCase
{
    const char *name;
    std::vector<std::string> options;
    std::string program;
    int exitStatus;
    std::string profile;
};

class RunnerProfile : public testing::TestWithParam<ProfileCase>
{ };

TEST_P(RunnerProfile, LinesColumnsCommandsAndCounts)
{
    const ProfileCase &c = GetParam();
    // One file per case: ctest runs the cases side by side.
    const auto file =
        std::filesystem::temp_directory_path() / (std::string("cerebrix-") + c.name + ".tsv");
    std::filesystem::remove(file);
    std::vector<std::string> arguments {runner, "--profile=" + file.string()};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(writeProgram(std::string("cerebrix-") + c.name + ".bf", c.program));
    EXPECT_EQ(runProcess(arguments, "").exitStatus, c.exitStatus);
    std::ifstream stream(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stream), {}), c.profile);
}

INSTANTIATE_TEST_SUITE_P(Table, RunnerProfile,
    testing::Values(ProfileCase {"Loops", {}, "++[>+++[-]<-]", 0,
                        "1\t1\t+\t1\n1\t2\t+\t1\n1\t3\t[\t1\n1\t4\t>\t2\n1\t5\t+\t2\n"
                        "1\t6\t+\t2\n1\t7\t+\t2\n1\t8\t[\t2\n1\t9\t-\t6\n1\t10\t]\t6\n"
                        "1\t11\t<\t2\n1\t12\t-\t2\n1\t13\t]\t2\n"},
        ProfileCase {"CompiledText", {}, "\xc3\xa9+; [\r\n  .\r>\n", 0,
            "1\t2\t+\t1\n2\t3\t.\t1\n3\t1\t>\t1\n"},
        ProfileCase {"PlainText", {"--plain"}, "+; [-]", 0,
            "1\t1\t+\t1\n1\t4\t[\t1\n1\t5\t-\t1\n1\t6\t]\t1\n"},
        ProfileCase {"FailingCommandDidNotRun", {"--no-data-wrap", "--start=left"}, "+<+", 2,
            "1\t1\t+\t1\n1\t2\t<\t0\n1\t3\t+\t0\n"},
        ProfileCase {"UnpairedWritesNone", {}, "+[", 4, ""}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(Runner, AProfileThatCannotBeWrittenIsAnError)
{
    const ProcessResult result =
        runProcess({runner, "--profile=/nonexistent/p.tsv", "-e", "+."}, "");
    EXPECT_EQ(result.exitStatus, 74);
    EXPECT_EQ(result.out, "\x01");
    EXPECT_EQ(result.err,
        "cerebrix-run: cannot write profile /nonexistent/p.tsv: No such file or directory\n");
    EXPECT_NE(runProcess({runner, "--profile=", "-e", "+"}, "").exitStatus, 0);
}

// Bad usage names what is wrong, then shows the usage.
TEST(Runner, UsageErrorsNameTheOption)
{
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{}, "no program given: name a FILE, - for standard input, or -e CODE"},
        {{"--bogus", "x.bf"}, "unknown option '--bogus'"},
        {{"-px", "x.bf"}, "unknown option '-x'"},
        {{"--plain=yes", "x.bf"}, "option '--plain' takes no value"},
        {{"-e"}, "option '-e' needs the program text"},
        {{"--code"}, "option '--code' needs the program text"},
        {{"a", "b"}, "more than one program: 'a' and 'b'"},
        {{"-e", "+", "b"}, "more than one program: -e '+' and 'b'"},
        {{"--cell-bits=12", "x.bf"}, "option '--cell-bits' takes 8, 16 or 32, not '12'"},
        {{"--eof", "minus", "x.bf"},
            "option '--eof' takes zero, all-ones or unchanged, not 'minus'"},
        {{"--tape-cells=0x10", "x.bf"},
            "option '--tape-cells' takes a number of cells from 1 to 16777216, not '0x10'"},
        {{"--tape-cells=16777217", "x.bf"},
            "option '--tape-cells' takes a number of cells from 1 to 16777216, not '16777217'"},
        {{"--start=right", "x.bf"}, "option '--start' takes middle or left, not 'right'"},
        {{"x.bf", "--start"}, "option '--start' needs a value"},
    };
    for (const auto &[arguments, error] : rows) {
        std::vector<std::string> command {runner};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const ProcessResult result = runProcess(command, "");
        EXPECT_EQ(result.exitStatus, 64) << error;
        EXPECT_EQ(result.err.rfind("cerebrix-run: " + error + "\n\nUsage: cerebrix-run", 0), 0u)
            << result.err;
    }
    const ProcessResult help = runProcess({runner, "-h"}, "");
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.out.rfind("Usage: cerebrix-run", 0), 0u);
    const ProcessResult version = runProcess({runner, "--version"}, "");
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, "cerebrix-run " CEREBRIX_VERSION "\n");
}

// Every way of giving the program and the options reaches the same run.
TEST(Runner, ProgramTextAndOptionSpellings)
{
    const std::string program = "+++; .\n[-]++++++++[>++++++++<-]>+.";
    const std::string file = writeProgram("cerebrix-spellings.bf", program);
    std::string countdown; // of -[-.], whose text looks like an option
    for (int value = 254; value >= 0; --value)
        countdown += static_cast<char>(value);
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"-e", program}, "A"},
        {{"-e" + program}, "A"},
        {{"--code=" + program}, "A"},
        {{"--code", program}, "A"},
        {{"-pe", program},
            "\x03"
            "A"},
        {{"-p", "--", file},
            "\x03"
            "A"},
        {{file, "--plain"},
            "\x03"
            "A"},
        {{"-e", "-[-.]", "--"}, countdown},
    };
    for (const auto &[arguments, out] : rows) {
        std::vector<std::string> command {runner};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const ProcessResult result = runProcess(command, "");
        EXPECT_EQ(result.exitStatus, 0) << arguments.front();
        EXPECT_EQ(result.out, out) << arguments.front();
    }
    const ProcessResult listing = runProcess({runner, "-le", "+++>"}, "");
    EXPECT_EQ(listing.exitStatus, 0);
    EXPECT_FALSE(listing.out.empty());
}

// The dialect options reach the run: input "A" then its end.
TEST(Runner, DialectOptionsShapeTheRun)
{
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"-e", ",.,.", "--eof=all-ones"}, "A\xFF"}, {{"-e", ",.,.", "--eof", "unchanged"}, "AA"},
        {{"-e", ",.,.", "--eof=zero"}, std::string("A\0", 2)},
        {{"-e", ",,+[+>+<]>.", "--cell-bits=16"}, "\xFF"}, // 65,535 rounds: its low byte
        {{"-e", ",,+[+>+<]>.", "--cell-bits", "32", "--eof=all-ones"}, std::string("\0", 1)},
        {{"-e", ",<<<.", "--tape-cells=3", "--start=left"}, "A"}, // 0, 2, 1, 0
        {{"-e", ",>>>.", "--tape-cells=3", "--start=left"}, std::string("\0", 1)}, // 1, 2, 1
        {{"-e", ",>.", "--tape-cells=1"}, "A"}, // a one-cell tape wraps onto itself
    };
    for (const auto &[arguments, out] : rows) {
        std::vector<std::string> command {runner};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const ProcessResult result = runProcess(command, "A");
        EXPECT_EQ(result.exitStatus, 0) << arguments[1];
        EXPECT_EQ(result.out, out) << arguments[1] << " " << arguments[2];
    }
}

// --ops prints every operation a run executes, by name, then the machine code made of them.
TEST(Runner, PrintsTheOperations)
{
    const ProcessResult result = runProcess({runner, "--ops", "-e", "+[->+<]>."}, "");
    EXPECT_EQ(result.exitStatus, 0);
    for (const char *kind : {"Add", "MultiplyOne", "Output", "End"})
        EXPECT_NE(result.out.find(kind), std::string::npos) << kind << " in\n" << result.out;
#if defined(CEREBRIX_NATIVE) && defined(__x86_64__)
    EXPECT_NE(result.out.find("op0:"), std::string::npos) << result.out;
#endif
    EXPECT_EQ(runProcess({runner, "--ops", "-e", "+]"}, "").exitStatus, 3);
}

TEST(Runner, UnreadableFileIsNamed)
{
    for (const std::string &path :
        {std::string("/nonexistent/prog.bf"), std::filesystem::temp_directory_path().string()}) {
        const ProcessResult result = runProcess({runner, path}, "");
        EXPECT_EQ(result.exitStatus, 66);
        EXPECT_NE(result.err.find(path), std::string::npos) << result.err;
    }
}

TEST(Runner, ProgramFromStandardInput)
{
    const ProcessResult result = runProcess({runner, "-"}, "++++++++[>++++++++<-]>+.");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "A");
}

TEST(Runner, BrokenPipeEndsQuietly)
{
    // An endless printer, and a listing far larger than a pipe holds, must stop without a
    // message once their reader has gone.
    std::string longProgram;
    for (int i = 0; i < 100000; ++i)
        longProgram += "+>";
    const std::string endless = writeProgram("cerebrix-endless.bf", "+[.]");
    const std::string listed = writeProgram("cerebrix-listed.bf", longProgram);
    for (const std::string &arguments : {"'" + endless + "'", "--listing '" + listed + "'"}) {
        const std::string script =
            "'" + runner + "' " + arguments + " | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}";
        const ProcessResult result = runProcess({"bash", "-c", script}, "");
        EXPECT_EQ(result.exitStatus, 0) << arguments;
        EXPECT_EQ(result.err, "") << arguments;
    }
}

TEST(Runner, ProgramTextIsBounded)
{
    // /dev/zero never ends: it is refused after the first 32,000,000 bytes, as a file or as
    // standard input.
    const std::string tooLong = ": longer than 32000000 bytes\n";
    const ProcessResult file = runProcess({runner, "/dev/zero"}, "");
    EXPECT_EQ(file.exitStatus, 66);
    EXPECT_EQ(file.err, "cerebrix-run: cannot read /dev/zero" + tooLong);
    const ProcessResult standardInput = runProcess({runner, "-"}, "", "/dev/zero");
    EXPECT_EQ(standardInput.exitStatus, 66);
    EXPECT_EQ(standardInput.err, "cerebrix-run: cannot read -" + tooLong);
}

TEST(Runner, UnreadableInputIsAnError)
{
    // A folder as standard input fails to read: not the end of the input, and not success.
    const std::string program = writeProgram("cerebrix-read.bf", "+.,.");
    const ProcessResult result =
        runProcess({runner, program}, "", std::filesystem::temp_directory_path().string());
    EXPECT_EQ(result.exitStatus, 74);
    EXPECT_EQ(result.out, "\x01");
    EXPECT_EQ(result.err, "cerebrix-run: cannot read input: Is a directory\n");
}

TEST(Runner, FailedWriteIsAnErrorNotSuccess)
{
    const std::string program = writeProgram("cerebrix-full.bf", "+[.]");
    for (const std::string &arguments :
        {"'" + program + "'", "--listing '" + program + "'", std::string("--help")}) {
        const ProcessResult result =
            runProcess({"bash", "-c", "'" + runner + "' " + arguments + " >/dev/full"}, "");
        EXPECT_EQ(result.exitStatus, 74) << arguments;
        EXPECT_NE(result.err.find("cannot write output"), std::string::npos) << result.err;
    }
}

} // namespace
