#include "inifile.h"
#include "usererror.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::string_literals;

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

// ---- ReadString over documents that each target one reading rule ----

struct StringCase
{
    const char *name;
    std::string bytes;
    const char *section;
    const char *key;
    std::string expected; // "<default>" when the default must come back
};

void PrintTo(const StringCase &c, std::ostream *os)
{
    *os << c.name;
}

class ReadStringTest : public testing::TestWithParam<StringCase>
{ };

TEST_P(ReadStringTest, FindsTheValue)
{
    const StringCase &c = GetParam();
    const TMemIniFile ini = TMemIniFile::fromBytes(c.bytes);
    EXPECT_EQ(ini.ReadString(c.section, c.key, "<default>"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, ReadStringTest,
    testing::Values(StringCase {"SectionCaseFolded", "[ENGINE]\nkey=v\n", "engine", "key", "v"},
        StringCase {"KeyCaseFolded", "[s]\nDataSize=v\n", "S", "DATASIZE", "v"},
        StringCase {"NonAsciiNotFolded", "[s]\n\xC4x=v\n", "s", "\xE4x", "<default>"},
        StringCase {"NonAsciiMatchesItself", "[\xC4]\nk=v\n", "\xC4", "k", "v"},
        StringCase {"LastDuplicateKeyWins", "[s]\nk=1\nk=2\n", "s", "k", "2"},
        StringCase {
            "LastSectionHidesEarlier", "[s]\nonly=1\n[t]\n[S]\nk=2\n", "s", "only", "<default>"},
        StringCase {"LastSectionIsRead", "[s]\nk=1\n[t]\n[S]\nk=2\n", "s", "k", "2"},
        StringCase {"KeyAboveFirstHeaderIgnored", "k=1\n[s]\n", "s", "k", "<default>"},
        StringCase {"PresentEmptyValue", "[s]\nk=\n", "s", "k", ""},
        StringCase {"MissingSection", "[s]\nk=1\n", "t", "k", "<default>"},
        StringCase {"BlanksAroundEquals", "[s]\n  k  =  v w  \n", "s", "k", "v w"},
        StringCase {"FirstEqualsSplits", "[s]\nk=a=b\n", "s", "k", "a=b"},
        StringCase {"BlanksInsideKeyKept", "[s]\nmy key=v\n", "s", "my key", "v"},
        StringCase {"EmptyKeyMatchesEmptyName", "[s]\n=v\n", "s", "", "v"},
        StringCase {"BareLineNeverMatches", "[s]\nk\n", "s", "k", "<default>"},
        StringCase {"CommentLineSkipped", "[s]\n;k=1\n", "s", ";k", "<default>"},
        StringCase {"IndentedCommentSkipped", "[s]\n  ; k=1\nk=2\n", "s", "k", "2"},
        StringCase {"SemicolonInValueKept", "[s]\nk=a ; b\n", "s", "k", "a ; b"},
        StringCase {"HeaderNameTrimmed", "[  my name \t]\nk=v\n", "my name", "k", "v"},
        StringCase {"EmptyHeaderName", "[]\nk=v\n", "", "k", "v"},
        StringCase {"UnclosedHeaderIsBareLine", "[s]\n[t\nk=v\n", "s", "k", "v"},
        StringCase {"ControlCharsTrimmed", "[s]\n\x01\tk=v\x1f\n", "s", "k", "v"},
        StringCase {"DeleteNotTrimmed", "[s]\nk=v\x7f\n", "s", "k", "v\x7f"},
        StringCase {"HighBytesNotTrimmed", "[s]\nk=\xA0v\xA0\n", "s", "k", "\xA0v\xA0"},
        StringCase {"CrOnly", "[s]\rk=v\rj=w", "s", "k", "v"},
        StringCase {"CrLf", "[s]\r\nk=v\r\nj=w\r\n", "s", "j", "w"},
        StringCase {"LfCrIsTwoBreaks", "[s]\n\rk=v\n\r", "s", "k", "v"},
        StringCase {"MixedBreaks", "[a]\r\n[s]\rx=1\nk=v", "s", "k", "v"},
        // A stray byte 0 is a byte of its line: the rest of the file still counts.
        StringCase {"ByteZeroKeptInValue", "[s]\nk=12\0 34\nj=1\n"s, "s", "k", "12\0 34"s},
        StringCase {"LinesAfterByteZeroRead", "[s]\nk=1\0\nj=1\n"s, "s", "j", "1"},
        StringCase {"ByteZeroInFirstComment", ";x\0y\n[s]\nk=v\n"s, "s", "k", "v"},
        StringCase {"DoubleQuotesRemoved", "[s]\nk=\" a b \"\n", "s", "k", " a b "},
        StringCase {"SingleQuotesRemoved", "[s]\nk=' a '\n", "s", "k", " a "},
        StringCase {"DoubledQuoteBecomesOne", "[s]\nk='it''s'\n", "s", "k", "it's"},
        StringCase {"DoubledDoubleQuote", "[s]\nk=\"say \"\"hi\"\"\"\n", "s", "k", "say \"hi\""},
        StringCase {"OtherQuoteKept", "[s]\nk=\"it''s\"\n", "s", "k", "it''s"},
        StringCase {"QuotedEmpty", "[s]\nk=\"\"\n", "s", "k", ""},
        StringCase {"UnmatchedQuoteKept", "[s]\nk=\"open\n", "s", "k", "\"open"},
        StringCase {"MixedQuotesKept", "[s]\nk=\"x'\n", "s", "k", "\"x'"},
        StringCase {"LoneQuoteKept", "[s]\nk=\"\n", "s", "k", "\""},
        StringCase {"NoEscapes", "[s]\nk=a\\nb\n", "s", "k", "a\\nb"}),
    CaseName());

// ---- The number grammar ----

struct IntegerCase
{
    const char *name;
    const char *text;
    std::int32_t expected; // Default when the text is not a number
};

constexpr std::int32_t Default = 777;

class IntegerGrammarTest : public testing::TestWithParam<IntegerCase>
{ };

TEST_P(IntegerGrammarTest, ParsesOrGivesDefault)
{
    EXPECT_EQ(parseIniInteger(GetParam().text).value_or(Default), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Grammar, IntegerGrammarTest,
    testing::Values(IntegerCase {"Decimal", "256", 256},
        IntegerCase {"LeadingBlanks", "  256", 256},
        IntegerCase {"LeadingTabNotSkipped", "\t256", Default},
        IntegerCase {"TrailingBlank", "256 ", Default},
        IntegerCase {"TrailingWord", "256 x", Default}, IntegerCase {"Plus", "+5", 5},
        IntegerCase {"Minus", "-5", -5}, IntegerCase {"SignAlone", "-", Default},
        IntegerCase {"TwoSigns", "+-1", Default}, IntegerCase {"BlankAfterSign", "- 1", Default},
        IntegerCase {"LeadingZeros", "000010", 10},
        IntegerCase {"Largest", "2147483647", 2147483647},
        IntegerCase {"OneTooLarge", "2147483648", Default},
        IntegerCase {"Smallest", "-2147483648", INT32_MIN},
        IntegerCase {"OneTooSmall", "-2147483649", Default},
        IntegerCase {"FarTooLarge", "99999999999999999999999", Default},
        IntegerCase {"Empty", "", Default}, IntegerCase {"OnlyBlanks", "   ", Default},
        IntegerCase {"Word", "true", Default}, IntegerCase {"Exponent", "1e3", Default},
        IntegerCase {"Dollar", "$100", 256}, IntegerCase {"DollarMixedCase", "$aBc", 0xABC},
        IntegerCase {"LowerX", "x10", 16}, IntegerCase {"UpperX", "X1f", 31},
        IntegerCase {"ZeroX", "0x100", 256}, IntegerCase {"ZeroUpperX", "0X100", 256},
        IntegerCase {"ZeroXOneDigit", "0x1", 1}, IntegerCase {"ZeroXAlone", "0x", Default},
        IntegerCase {"DollarAlone", "$", Default}, IntegerCase {"BlanksThenZeroX", " 0x10", 16},
        IntegerCase {"HexAllOnes", "$FFFFFFFF", -1},
        IntegerCase {"HexSignBit", "$80000000", INT32_MIN},
        IntegerCase {"HexLargestPositive", "$7fffffff", 2147483647},
        IntegerCase {"HexLeadingZeros", "$000000000FFFFFFFF", -1},
        IntegerCase {"HexTooLarge", "$100000000", Default},
        IntegerCase {"HexBadDigit", "$1G", Default}, IntegerCase {"SignBeforeHex", "-$10", Default},
        IntegerCase {"SignBeforeZeroX", "-0x10", Default},
        IntegerCase {"SignAfterZeroX", "0x-5", Default},
        IntegerCase {"BlankAfterDollar", "$ 5", Default}),
    CaseName());

TEST(ReadIntegerTest, ReadsThroughQuotesAndDefaults)
{
    const TMemIniFile ini = TMemIniFile::fromBytes(
        "[n]\nquoted=\"  256\"\nempty=\nhex=0x100\nbad=256 x\ntrailing=\"256 \"\n");
    EXPECT_EQ(ini.ReadInteger("n", "quoted", 1), 256);
    EXPECT_EQ(ini.ReadInteger("n", "empty", 1), 1);
    EXPECT_EQ(ini.ReadInteger("n", "missing", 1), 1);
    EXPECT_EQ(ini.ReadInteger("n", "hex", 1), 256);
    EXPECT_EQ(ini.ReadInteger("n", "bad", 1), 1);
    EXPECT_EQ(ini.ReadInteger("n", "trailing", 1), 1);
}

struct BoolCase
{
    const char *name;
    const char *value; // nullptr: key missing
    bool defaultValue;
    bool expected;
};

class ReadBoolTest : public testing::TestWithParam<BoolCase>
{ };

TEST_P(ReadBoolTest, OnlyNumbersCount)
{
    const BoolCase &c = GetParam();
    const std::string bytes = c.value ? "[s]\nflag="s + c.value + "\n" : "[s]\n"s;
    EXPECT_EQ(TMemIniFile::fromBytes(bytes).ReadBool("s", "flag", c.defaultValue), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Values, ReadBoolTest,
    testing::Values(BoolCase {"ZeroIsFalse", "0", true, false},
        BoolCase {"OneIsTrue", "1", false, true}, BoolCase {"TwoIsTrue", "2", false, true},
        BoolCase {"NegativeIsTrue", "-1", false, true},
        BoolCase {"HexZeroIsFalse", "$0", true, false},
        BoolCase {"WordFalseGivesDefault", "false", true, true},
        BoolCase {"WordTrueGivesDefault", "true", false, false},
        BoolCase {"EmptyGivesDefault", "", true, true},
        BoolCase {"MissingGivesDefault", nullptr, false, false}),
    CaseName());

// ---- Numbered sequences ----

struct SequenceCase
{
    const char *name;
    const char *bytes;
    std::vector<std::string> expected;
};

class SequenceTest : public testing::TestWithParam<SequenceCase>
{ };

TEST_P(SequenceTest, StopsAtFirstEmpty)
{
    EXPECT_EQ(TMemIniFile::fromBytes(GetParam().bytes).readSequence("about", "line"),
        GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Sequences, SequenceTest,
    testing::Values(SequenceCase {"GapByEmptyValue", "[about]\nline1=a\nline2=b\nline3=\nline4=d\n",
                        {"a", "b"}},
        SequenceCase {"GapByMissingKey", "[about]\nline1=a\nline3=c\n", {"a"}},
        SequenceCase {
            "QuotedBlankKeepsGoing", "[about]\nline1=a\nline2=\" \"\nline3=c\n", {"a", " ", "c"}},
        SequenceCase {"QuotedEmptyStops", "[about]\nline1=a\nline2=\"\"\nline3=c\n", {"a"}},
        SequenceCase {"NoFirstKey", "[about]\nline2=b\n", {}},
        SequenceCase {"LeadingZeroNotRead", "[about]\nline01=a\n", {}},
        SequenceCase {"KeysFolded", "[ABOUT]\nLINE1=a\nLine2=b\n", {"a", "b"}},
        SequenceCase {"OrderOfLinesIrrelevant", "[about]\nline2=b\nline1=a\n", {"a", "b"}}),
    CaseName());

TEST(SequenceTest, HasNoUpperBound)
{
    std::string bytes = "[about]\n";
    for (int k = 1; k <= 5000; ++k)
        bytes += "line" + std::to_string(k) + "=" + std::to_string(k) + "\n";
    const std::vector<std::string> lines =
        TMemIniFile::fromBytes(bytes).readSequence("about", "line");
    ASSERT_EQ(lines.size(), 5000u);
    EXPECT_EQ(lines.back(), "5000");
}

// ---- Reading files ----

class IniFileOnDiskTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::path(testing::TempDir()) /
            ("cerebrix_inifile_" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::filesystem::path m_dir;
};

TEST_F(IniFileOnDiskTest, MissingFileIsEmptyDocument)
{
    const TMemIniFile ini((m_dir / "absent.ini").string());
    EXPECT_EQ(ini.ReadString("s", "k", "d"), "d");
    EXPECT_EQ(ini.sectionCount(), 0u);
}

TEST_F(IniFileOnDiskTest, MissingFolderIsEmptyDocument)
{
    const TMemIniFile ini((m_dir / "no" / "such.ini").string());
    EXPECT_EQ(ini.sectionCount(), 0u);
}

TEST_F(IniFileOnDiskTest, ReadsBytesOfFile)
{
    std::ofstream((m_dir / "a.ini"), std::ios::binary) << "[s]\r\nk=\xE4\r\n";
    EXPECT_EQ(TMemIniFile((m_dir / "a.ini").string()).ReadString("s", "k", ""), "\xE4");
}

TEST_F(IniFileOnDiskTest, FolderInPlaceOfFileThrowsNamingIt)
{
    const std::string path = (m_dir / "BF.ini").string();
    std::filesystem::create_directory(path);
    try {
        TMemIniFile ini(path);
        FAIL() << "no error for a folder";
    } catch (const UserError &error) {
        EXPECT_EQ(std::string(error.what()), "Datei " + path + " kann nicht geöffnet werden");
    }
}

TEST_F(IniFileOnDiskTest, PipeIsRefusedWithoutBlocking)
{
    const std::string path = (m_dir / "BF.ini").string();
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    try {
        TMemIniFile ini(path);
        FAIL() << "no error for a pipe";
    } catch (const UserError &error) {
        EXPECT_EQ(std::string(error.what()), "Datei " + path + " kann nicht geöffnet werden");
    }
}

TEST_F(IniFileOnDiskTest, DeviceIsRefused)
{
    EXPECT_THROW(TMemIniFile("/dev/zero"), UserError);
}

TEST_F(IniFileOnDiskTest, FileBeyondSizeCapIsRefused)
{
    const std::filesystem::path path = m_dir / "huge.ini";
    std::ofstream(path, std::ios::binary) << "[s]\r\nk=v\r\n";
    std::filesystem::resize_file(path, (256u << 20) + 1); // sparse: nothing is written
    try {
        TMemIniFile ini(path.string());
        FAIL() << "no error for a huge file";
    } catch (const UserError &error) {
        EXPECT_EQ(std::string(error.what()),
            "Datei " + path.string() + " ist zu groß (höchstens 268435456 Bytes)");
    }
}

} // namespace
