#pragma once

#include "messagetexts.h"
#include "u_Brainfuck.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The reading steps of the start-up configuration, one per file, in the order the window
// runs them. Each takes the executable's folder (ending with a path separator), reads its
// file once and returns what it found, so the caller applies every step as it finishes.
// A missing file gives the defaults; a file that exists but cannot be read throws UserError
// and the caller runs no further step.

struct MainSettings
{
    std::int32_t dataSize = 63336;
    std::int32_t cellRange = 256;
    bool dataWrap = true;
    bool valueWrap = true;
    std::string languageCode = "DE";
    std::vector<std::string> aboutLines;
    bool lineNumbers = true; // the code pane's line-number gutter
    // [Engine] CellBits, EndOfInput, TapeCells, TapeStart; a value out of range keeps the
    // default of its field.
    tDialect dialect;
};

// The words of the dialect's end of input and start ("zero", "all-ones", "unchanged";
// "middle", "left"), as BF.ini and the remembered settings store them; the readers ignore
// letter case and give nothing for any other word.
const char *endOfInputWord(tEndOfInput end);
std::optional<tEndOfInput> endOfInputFromWord(std::string_view word);
const char *tapeStartWord(tTapeStart start);
std::optional<tTapeStart> tapeStartFromWord(std::string_view word);

// Step 1: dir + "BF.ini".
MainSettings readMainSettings(const std::string &dir);

struct Example
{
    std::string title; // "-no title-" when the key is missing
    std::string text; // every line followed by CR LF
};

// Step 2: dir + "lang/CODES_" + languageCode + ".ini". Element n - 1 is example n; a count
// below 1 gives no examples, and at most max(10000, section headers in the file) are read.
std::vector<Example> readExamples(const std::string &dir, const std::string &languageCode);

// The about text shows at most 10,000 lines; of a plain one, one more is read, so that a cut
// shows.
inline constexpr std::size_t MostAboutLines = 10001;

struct InterfaceTexts
{
    std::string codeFileOpen = "&load";
    std::string codeFileSave = "&save";
    std::string codeFilterCode = "&filterCode";
    std::string buttonCompile = "&Brain";
    std::string buttonRun = "&Jolt";
    std::string codeDisassemble = "&Disassemble";
    std::string outputClear = "&clear";
    // Input preset captions in reading order: blank, newline, CR, tab, null, 255.
    std::array<std::string, 6> inputPresets;
    std::string hintCompile;
    std::string hintRun;
    std::string hintInput;
    std::string adviceButtons;
    std::string hintCode;
    std::string adviceInput;
    // The last line of an about text too long to show whole.
    std::string aboutCut = "(Der Rest des Textes ist ausgelassen.)";
    std::string fileFilter;
    std::string defaultExtension;
    std::string initialDirectory;
    // Slots 1 to 4; an empty slot keeps the table's text (see applyErrorMessages).
    ErrorMessageTable errorMessages;
};

// Step 3: dir + "lang/GUI_" + languageCode + ".ini".
InterfaceTexts readInterfaceTexts(const std::string &dir, const std::string &languageCode);
// Writes the non-empty error texts of texts into table.
void applyErrorMessages(const InterfaceTexts &texts, ErrorMessageTable &table);

// Reads the messages from dir + "lang/GUI_" + languageCode + ".ini".
MessageTexts readMessageTexts(const std::string &dir, const std::string &languageCode);

