#include "configloader.h"

#include "inifile.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <utility>

// The files' folder names use '/' where the program's Windows origins used '\': both
// systems accept '/', and the folder name "lang" and the file names stay as they are.

namespace {

// Examples up to this count are built as the count says, sections or not; past it only up to
// the last [Example<n>] the file holds, so that a mistyped count of billions builds no
// millions of empty entries and a real example 10,001 is not lost.
constexpr std::size_t MaxExamplesWithoutSections = 10000;

// The largest n of an [Example<n>] section (n in decimal without leading zeros), or 0.
std::size_t lastExampleSection(const TMemIniFile &ini)
{
    const std::string prefix = "example";
    std::size_t last = 0;
    for (const std::string &name : ini.sectionNames()) {
        const std::string digits = name.substr(std::min(name.size(), prefix.size()));
        if (name.compare(0, prefix.size(), prefix) != 0 || digits.empty() || digits[0] == '0' ||
            digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        last = std::max<std::size_t>(last, std::stoull(digits));
    }
    return last;
}

std::string exampleFile(const std::string &dir, const std::string &languageCode)
{
    return dir + "lang/CODES_" + languageCode + ".ini";
}

std::string interfaceTextFile(const std::string &dir, const std::string &languageCode)
{
    return dir + "lang/GUI_" + languageCode + ".ini";
}

constexpr std::pair<tEndOfInput, const char *> EndOfInputWords[] = {{tEndOfInput::Zero, "zero"},
    {tEndOfInput::AllOnes, "all-ones"}, {tEndOfInput::Unchanged, "unchanged"}};
constexpr std::pair<tTapeStart, const char *> TapeStartWords[] = {
    {tTapeStart::Middle, "middle"}, {tTapeStart::Left, "left"}};

template<typename Value, std::size_t Count>
std::optional<Value> fromWord(
    const std::pair<Value, const char *> (&words)[Count], std::string_view word)
{
    for (const auto &[value, name] : words) {
        const std::string_view candidate = name;
        if (std::equal(word.begin(), word.end(), candidate.begin(), candidate.end(),
                [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; }))
            return value;
    }
    return std::nullopt;
}

void readDialect(const TMemIniFile &ini, tDialect &dialect)
{
    const std::int32_t bits = ini.ReadInteger("Engine", "CellBits", dialect.cellBits);
    if (bits == 8 || bits == 16 || bits == 32)
        dialect.cellBits = bits;
    const std::int32_t cells = ini.ReadInteger("Engine", "TapeCells", dialect.tapeCells);
    if (cells >= 1 && cells <= tDialect::MostTapeCells)
        dialect.tapeCells = cells;
    dialect.endOfInput =
        endOfInputFromWord(ini.ReadString("Engine", "EndOfInput", {})).value_or(dialect.endOfInput);
    dialect.start =
        tapeStartFromWord(ini.ReadString("Engine", "TapeStart", {})).value_or(dialect.start);
}

} // namespace

const char *endOfInputWord(tEndOfInput end)
{
    return EndOfInputWords[static_cast<std::size_t>(end)].second;
}

std::optional<tEndOfInput> endOfInputFromWord(std::string_view word)
{
    return fromWord(EndOfInputWords, word);
}

const char *tapeStartWord(tTapeStart start)
{
    return TapeStartWords[static_cast<std::size_t>(start)].second;
}

std::optional<tTapeStart> tapeStartFromWord(std::string_view word)
{
    return fromWord(TapeStartWords, word);
}

MainSettings readMainSettings(const std::string &dir)
{
    const TMemIniFile ini(dir + "BF.ini");
    MainSettings settings;
    // Each default is the struct's own.
    settings.dataSize = ini.ReadInteger("Engine", "Datasize", settings.dataSize);
    settings.cellRange = ini.ReadInteger("Engine", "Datatype", settings.cellRange);
    settings.dataWrap = ini.ReadBool("Engine", "DataCircular", settings.dataWrap);
    settings.valueWrap = ini.ReadBool("Engine", "valueCircular", settings.valueWrap);
    const std::string languageKey = ini.ReadString("GUI", "Language", "lang1");
    settings.languageCode = ini.ReadString("GUI", languageKey, settings.languageCode);
    settings.lineNumbers = ini.ReadBool("GUI", "LineNumbers", settings.lineNumbers);
    readDialect(ini, settings.dialect);
    // A plain about text shows at most 10,000 lines, so no more are read; an RTF text is read
    // whole, since only its end closes its groups.
    const bool isRtf = ini.ReadString("about", "line1", {}).rfind("{\\rtf", 0) == 0;
    settings.aboutLines =
        ini.readSequence("about", "line", isRtf ? std::size_t(-1) : MostAboutLines);
    return settings;
}

std::vector<Example> readExamples(const std::string &dir, const std::string &languageCode)
{
    const TMemIniFile ini(exampleFile(dir, languageCode));
    const std::int32_t count = ini.ReadInteger("Global", "ProgsCount", 0);
    std::vector<Example> examples;
    if (count < 1)
        return examples;
    const std::size_t limit = std::max(MaxExamplesWithoutSections, lastExampleSection(ini));
    examples.resize(std::min(static_cast<std::size_t>(count), limit));
    for (std::size_t n = 1; n <= examples.size(); ++n) {
        const std::string section = "Example" + std::to_string(n);
        Example &example = examples[n - 1];
        example.title = ini.ReadString(section, "Title", "-no title-");
        for (const std::string &line : ini.readSequence(section, "Line"))
            example.text += line + "\r\n";
    }
    return examples;
}

InterfaceTexts readInterfaceTexts(const std::string &dir, const std::string &languageCode)
{
    const TMemIniFile ini(interfaceTextFile(dir, languageCode));
    InterfaceTexts texts;
    texts.codeFileOpen = ini.ReadString("PopupMenu", "Code_fileopen", texts.codeFileOpen);
    texts.codeFileSave = ini.ReadString("PopupMenu", "Code_filesave", texts.codeFileSave);
    texts.codeFilterCode = ini.ReadString("PopupMenu", "Code_FilterCode", texts.codeFilterCode);
    texts.buttonCompile = ini.ReadString("Buttons", "BTN_COMPILE", texts.buttonCompile);
    texts.buttonRun = ini.ReadString("Buttons", "BTN_RUN", texts.buttonRun);
    texts.codeDisassemble = ini.ReadString("PopupMenu", "Code_Disassemble", texts.codeDisassemble);
    texts.outputClear = ini.ReadString("PopupMenu", "Output_Clear", texts.outputClear);
    constexpr const char *PresetKeys[] = {
        "Input_blank", "Input_Newline", "Input_CR", "Input_tab", "Input_null", "input_255"};
    for (std::size_t i = 0; i < texts.inputPresets.size(); ++i)
        texts.inputPresets[i] = ini.ReadString("PopupMenu", PresetKeys[i], {});
    texts.hintCompile = ini.ReadString("Hints", "compile", {});
    texts.hintRun = ini.ReadString("Hints", "run", {});
    texts.hintInput = ini.ReadString("Hints", "input", {});
    texts.adviceButtons = ini.ReadString("Hints", "adviceButtons", {});
    texts.hintCode = ini.ReadString("Hints", "code", {});
    texts.adviceInput = ini.ReadString("Hints", "adviceInput", {});
    texts.aboutCut = ini.ReadString("Hints", "aboutCut", texts.aboutCut);
    texts.fileFilter = ini.ReadString("dialogs", "filefilter", {});
    texts.defaultExtension = ini.ReadString("dialogs", "DefaultExt", {});
    texts.initialDirectory = ini.ReadString("dialogs", "InitialDir", {});
    for (std::size_t slot = 1; slot < texts.errorMessages.size(); ++slot)
        texts.errorMessages[slot] =
            ini.ReadString("Engine_ErrMsg", "ErrMsg" + std::to_string(slot), {});
    return texts;
}

void applyErrorMessages(const InterfaceTexts &texts, ErrorMessageTable &table)
{
    for (std::size_t slot = 1; slot < table.size(); ++slot) {
        if (!texts.errorMessages[slot].empty())
            table[slot] = texts.errorMessages[slot];
    }
}

MessageTexts readMessageTexts(const std::string &dir, const std::string &languageCode)
{
    const TMemIniFile ini(interfaceTextFile(dir, languageCode));
    MessageTexts texts;
    using Text = std::string MessageTexts::*;
    const std::pair<const char *, Text> keys[] = {{"fileCannotOpen", &MessageTexts::fileCannotOpen},
        {"fileTooLarge", &MessageTexts::fileTooLarge},
        {"fileCannotCreate", &MessageTexts::fileCannotCreate},
        {"paneFullCharacters", &MessageTexts::paneFullCharacters},
        {"paneFullLines", &MessageTexts::paneFullLines},
        {"textTooLong", &MessageTexts::textTooLong}, {"notAnInteger", &MessageTexts::notAnInteger},
        {"savedAsUtf8", &MessageTexts::savedAsUtf8}, {"closeUnsaved", &MessageTexts::closeUnsaved},
        {"unexpectedError", &MessageTexts::unexpectedError}};
    for (const auto &[key, text] : keys)
        texts.*text = ini.ReadString("Messages", key, texts.*text);
    return texts;
}

DebuggerTexts readDebuggerTexts(const std::string &dir, const std::string &languageCode)
{
    const TMemIniFile ini(interfaceTextFile(dir, languageCode));
    DebuggerTexts texts;
    texts.menuItem = ini.ReadString("PopupMenu", "Code_Debugger", texts.menuItem);
    using Text = std::string DebuggerTexts::*;
    const std::pair<const char *, Text> keys[] = {{"title", &DebuggerTexts::title},
        {"continue", &DebuggerTexts::continueRun}, {"pause", &DebuggerTexts::pause},
        {"stop", &DebuggerTexts::stop}, {"stepInto", &DebuggerTexts::stepInto},
        {"stepOver", &DebuggerTexts::stepOver}, {"stepOut", &DebuggerTexts::stepOut},
        {"runToCaret", &DebuggerTexts::runToCaret}, {"stepBack", &DebuggerTexts::stepBack},
        {"reverseContinue", &DebuggerTexts::reverseContinue},
        {"toggleBreakpoint", &DebuggerTexts::toggleBreakpoint},
        {"breakpoints", &DebuggerTexts::breakpoints},
        {"removeBreakpoint", &DebuggerTexts::removeBreakpoint},
        {"removeAllBreakpoints", &DebuggerTexts::removeAllBreakpoints},
        {"hashStops", &DebuggerTexts::hashStops},
        {"breakpointEntry", &DebuggerTexts::breakpointEntry}, {"tape", &DebuggerTexts::tape},
        {"follow", &DebuggerTexts::follow}, {"goTo", &DebuggerTexts::goTo},
        {"relativeCells", &DebuggerTexts::relativeCells},
        {"signedValues", &DebuggerTexts::signedValues}, {"columns", &DebuggerTexts::columns},
        {"lastChange", &DebuggerTexts::lastChange}, {"firstRead", &DebuggerTexts::firstRead},
        {"noChange", &DebuggerTexts::noChange}, {"watchChange", &DebuggerTexts::watchChange},
        {"watchValue", &DebuggerTexts::watchValue}, {"watchEnter", &DebuggerTexts::watchEnter},
        {"watchLeave", &DebuggerTexts::watchLeave},
        {"watchValuePrompt", &DebuggerTexts::watchValuePrompt},
        {"watchEntry", &DebuggerTexts::watchEntry}, {"watchRange", &DebuggerTexts::watchRange},
        {"watchChanges", &DebuggerTexts::watchChanges},
        {"watchEnters", &DebuggerTexts::watchEnters}, {"watchLeaves", &DebuggerTexts::watchLeaves},
        {"watchStop", &DebuggerTexts::watchStop}, {"loops", &DebuggerTexts::loops},
        {"loopEntry", &DebuggerTexts::loopEntry}, {"stateNone", &DebuggerTexts::stateNone},
        {"stateRunning", &DebuggerTexts::stateRunning},
        {"statePaused", &DebuggerTexts::statePaused},
        {"stateWaiting", &DebuggerTexts::stateWaiting}, {"stateEnded", &DebuggerTexts::stateEnded},
        {"stateStopped", &DebuggerTexts::stateStopped},
        {"historyStart", &DebuggerTexts::historyStart}, {"counters", &DebuggerTexts::counters},
        {"codeChanged", &DebuggerTexts::codeChanged},
        {"bracketsUnpaired", &DebuggerTexts::bracketsUnpaired}, {"close", &DebuggerTexts::close},
        {"output", &DebuggerTexts::output}, {"outputTip", &DebuggerTexts::outputTip},
        {"outputGone", &DebuggerTexts::outputGone}, {"profile", &DebuggerTexts::profile},
        {"runProfiled", &DebuggerTexts::runProfiled}, {"loopColumns", &DebuggerTexts::loopColumns},
        {"loopShapes", &DebuggerTexts::loopShapes}};
    for (const auto &[key, text] : keys)
        texts.*text = ini.ReadString("Debugger", key, texts.*text);
    texts.languageCode = languageCode;
    return texts;
}

DialectTexts readDialectTexts(const std::string &dir, const std::string &languageCode)
{
    const TMemIniFile ini(interfaceTextFile(dir, languageCode));
    DialectTexts texts;
    texts.menuItem = ini.ReadString("PopupMenu", "Code_Dialect", texts.menuItem);
    texts.inputPreset = ini.ReadString("PopupMenu", "Input_EndOfInput", texts.inputPreset);
    using Text = std::string DialectTexts::*;
    const std::pair<const char *, Text> keys[] = {{"title", &DialectTexts::title},
        {"cellBits", &DialectTexts::cellBits}, {"endOfInput", &DialectTexts::endOfInput},
        {"endZero", &DialectTexts::endZero}, {"endAllOnes", &DialectTexts::endAllOnes},
        {"endUnchanged", &DialectTexts::endUnchanged}, {"tapeCells", &DialectTexts::tapeCells},
        {"start", &DialectTexts::start}, {"startMiddle", &DialectTexts::startMiddle},
        {"startLeft", &DialectTexts::startLeft}};
    for (const auto &[key, text] : keys)
        texts.*text = ini.ReadString("Dialect", key, texts.*text);
    return texts;
}

EditorTexts readEditorTexts(const std::string &dir, const std::string &languageCode)
{
    const TMemIniFile ini(interfaceTextFile(dir, languageCode));
    EditorTexts texts;
    using Text = std::string EditorTexts::*;
    const std::pair<const char *, Text> keys[] = {{"find", &EditorTexts::find},
        {"replaceWith", &EditorTexts::replaceWith}, {"goToLine", &EditorTexts::goToLine},
        {"next", &EditorTexts::next}, {"previous", &EditorTexts::previous},
        {"replace", &EditorTexts::replace}, {"replaceAll", &EditorTexts::replaceAll},
        {"go", &EditorTexts::go}, {"close", &EditorTexts::close},
        {"caseSensitive", &EditorTexts::caseSensitive},
        {"commandsOnly", &EditorTexts::commandsOnly}, {"notFound", &EditorTexts::notFound},
        {"wrapped", &EditorTexts::wrapped}, {"replaced", &EditorTexts::replaced},
        {"noCommands", &EditorTexts::noCommands}, {"badLine", &EditorTexts::badLine}};
    for (const auto &[key, text] : keys)
        texts.*text = ini.ReadString("Editor", key, texts.*text);
    return texts;
}

MnemonicTable readListingWords(const std::string &dir)
{
    const TMemIniFile ini(dir + "lang/assemb.ini");
    const std::string setKey = ini.ReadString("Language", "asmlanguage", "asmLang1");
    const std::string wordSection = ini.ReadString("Language", setKey, "asm_STD");
    MnemonicTable words;
    for (std::size_t slot = 1; slot < words.size(); ++slot)
        words[slot] = ini.ReadString(wordSection, "Assemb" + std::to_string(slot), {});
    return words;
}

void applyListingWords(const MnemonicTable &words, MnemonicTable &table)
{
    for (std::size_t slot = 1; slot < table.size(); ++slot) {
        if (!words[slot].empty())
            table[slot] = words[slot];
    }
}
