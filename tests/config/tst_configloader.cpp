#include "configloader.h"
#include "usererror.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// Names each parameterised case after its row.
struct CaseName
{
    template<class Case>
    std::string operator()(const testing::TestParamInfo<Case> &p) const
    {
        return p.param.name;
    }
};

const std::string DataDir = CEREBRIX_CONFIG_TEST_DATA "/";

// A scratch folder standing in for the executable's folder.
class ScratchFolder
{
public:
    ScratchFolder()
        : m_path(std::filesystem::path(testing::TempDir()) /
              ("cerebrix_loader_" + std::to_string(::getpid())))
    {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path / "lang");
    }
    ~ScratchFolder() { std::filesystem::remove_all(m_path); }
    void write(const std::string &name, const std::string &bytes) const
    {
        std::ofstream(m_path / name, std::ios::binary) << bytes;
    }
    void makeFolder(const std::string &name) const
    {
        std::filesystem::create_directory(m_path / name);
    }
    std::string dir() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
};

TEST(ConfigLoaderTest, NoFilesGiveDefaults)
{
    const std::string dir = DataDir + "absent/";
    const MainSettings settings = readMainSettings(dir);
    EXPECT_EQ(settings.dataSize, 63336);
    EXPECT_EQ(settings.cellRange, 256);
    EXPECT_TRUE(settings.dataWrap);
    EXPECT_TRUE(settings.valueWrap);
    EXPECT_EQ(settings.languageCode, "DE");
    EXPECT_TRUE(settings.aboutLines.empty());
    EXPECT_TRUE(readExamples(dir, "DE").empty());

    const InterfaceTexts texts = readInterfaceTexts(dir, "DE");
    EXPECT_EQ(texts.buttonCompile, "&Brain");
    EXPECT_EQ(texts.buttonRun, "&Jolt");
    EXPECT_EQ(texts.codeFileOpen, "&load");
    for (const std::string &caption : texts.inputPresets)
        EXPECT_EQ(caption, "");
    ErrorMessageTable table = defaultErrorMessages();
    applyErrorMessages(texts, table);
    EXPECT_EQ(table, defaultErrorMessages());

    MnemonicTable words {};
    applyListingWords(readListingWords(dir), words);
    EXPECT_EQ(words, MnemonicTable {});
}

TEST(ConfigLoaderTest, MainSettingsEdgeCases)
{
    const MainSettings settings = readMainSettings(DataDir + "emptycode/");
    EXPECT_EQ(settings.dataSize, 300); // [engine] and DATASIZE fold
    EXPECT_FALSE(settings.dataWrap);
    EXPECT_TRUE(settings.valueWrap); // a word gives the default
    EXPECT_EQ(settings.languageCode, "");
    EXPECT_EQ(settings.aboutLines, (std::vector<std::string> {"first", " second with blanks "}));
}

TEST(ConfigLoaderTest, EmptyCodeNamesFilesWithoutCode)
{
    const std::vector<Example> examples = readExamples(DataDir + "emptycode/", "");
    ASSERT_EQ(examples.size(), 4u);
    EXPECT_EQ(examples[0].title, "");
    EXPECT_EQ(examples[0].text, "+++\r\n .\r\n");
    EXPECT_EQ(examples[1].title, "-no title-");
    EXPECT_EQ(examples[1].text, ",.\r\n");
    EXPECT_EQ(examples[2].title, " Quoted title ");
    EXPECT_EQ(examples[2].text, "");
    EXPECT_EQ(examples[3].title, "\"unclosed");
}

