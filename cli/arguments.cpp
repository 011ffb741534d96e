#include "arguments.h"

#include <charconv>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <type_traits>

// By hand rather than getopt_long: that keeps global state between calls (the fuzzer calls
// this many times in one process), prints its own messages, and wants argv writable.

namespace {

struct Flag
{
    char shortName; // 0: none
    std::string_view longName;
    bool Options::*member;
    bool value;
};

constexpr Flag Flags[] = {
    {0, "no-data-wrap", &Options::dataWrap, false},
    {'p', "plain", &Options::plain, true},
    {'l', "listing", &Options::listing, true},
    {0, "ops", &Options::operations, true},
    {'h', "help", &Options::help, true},
    {0, "version", &Options::version, true},
};

const Flag *flagNamed(std::string_view longName)
{
    for (const Flag &flag : Flags) {
        if (flag.longName == longName)
            return &flag;
    }
    return nullptr;
}

const Flag *flagNamed(char shortName)
{
    for (const Flag &flag : Flags) {
        if (flag.shortName == shortName)
            return &flag;
    }
    return nullptr;
}

std::string quoted(std::string_view text)
{
    std::string result(1, '\'');
    result.append(text);
    return result += '\'';
}

// The dialect's options: each takes one of its words, or for --tape-cells a number. Returns
// what the option takes when value is none of it.
std::optional<std::string> setDialect(
    tDialect &dialect, std::string_view name, std::string_view value)
{
    const auto choose = [&](auto &field,
                            std::initializer_list<std::pair<std::string_view, int>> words,
                            const char *takes) -> std::optional<std::string> {
        for (const auto &[word, chosen] : words) {
            if (value == word) {
                field = static_cast<std::remove_reference_t<decltype(field)>>(chosen);
                return std::nullopt;
            }
        }
        return std::string(takes);
    };
    if (name == "cell-bits")
        return choose(dialect.cellBits, {{"8", 8}, {"16", 16}, {"32", 32}}, "8, 16 or 32");
    if (name == "eof")
        return choose(dialect.endOfInput,
            {{"zero", static_cast<int>(tEndOfInput::Zero)},
                {"all-ones", static_cast<int>(tEndOfInput::AllOnes)},
                {"unchanged", static_cast<int>(tEndOfInput::Unchanged)}},
            "zero, all-ones or unchanged");
    if (name == "start")
        return choose(dialect.start,
            {{"middle", static_cast<int>(tTapeStart::Middle)},
                {"left", static_cast<int>(tTapeStart::Left)}},
            "middle or left");
    std::int32_t cells = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), cells);
    if (error != std::errc() || end != value.data() + value.size() || cells < 1 ||
        cells > tDialect::MostTapeCells)
        return "a number of cells from 1 to " + std::to_string(tDialect::MostTapeCells);
    dialect.tapeCells = cells;
    return std::nullopt;
}

bool isDialectOption(std::string_view name)
{
    return name == "cell-bits" || name == "eof" || name == "tape-cells" || name == "start";
}

class Reader
{
public:
    Reader(int argc, const char *const *argv)
        : m_argc(argc)
        , m_argv(argv)
    { }

    Options read()
    {
        bool optionsEnded = false;
        for (m_next = 1; m_next < m_argc && m_options.error.empty();) {
            const std::string_view argument = m_argv[m_next++];
            if (!optionsEnded && argument == "--")
                optionsEnded = true;
            else if (!optionsEnded && argument.size() > 2 && argument.substr(0, 2) == "--")
                readLong(argument.substr(2));
            else if (!optionsEnded && argument.size() > 1 && argument[0] == '-')
                readShort(argument.substr(1));
            else
                takeProgram(argument, false);
        }
        if (m_options.error.empty() && !m_haveProgram && !m_options.help && !m_options.version)
            fail("no program given: name a FILE, - for standard input, or -e CODE");
        return m_options;
    }

private:
    void fail(std::string message)
    {
        if (m_options.error.empty())
            m_options.error = std::move(message);
    }

    void readLong(std::string_view option)
    {
        const std::size_t equals = option.find('=');
        const std::string_view name = option.substr(0, equals);
        if (name == "code") {
            takeCode(equals != std::string_view::npos
                    ? std::optional<std::string_view>(option.substr(equals + 1))
                    : std::nullopt,
                "--code");
            return;
        }
        if (name == "profile") {
            if (equals == std::string_view::npos && m_next >= m_argc)
                return fail("option '--profile' needs a file");
            const std::string_view file =
                equals != std::string_view::npos ? option.substr(equals + 1) : m_argv[m_next++];
            if (file.empty())
                return fail("option '--profile' needs a file");
            m_options.profile = std::string(file);
            return;
        }
        if (isDialectOption(name))
            return takeDialect(name,
                equals != std::string_view::npos
                    ? std::optional<std::string_view>(option.substr(equals + 1))
                    : std::nullopt);
        const Flag *flag = flagNamed(name);
        if (!flag)
            return fail("unknown option " + quoted("--" + std::string(name)));
        if (equals != std::string_view::npos)
            return fail("option " + quoted("--" + std::string(name)) + " takes no value");
        m_options.*(flag->member) = flag->value;
    }

    // Letters of flags, the last of them may be -e with its text attached or following.
    void readShort(std::string_view letters)
    {
        for (std::size_t i = 0; i < letters.size(); ++i) {
            if (letters[i] == 'e') {
                takeCode(i + 1 < letters.size()
                        ? std::optional<std::string_view>(letters.substr(i + 1))
                        : std::nullopt,
                    "-e");
                return;
            }
            const Flag *flag = flagNamed(letters[i]);
            if (!flag)
                return fail("unknown option " + quoted(std::string("-") + letters[i]));
            m_options.*(flag->member) = flag->value;
        }
    }

    // A dialect option's value: attached after "=", or else the next argument.
    void takeDialect(std::string_view name, std::optional<std::string_view> attached)
    {
        const std::string spelling = quoted("--" + std::string(name));
        if (!attached && m_next >= m_argc)
            return fail("option " + spelling + " needs a value");
        const std::string_view value = attached ? *attached : m_argv[m_next++];
        if (const std::optional<std::string> takes = setDialect(m_options.dialect, name, value))
            fail("option " + spelling + " takes " + *takes + ", not " + quoted(value));
    }

    // The program text of -e or --code: attached to the option, or else the next argument.
    void takeCode(std::optional<std::string_view> attached, std::string_view spelling)
    {
        if (attached)
            takeProgram(*attached, true);
        else if (m_next < m_argc)
            takeProgram(m_argv[m_next++], true);
        else
            fail("option '" + std::string(spelling) + "' needs the program text");
    }

    void takeProgram(std::string_view program, bool isCode)
    {
        if (m_haveProgram) {
            const std::string first =
                m_options.code ? "-e " + quoted(*m_options.code) : quoted(m_options.file);
            return fail("more than one program: " + first + " and " + (isCode ? "-e " : "") +
                quoted(program));
        }
        m_haveProgram = true;
        if (isCode)
            m_options.code = std::string(program);
        else
            m_options.file = std::string(program);
    }

    int m_argc;
    const char *const *m_argv;
    int m_next = 1;
    bool m_haveProgram = false;
    Options m_options;
};

} // namespace

Options parseArguments(int argc, const char *const *argv)
{
    return Reader(argc, argv).read();
}
