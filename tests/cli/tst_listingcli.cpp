#include "runprocess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string runner = CEREBRIX_RUN;

// A copy of the runner in a folder of its own, so that each case decides what lies beside it.
// The working directory is another folder holding decoy words that must never be used.
class ListingFolder
{
public:
    ListingFolder()
        : m_root(fs::temp_directory_path() / ("cerebrix-listing-" + std::to_string(::getpid())))
    {
        fs::remove_all(m_root);
        fs::create_directories(m_root / "bin" / "lang");
        fs::create_directories(m_root / "work" / "lang");
        std::ofstream(m_root / "work" / "lang" / "assemb.ini") << "[asm_STD]\nAssemb1=DECOY\n";
        fs::copy_file(runner, m_root / "bin" / "cerebrix-run");
        m_previousDirectory = fs::current_path();
        fs::current_path(m_root / "work");
    }
    ~ListingFolder()
    {
        fs::current_path(m_previousDirectory);
        fs::remove_all(m_root);
    }
    std::string copiedRunner() const { return (m_root / "bin" / "cerebrix-run").string(); }
    fs::path wordFile() const { return m_root / "bin" / "lang" / "assemb.ini"; }
    // As a package lays it out: nothing beside the runner, the words in ../share/cerebrix.
    fs::path sharedWordFile() const
    {
        fs::remove_all(m_root / "bin" / "lang");
        fs::create_directories(m_root / "share" / "cerebrix" / "lang");
        return m_root / "share" / "cerebrix" / "lang" / "assemb.ini";
    }
    std::string root() const { return m_root.string(); }
    std::string program(const std::string &text) const
    {
        std::ofstream(m_root / "work" / "program.bf", std::ios::binary) << text;
        return (m_root / "work" / "program.bf").string();
    }

private:
    fs::path m_root;
    fs::path m_previousDirectory;
};

enum class Words { None, Custom, Unreadable, SharedCustom, Nowhere };

struct ListingCase
{
    const char *name;
    Words words;
    std::vector<std::string> options;
    std::string program;
    int exitStatus;
    std::string out;
};

class ListingCli : public testing::TestWithParam<ListingCase>
{ };

TEST_P(ListingCli, PrintsListingWithWordsBesideTheRunner)
{
    const ListingCase &c = GetParam();
    const ListingFolder folder;
    if (c.words == Words::Nowhere)
        fs::remove_all(fs::path(folder.wordFile()).parent_path());
    if (c.words == Words::Custom || c.words == Words::SharedCustom)
        std::ofstream(c.words == Words::Custom ? folder.wordFile() : folder.sharedWordFile())
            << "[Language]\nasmlanguage=mine\nmine=w\n"
               "[w]\nAssemb1=\"inc \"\nAssemb3=\"right \"\nAssemb5=out\n"
               "Assemb10=\"move \"\n";
    if (c.words == Words::Unreadable)
        fs::create_directory(folder.wordFile());
    std::vector<std::string> arguments {folder.copiedRunner(), "--listing"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(folder.program(c.program));
    const ProcessResult result = runProcess(arguments, "");
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    EXPECT_EQ(result.out, c.out);
    if (c.exitStatus == 66)
        EXPECT_NE(result.err.find(folder.wordFile().string() + " kann nicht geöffnet werden"),
            std::string::npos)
            << result.err;
    else if (c.words == Words::Nowhere)
        EXPECT_EQ(result.err,
            "cerebrix-run: no configuration in " + folder.root() + "/bin/ or " + folder.root() +
                "/share/cerebrix/; the built-in listing words are used\n");
    else
        EXPECT_EQ(result.err, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, ListingCli,
    testing::Values(
        ListingCase {"NoWordFile", Words::None, {}, "++[->+<]>.", 0, " 2\r\n 1\r\n 1\r\n \r\n"},
        ListingCase {"WordsBesideRunner", Words::Custom, {}, "++[->+<]>.", 0,
            " inc 2\r\n move 1\r\n right 1\r\n out\r\n"},
        ListingCase {"WordsInstalledInShare", Words::SharedCustom, {}, "++[->+<]>.", 0,
            " inc 2\r\n move 1\r\n right 1\r\n out\r\n"},
        ListingCase {"NoConfigurationAnywhere", Words::Nowhere, {}, "++[->+<]>.", 0,
            " 2\r\n 1\r\n 1\r\n \r\n"},
        ListingCase {"CommentsCutAsCompileDoes", Words::None, {}, "+++ ; ++\n>", 0, " 3\r\n 1\r\n"},
        ListingCase {
            "PlainKeepsComments", Words::None, {"--plain"}, "+++ ; ++\n>", 0, " 5\r\n 1\r\n"},
        ListingCase {"EmptyProgram", Words::None, {}, "no commands", 0, ""},
        ListingCase {"UnreadableWordFile", Words::Unreadable, {}, "+", 66, ""}),
    [](const testing::TestParamInfo<ListingCase> &p) { return p.param.name; });

// The build copies the shipped words beside the runner itself.
TEST(ListingCliShipped, UsesTheShippedWords)
{
    const ProcessResult result = runProcess({runner, "--listing", "-"}, "");
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "");
    const fs::path program = fs::temp_directory_path() / "cerebrix-listing-shipped.bf";
    std::ofstream(program) << "+[-]";
    const ProcessResult listed = runProcess({runner, "--listing", program.string()}, "");
    fs::remove(program);
    EXPECT_EQ(listed.out, " ADD \r\n CLEAR\r\n");
}

} // namespace