TEST(ConfigLoaderTest, InterfaceTextsEmptyAndMissingKeys)
{
    const InterfaceTexts texts = readInterfaceTexts(DataDir + "emptycode/", "");
    EXPECT_EQ(texts.codeFileOpen, ""); // present and empty stays empty
    EXPECT_EQ(texts.codeFileSave, "&save");
    EXPECT_EQ(texts.buttonRun, "&Go");
    EXPECT_EQ(texts.inputPresets[0], "#32 blank");
    EXPECT_EQ(texts.hintRun, "Runs it");
    EXPECT_EQ(texts.hintCompile, "");

    ErrorMessageTable table = defaultErrorMessages();
    applyErrorMessages(texts, table);
    EXPECT_EQ(table[2], defaultErrorMessages()[2]); // empty ErrMsg2 keeps the text
    EXPECT_EQ(table[3], "unpaired ]"); // ErrMsg3 read although ErrMsg1 and 2 give nothing
    EXPECT_EQ(table[4], defaultErrorMessages()[4]);
}

TEST(ConfigLoaderTest, ListingWordsFromNamedSection)
{
    MnemonicTable table {};
    table[3] = "kept";
    applyListingWords(readListingWords(DataDir + "emptycode/"), table);
    EXPECT_EQ(table[1], "plus");
    EXPECT_EQ(table[2], "");
    EXPECT_EQ(table[3], "kept"); // an empty word leaves the slot
    EXPECT_EQ(table[12], "twelve");
}

TEST(ConfigLoaderTest, SecondSectionOfANameHidesTheFirst)
{
    const MainSettings settings = readMainSettings(DataDir + "english/");
    EXPECT_EQ(settings.dataSize, 63336);
    EXPECT_EQ(settings.cellRange, 16);
    EXPECT_EQ(settings.languageCode, "EN");
}

TEST(ConfigLoaderTest, NegativeCountGivesNoExamplesAndReadingGoesOn)
{
    const std::string dir = DataDir + "english/";
    EXPECT_TRUE(readExamples(dir, "EN").empty());
    const InterfaceTexts texts = readInterfaceTexts(dir, "EN");
    EXPECT_EQ(texts.buttonCompile, "second");
    ErrorMessageTable table = defaultErrorMessages();
    applyErrorMessages(texts, table);
    EXPECT_EQ(table[2], "below");
}

TEST(ConfigLoaderTest, MissingWordSetKeyFallsBackToStandardSection)
{
    EXPECT_EQ(readListingWords(DataDir + "english/")[1], "standard");
}

struct MainCase
{
    const char *name;
    const char *bytes;
    std::int32_t dataSize;
    bool dataWrap;
    const char *languageCode;
};

class MainSettingsTest : public testing::TestWithParam<MainCase>
{ };

TEST_P(MainSettingsTest, ReadsBFIni)
{
    const ScratchFolder folder;
    folder.write("BF.ini", GetParam().bytes);
    const MainSettings settings = readMainSettings(folder.dir());
    EXPECT_EQ(settings.dataSize, GetParam().dataSize);
    EXPECT_EQ(settings.dataWrap, GetParam().dataWrap);
    EXPECT_EQ(settings.languageCode, GetParam().languageCode);
}

INSTANTIATE_TEST_SUITE_P(Values, MainSettingsTest,
    testing::Values(MainCase {"HexZeroX", "[Engine]\nDatasize=0x100\n", 256, true, "DE"},
        MainCase {"HexDollar", "[Engine]\nDatasize=$100\n", 256, true, "DE"},
        MainCase {"BlanksBefore", "[Engine]\nDatasize=\"  256\"\n", 256, true, "DE"},
        MainCase {"WordAfter", "[Engine]\nDatasize=256 kB\n", 63336, true, "DE"},
        MainCase {"OutOfRange", "[Engine]\nDatasize=2147483648\n", 63336, true, "DE"},
        MainCase {"WrapZero", "[Engine]\nDataCircular=0\n", 63336, false, "DE"},
        MainCase {"WrapWordFalse", "[Engine]\nDataCircular=false\n", 63336, true, "DE"},
        MainCase {"WrapEmpty", "[Engine]\nDataCircular=\n", 63336, true, "DE"},
        MainCase {"WrapTwo", "[Engine]\nDataCircular=2\n", 63336, true, "DE"},
        MainCase {
            "LanguageSelectsKey", "[GUI]\nLanguage=lang2\nlang1=DE\nlang2=EN\n", 63336, true, "EN"},
        MainCase {"SelectedKeyMissing", "[GUI]\nLanguage=lang2\nlang1=EN\n", 63336, true, "DE"},
        MainCase {"DefaultSelectorLang1", "[GUI]\nlang1=EN\n", 63336, true, "EN"},
        MainCase {
            "EmptySelectorLooksUpEmptyKey", "[GUI]\nLanguage=\nlang1=EN\n", 63336, true, "DE"},
        MainCase {"CodeKeptAsWritten", "[GUI]\nlang1=en_gb\n", 63336, true, "en_gb"}),
    CaseName());

