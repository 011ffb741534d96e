#include "configloader.h"
#include "inifile.h"
#include "sourceprep.h"
#include "u_Brainfuck.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

// The folder holding the BF.ini and lang/ that we ship.
const std::string ShippedDir = CEREBRIX_SHIPPED_DIR "/";

struct Session
{
    std::string input;
    std::size_t nextInput = 0;
    std::string output;
    long long steps = 0;
};

// Runs source as the IDE's compile and run commands do, input bytes given up front (0 after
// their end). An example that loops forever is stopped and fails.
std::string runExample(const std::string &source, const std::string &input)
{
    tBF engine;
    Session session;
    session.input = input;
    engine.m_outputHook = {[](void *context, std::uint8_t byte) {
                               static_cast<Session *>(context)->output += static_cast<char>(byte);
                           },
        &session};
    engine.m_inputHook = {[](void *context) -> std::uint8_t {
                              Session &s = *static_cast<Session *>(context);
                              if (s.nextInput == s.input.size())
                                  return 0;
                              return static_cast<std::uint8_t>(s.input[s.nextInput++]);
                          },
        &session};
    engine.m_idleHook = {[](void *context) {
                             Session &s = *static_cast<Session *>(context);
                             if (++s.steps > 100000000)
                                 throw std::runtime_error("example does not stop");
                         },
        &session};
    engine.LoadCode(prepareSource(source));
    EXPECT_EQ(engine.MatchBrackets(), ResultOk);
    EXPECT_EQ(engine.Run(), ResultOk);
    return session.output;
}

std::string multiplicationTable()
{
    std::string table;
    for (int row = 1; row <= 9; ++row) {
        for (int column = 1; column <= 9; ++column) {
            const std::string number = std::to_string(row * column);
            table += std::string(3 - number.size(), ' ') + number;
        }
        table += '\n';
    }
    return table;
}

struct ExampleCase
{
    const char *name;
    std::size_t example; // 1-based, as in the menu
    std::string input;
    std::string expected;
};

class ShippedExampleTest : public testing::TestWithParam<std::tuple<const char *, ExampleCase>>
{ };

TEST_P(ShippedExampleTest, PrintsExpectedOutput)
{
    const auto &[language, c] = GetParam();
    const std::vector<Example> examples = readExamples(ShippedDir, language);
    ASSERT_GE(examples.size(), c.example);
    const Example &example = examples[c.example - 1];
    EXPECT_FALSE(example.title.empty());
    EXPECT_NE(example.title, "-no title-");
    EXPECT_EQ(runExample(example.text, c.input), c.expected);
}

const ExampleCase ExampleCases[] = {
    {"HelloWorld", 1, "", "Hello World!\n"},
    {"EchoStopsAtLineFeed", 2, "Echo me!\nnot this\n", "Echo me!"},
    {"EchoStopsAtEndOfInput", 2, "no line feed", "no line feed"},
    {"EchoEmptyLine", 2, "\n", ""},
    {"Counter", 3, "", "0 1 2 3 4 5 6 7 8 9\n"},
    {"AddSmall", 4, "34", "3+4=7\n"},
    {"AddLargest", 4, "99", "9+9=18\n"},
    {"AddToTen", 4, "55", "5+5=10\n"},
    {"AddZeros", 4, "00", "0+0=0\n"},
    {"Reverse", 5, "Hello, reader!\n", "!redaer ,olleH\n"},
    {"ReverseEmptyLine", 5, "\n", "\n"},
    {"ReverseToEndOfInput", 5, "abc", "cba\n"},
    {"ReverseOnlyFirstLine", 5, "x\nyz\n", "x\n"},
    {"MultiplicationTable", 6, "", multiplicationTable()},
    {"Rot13Letters", 7, "Hello, World! azAZ mnMN\n", "Uryyb, Jbeyq! nmNM zaZA\n"},
    {"Rot13LeavesNeighbours", 7, "@[`{\n", "@[`{\n"},
    {"Rot13TwiceIsIdentity", 7, "Uryyb\n", "Hello\n"},
    {"Rot13ToEndOfInput", 7, "abc", "nop\n"},
    {"Squares", 8, "", " 1\n 4\n 9\n16\n25\n36\n49\n64\n81\n"},
};

