#include "arguments.h"

#include <optional>
#include <string_view>

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