// The dialect's keys: each value in range taken, any other keeping that field's default.
struct DialectCase
{
    const char *name;
    const char *bytes;
    tDialect dialect;
};

class DialectSettingsTest : public testing::TestWithParam<DialectCase>
{ };

TEST_P(DialectSettingsTest, ReadsBFIni)
{
    const ScratchFolder folder;
    folder.write("BF.ini", GetParam().bytes);
    const tDialect &read = readMainSettings(folder.dir()).dialect;
    const tDialect &expected = GetParam().dialect;
    EXPECT_EQ(read.cellBits, expected.cellBits);
    EXPECT_EQ(read.endOfInput, expected.endOfInput);
    EXPECT_EQ(read.tapeCells, expected.tapeCells);
    EXPECT_EQ(read.start, expected.start);
}

INSTANTIATE_TEST_SUITE_P(Values, DialectSettingsTest,
    testing::Values(
        DialectCase {"AllSet",
            "[engine]\nCELLBITS=16\nEndOfInput=All-Ones\nTapeCells=$7530\nTapeStart=left\n",
            {16, tEndOfInput::AllOnes, 30000, tTapeStart::Left}},
        DialectCase {"Unchanged32", "[Engine]\nCellBits=32\nEndOfInput=unchanged\n",
            {32, tEndOfInput::Unchanged, 65536, tTapeStart::Middle}},
        DialectCase {"LargestTape", "[Engine]\nTapeCells=16777216\n",
            {8, tEndOfInput::Zero, 16777216, tTapeStart::Middle}},
        DialectCase {"OutOfRange",
            "[Engine]\nCellBits=12\nEndOfInput=-1\nTapeCells=16777217\nTapeStart=right\n", {}},
        DialectCase {"NoTape", "[Engine]\nTapeCells=0\nCellBits=0x10\n", {16}},
        DialectCase {"OldKeysLeaveIt", "[Engine]\nDatasize=300\nDatatype=65536\n", {}}),
    CaseName());

TEST(ConfigLoaderTest, PlainAboutTextIsReadOnlyAsFarAsItIsShown)
{
    for (const bool rtf : {false, true}) {
        std::string file = "[about]\nline1=" + std::string(rtf ? "{\\rtf1 x" : "x") + "\n";
        for (int k = 2; k <= 10005; ++k)
            file += "line" + std::to_string(k) + "=" + (k == 10005 && rtf ? "}" : "y") + "\n";
        const ScratchFolder folder;
        folder.write("BF.ini", file);
        EXPECT_EQ(readMainSettings(folder.dir()).aboutLines.size(), rtf ? 10005u : MostAboutLines)
            << (rtf ? "RTF" : "plain");
    }
}

TEST(ConfigLoaderTest, HugeCountIsBounded)
{
    const ScratchFolder folder;
    folder.write("lang/CODES_XX.ini", "[Global]\nProgsCount=2147483647\n[Example1]\nTitle=one\n");
    const std::vector<Example> examples = readExamples(folder.dir(), "XX");
    ASSERT_FALSE(examples.empty());
    EXPECT_LT(examples.size(), 1000000u);
    EXPECT_EQ(examples[0].title, "one");
    EXPECT_EQ(examples[1].title, "-no title-");
}