INSTANTIATE_TEST_SUITE_P(Examples, ShippedExampleTest,
    testing::Combine(testing::Values("EN", "DE"), testing::ValuesIn(ExampleCases)),
    [](const testing::TestParamInfo<std::tuple<const char *, ExampleCase>> &p) {
        return std::string(std::get<0>(p.param)) + "_" + std::get<1>(p.param).name;
    });

class ShippedLanguageTest : public testing::TestWithParam<const char *>
{ };

// A misspelt key would silently leave its text empty in the window.
TEST_P(ShippedLanguageTest, InterfaceFileSetsEveryKey)
{
    const TMemIniFile ini(ShippedDir + "lang/GUI_" + GetParam() + ".ini");
    const char *const keys[][2] = {
        {"PopupMenu", "Code_fileopen"},
        {"PopupMenu", "Code_filesave"},
        {"PopupMenu", "Code_FilterCode"},
        {"Buttons", "BTN_COMPILE"},
        {"Buttons", "BTN_RUN"},
        {"PopupMenu", "Code_Disassemble"},
        {"PopupMenu", "Output_Clear"},
        {"PopupMenu", "Input_blank"},
        {"PopupMenu", "Input_Newline"},
        {"PopupMenu", "Input_CR"},
        {"PopupMenu", "Input_tab"},
        {"PopupMenu", "Input_null"},
        {"PopupMenu", "input_255"},
        {"Hints", "compile"},
        {"Hints", "run"},
        {"Hints", "input"},
        {"Hints", "adviceButtons"},
        {"Hints", "code"},
        {"Hints", "adviceInput"},
        {"dialogs", "filefilter"},
        {"dialogs", "DefaultExt"},
        {"Engine_ErrMsg", "ErrMsg1"},
        {"Engine_ErrMsg", "ErrMsg2"},
        {"Engine_ErrMsg", "ErrMsg3"},
        {"Engine_ErrMsg", "ErrMsg4"},
    };
    for (const auto &key : keys)
        EXPECT_NE(ini.ReadString(key[0], key[1], ""), "") << key[0] << " " << key[1];
    EXPECT_EQ(ini.ReadString("dialogs", "DefaultExt", ""), "bf");
}

// Each preset types the text before its first blank.
TEST_P(ShippedLanguageTest, InputPresetsTypeTheirCodes)
{
    const InterfaceTexts texts = readInterfaceTexts(ShippedDir, GetParam());
    const char *const codes[] = {"#32", "#10", "#13", "#9", "#0", "#255"};
    for (std::size_t i = 0; i < texts.inputPresets.size(); ++i)
        EXPECT_EQ(texts.inputPresets[i].substr(0, texts.inputPresets[i].find(' ')), codes[i]);
}

TEST_P(ShippedLanguageTest, BothLanguagesShipTheSamePrograms)
{
    const std::vector<Example> these = readExamples(ShippedDir, GetParam());
    const std::vector<Example> english = readExamples(ShippedDir, "EN");
    ASSERT_EQ(these.size(), english.size());
    for (std::size_t i = 0; i < these.size(); ++i)
        EXPECT_EQ(prepareSource(these[i].text), prepareSource(english[i].text)) << i + 1;
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedLanguageTest, testing::Values("EN", "DE"));

TEST(ShippedConfigTest, SelectsEnglishAndFillsEveryListingWord)
{
    EXPECT_EQ(readMainSettings(ShippedDir).languageCode, "EN");
    const MnemonicTable words = readListingWords(ShippedDir);
    for (std::size_t slot = 1; slot < words.size(); ++slot)
        EXPECT_NE(words[slot], "") << slot;
}

TEST(ShippedConfigTest, EveryWordSetIsComplete)
{
    const TMemIniFile ini(ShippedDir + "lang/assemb.ini");
    for (int set = 1;; ++set) {
        const std::string section = ini.ReadString("Language", "asmLang" + std::to_string(set), "");
        if (section.empty()) {
            EXPECT_GE(set, 3) << "fewer than two word sets";
            return;
        }
        for (int slot = 1; slot <= 12; ++slot)
            EXPECT_NE(ini.ReadString(section, "Assemb" + std::to_string(slot), ""), "")
                << section << " " << slot;
    }
}

} // namespace