// The debugger's texts: the [Debugger] section of the GUI file (and its code pane menu item,
// [PopupMenu] Code_Debugger); a missing key keeps the English text. %1, %2, %3 stand for
// numbers filled in when shown.
struct DebuggerTexts
{
    std::string menuItem = "Debu&gger...";
    std::string title = "Debugger";
    std::string continueRun = "Continue";
    std::string pause = "Pause";
    std::string stop = "Stop";
    std::string stepInto = "Step into";
    std::string stepOver = "Step over";
    std::string stepOut = "Step out";
    std::string runToCaret = "Run to caret";
    std::string stepBack = "Step back";
    std::string reverseContinue = "Back to breakpoint";
    std::string toggleBreakpoint = "Toggle breakpoint";
    std::string breakpoints = "Breakpoints";
    std::string removeBreakpoint = "Remove";
    std::string removeAllBreakpoints = "Remove all";
    std::string hashStops = "Stop at # in the code";
    std::string breakpointEntry = "Line %1, column %2";
    std::string tape = "Tape";
    std::string follow = "Follow the pointer";
    std::string goTo = "Go to cell";
    // The tape bar's switches: cell numbers counted from the start cell (negative to its left)
    // rather than from the tape's left end, and values read as signed at the cell's width.
    std::string relativeCells = "Count from the start cell";
    std::string signedValues = "Signed values";
    std::string columns = "Cell|Dec|Hex|Char";
    std::string lastChange = "Last change";
    std::string firstRead = "First read after";
    std::string noChange = "Cell %1 has no change as far back as the history reaches.";
    // Watchpoints on the selected cells, from the tape view's menu; each item sets one or
    // takes it away again. The value is asked for as a relation and a number.
    std::string watchChange = "Stop when it changes";
    std::string watchValue = "Stop when it reaches a value...";
    std::string watchEnter = "Stop when the pointer enters";
    std::string watchLeave = "Stop when the pointer leaves";
    std::string watchValuePrompt = "Stop when the value is (=, <>, < or > and a number):";
    // In the breakpoint list: the cells (%1, or %1 to %2) and what is watched.
    std::string watchEntry = "Watch %1: %2";
    std::string watchRange = "%1 to %2";
    std::string watchChanges = "changes";
    std::string watchEnters = "the pointer enters";
    std::string watchLeaves = "the pointer leaves";
    std::string watchStop = "Stopped by the watchpoint: %1";
    // The loops around the current command, innermost first; a click shows its "[".
    std::string loops = "Loops";
    std::string loopEntry = "Line %1, column %2: entered with %3, rounds run: %4";
    std::string stateNone = "No program under the debugger";
    std::string stateRunning = "Running";
    std::string statePaused = "Paused before command %1 (line %2, column %3)";
    std::string stateWaiting = "Waiting for input";
    std::string stateEnded = "Ended with result %1";
    std::string stateStopped = "Stopped";
    std::string historyStart = "The history reaches back no further.";
    std::string counters = "Commands executed: %1   Run time: %2 s";
    std::string codeChanged = "The code changed since the last compile: F5, F10, F11 and "
                              "Ctrl+F10 start the changed code afresh.";
    std::string bracketsUnpaired =
        "The brackets do not pair (see the marked bracket): the debugger runs only programs "
        "whose brackets pair.";
    std::string close = "Close";
    // The output view: what the run printed, a click going to the '.' that printed a character.
    std::string output = "Output";
    std::string outputTip = "Click a character to go to just after the '.' that printed it.";
    std::string outputGone = "The history no longer reaches the '.' that printed that character.";
    // A profiled run and its hottest loops; the shapes in the order loop, clear, multiply,
    // scan, repeat, collapsing repeat.
    std::string profile = "Profile";
    std::string runProfiled = "Run with profile";
    std::string loopColumns = "Loop|Rounds|Entries|Run as";
    std::string loopShapes = "loop|clear|multiply|scan|repeat|repeat, collapsed";
    // The GUI language the texts were read for: numbers are shown in its format.
    std::string languageCode = "EN";
};

// Reads the debugger's texts from dir + "lang/GUI_" + languageCode + ".ini".
DebuggerTexts readDebuggerTexts(const std::string &dir, const std::string &languageCode);

// The dialect dialog's texts: the [Dialect] section of the GUI file, its code pane menu item
// ([PopupMenu] Code_Dialect) and the input preset ([PopupMenu] Input_EndOfInput); a missing
// key keeps the English text.
struct DialectTexts
{
    std::string menuItem = "Dia&lect...";
    std::string inputPreset = "end of input";
    std::string title = "Dialect";
    std::string cellBits = "Cell width (bits):";
    std::string endOfInput = "At the end of the input a \",\" stores:";
    std::string endZero = "0";
    std::string endAllOnes = "the largest value (all ones)";
    std::string endUnchanged = "nothing (the cell stays unchanged)";
    std::string tapeCells = "Tape cells:";
    std::string start = "The data pointer starts:";
    std::string startMiddle = "in the middle";
    std::string startLeft = "at the left end (cell 0)";
};

DialectTexts readDialectTexts(const std::string &dir, const std::string &languageCode);

// The texts of the code pane's find, replace and go-to bar: the [Editor] section of the GUI
// file; a missing key keeps the English text. %1 stands for a number filled in when shown.
struct EditorTexts
{
    std::string find = "Find:";
    std::string replaceWith = "Replace with:";
    std::string goToLine = "Line[:column]:";
    std::string next = "Next";
    std::string previous = "Previous";
    std::string replace = "Replace";
    std::string replaceAll = "Replace all";
    std::string go = "Go";
    std::string close = "Close";
    std::string caseSensitive = "Match case";
    std::string commandsOnly = "Commands only";
    std::string notFound = "Not found";
    std::string wrapped = "Continued at the other end";
    std::string replaced = "%1 replaced";
    std::string noCommands = "The text to find holds no command";
    std::string badLine = "Enter a line number, or a line and a column as in 12:5";
};

// Reads the find bar's texts from dir + "lang/GUI_" + languageCode + ".ini".
EditorTexts readEditorTexts(const std::string &dir, const std::string &languageCode);

// Step 4: dir + "lang/assemb.ini". Slots 1 to 12; empty slots keep the table's word.
MnemonicTable readListingWords(const std::string &dir);
// Writes the non-empty words of words into table.
void applyListingWords(const MnemonicTable &words, MnemonicTable &table);