TEST(ConfigLoaderTest, CountIsBoundedByTheExamplesThatExist)
{
    struct Row
    {
        const char *name;
        std::string file;
        std::size_t examples;
        std::string lastTitle;
    };
    std::string dummySections;
    for (int i = 0; i < 20000; ++i)
        dummySections += "[x" + std::to_string(i) + "]\n";
    for (const Row &row :
        {
            Row {"SmallCountAsWritten", "[Global]\nProgsCount=3\n[Example1]\nTitle=a\n", 3,
                "-no title-"},
            Row {"RealExampleBeyondTheBound",
                "[Global]\nProgsCount=10001\n[Example10001]\nTitle=last\n", 10001, "last"},
            Row {"DummySectionsDoNotRaiseTheBound",
                "[Global]\nProgsCount=2147483647\n" + dummySections, 10000, "-no title-"},
            Row {"LeadingZeroNamesNoExample",
                "[Global]\nProgsCount=2147483647\n[Example012000]\nTitle=x\n", 10000, "-no title-"},
            Row {"CountBelowTheLastSection",
                "[Global]\nProgsCount=10002\n[Example20000]\nTitle=x\n", 10002, "-no title-"},
        }) {
        const ScratchFolder folder;
        folder.write("lang/CODES_XX.ini", row.file);
        const std::vector<Example> examples = readExamples(folder.dir(), "XX");
        ASSERT_EQ(examples.size(), row.examples) << row.name;
        EXPECT_EQ(examples.back().title, row.lastTitle) << row.name;
    }
}

// Each step must report a file it cannot read instead of taking the defaults.
struct UnreadableCase
{
    const char *name;
    const char *folderName;
    int step;
};

class UnreadableFileTest : public testing::TestWithParam<UnreadableCase>
{ };

TEST_P(UnreadableFileTest, ThrowsUserErrorNamingTheFile)
{
    const ScratchFolder folder;
    folder.makeFolder(GetParam().folderName);
    const std::string path = folder.dir() + GetParam().folderName;
    try {
        switch (GetParam().step) {
        case 1: readMainSettings(folder.dir()); break;
        case 2: readExamples(folder.dir(), "EN"); break;
        case 3: readInterfaceTexts(folder.dir(), "EN"); break;
        default: readListingWords(folder.dir()); break;
        }
        FAIL() << "no error for " << path;
    } catch (const UserError &error) {
        EXPECT_EQ(std::string(error.what()), "Datei " + path + " kann nicht geöffnet werden");
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, UnreadableFileTest,
    testing::Values(UnreadableCase {"MainSettings", "BF.ini", 1},
        UnreadableCase {"Examples", "lang/CODES_EN.ini", 2},
        UnreadableCase {"InterfaceTexts", "lang/GUI_EN.ini", 3},
        UnreadableCase {"ListingWords", "lang/assemb.ini", 4}),
    CaseName());

struct BuiltInCase
{
    const char *name;
    std::string text;
    std::vector<std::string> arguments;
    std::string expected; // UTF-8
};

class BuiltInMessage : public testing::TestWithParam<BuiltInCase>
{ };

// The messages thrown before any GUI file is read come from the one table of texts.
TEST_P(BuiltInMessage, FillsItsNumbersAndGivesUtf8)
{
    EXPECT_EQ(builtInMessage(GetParam().text, GetParam().arguments), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, BuiltInMessage,
    testing::Values(BuiltInCase {"CannotOpen", MessageTexts().iniCannotOpen, {"/a/BF.ini"},
                        "Datei /a/BF.ini kann nicht ge\xC3\xB6"
                        "ffnet werden"},
        BuiltInCase {"TooLarge", MessageTexts().iniTooLarge, {"x", "9"},
            "Datei x ist zu gro\xC3\x9F (h\xC3\xB6"
            "chstens 9 Bytes)"},
        BuiltInCase {"MissingArgumentStays", "%1 and %2", {"one"}, "one and %2"},
        BuiltInCase {"PercentAtTheEnd", "100%", {}, "100%"}),
    [](const auto &row) { return std::string(row.param.name); });

} // namespace
