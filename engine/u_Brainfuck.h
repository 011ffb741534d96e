#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Result codes of MatchBrackets (0, 3, 4) and Run (0, 1, 2). Each non-zero code is also
// the slot of its text in the error message table.
enum BFResult : int {
    ResultOk = 0,
    ResultAboveDataArea = 1, // ">" at the last cell with data wrap off
    ResultBelowDataArea = 2, // "<" at cell 0 with data wrap off
    ResultTooManyClosing = 3, // "]" with no open "["
    ResultTooFewClosing = 4, // "[" never closed
};

// Error message table: slot 0 empty, slots 1 to 4 the texts of the non-zero result codes.
// The path a run takes when no host can tell the paths apart. Fastest is machine code where
// the build and the processor have it, else the threaded interpreter; tests and benchmarks
// force the others to compare them (Exact runs every command one by one).
enum class tEnginePath { Fastest, Threaded, Exact };

using ErrorMessageTable = std::array<std::string, 5>;
// The built-in texts of the error message table.
ErrorMessageTable defaultErrorMessages();

// Mnemonic table: slots 1 to 12 are the words of the run-length listing; slot 0 is unused.
using MnemonicTable = std::array<std::string, 13>;

using tCodeArr = std::vector<char>;
using tJmpArr = std::vector<std::int32_t>;
// The tape's bytes: each cell takes one, two or four of them (its width), in the processor's
// byte order. The optimised path and the exact one work on these very cells, and a hook that
// looks at the tape during a run sees them as they are (cellValue reads one at any width).
using tDataArr = std::vector<std::uint8_t>;

// What a "," stores once the input has ended (the input hook said so, see tBF::m_inputEnded).
enum class tEndOfInput { Zero, AllOnes, Unchanged };
// Where the data pointer starts: cell last / 2, or cell 0.
enum class tTapeStart { Middle, Left };

// The dialect a run speaks. The defaults are the engine's own: 8-bit cells, 0 at the end of
// the input, 65,536 cells starting in the middle.
struct tDialect
{
    static constexpr std::int32_t MostTapeCells = std::int32_t {1} << 24;

    int cellBits = 8; // 8, 16 or 32; arithmetic wraps at that width
    tEndOfInput endOfInput = tEndOfInput::Zero;
    std::int32_t tapeCells = 65536; // 1 .. MostTapeCells
    tTapeStart start = tTapeStart::Middle;

    bool operator==(const tDialect &) const = default;
    // Whether every field holds one of its allowed values.
    bool isValid() const;
    std::size_t cellBytes() const { return static_cast<std::size_t>(cellBits / 8); }
    // The largest value a cell holds: 255, 65,535 or 4,294,967,295.
    std::uint32_t cellMask() const { return cellBits >= 32 ? ~0u : (1u << cellBits) - 1; }
    // The cell the data pointer starts at.
    std::int32_t startCell() const { return start == tTapeStart::Left ? 0 : (tapeCells - 1) / 2; }
};

// An integer stack whose element 0 is never used: with capacity n it holds n - 1 items.
// It checks nothing; callers test emptiness (top < 1) and never push onto a full stack.
struct tStack_Int
{
    std::vector<std::int32_t> items;
    std::int32_t top = 0;

    // Resizes items to n entries and empties the stack; n = 0 releases the items.
    void SetCapacity(std::int32_t n);
    void Push(std::int32_t v);
    std::int32_t Pop();
};

// A 256-byte ring buffer; empty while both indexes are equal. Nothing in the program
// writes to it, so with the default input hook every "," reads 0.
struct tInputQueue
{
    std::array<std::uint8_t, 256> data {};
    std::uint8_t writeIndex = 0; // slot of the last byte written
    std::uint8_t readIndex = 0; // slot of the last byte read

    void Clear();
    // Returns 0 and changes nothing when empty; otherwise advances the read index
    // (255 wraps to 0) and returns the byte in that slot.
    std::uint8_t ReadByte();
};

// Hooks are plain (routine, context) pairs so that a call costs one indirect jump and
// installing one allocates nothing.
struct tOutputHook
{
    void (*routine)(void *context, std::uint8_t byte) = nullptr;
    void *context = nullptr;
    void operator()(std::uint8_t byte) const { routine(context, byte); }
};

struct tInputHook
{
    std::uint8_t (*routine)(void *context) = nullptr;
    void *context = nullptr;
    std::uint8_t operator()() const { return routine(context); }
};

struct tIdleHook
{
    void (*routine)(void *context) = nullptr;
    void *context = nullptr;
    void operator()() const { routine(context); }
};

// The interpreter engine: one program, its jump table, the tape of a run and the hooks
// through which the run talks to its host. Positions in the program text are 1-based;
// element 0 of the program text holds the byte 0.
class tBF
{
public:
    static constexpr std::int32_t TapeCells = 65536;

    // Every field at its initial value, the input queue cleared, the default hooks
    // (ignore output, read the input queue, do nothing when idle) bound to this engine.
    tBF();
    tBF(const tBF &) = delete;
    tBF &operator=(const tBF &) = delete;

    // Keeps only the eight command characters of source. Leaves the jump table as it was,
    // so MatchBrackets must follow before Run.
    void LoadCode(std::string_view source);
    // Rebuilds the jump table; returns ResultOk, ResultTooManyClosing or ResultTooFewClosing.
    // On a fault the pairs closed before it keep their partners, every other entry is 0.
    int MatchBrackets();
    // Runs the program from its first command on a fresh zeroed tape shaped by m_dialect (an
    // invalid dialect is replaced by the default one first). Returns ResultOk (also
    // when the break flag stopped it), ResultAboveDataArea or ResultBelowDataArea, leaving the
    // instruction pointer on the failing command. Lets anything a hook throws pass through.
    // On every path each hook call sees the tape and both pointers exactly as the exact run
    // has them there (before an idle call the instruction pointer names the next command).
    int Run();
    // Releases the tape; tape size becomes 0 and the last cell index -1.
    void FreeData();
    // The run-length listing of the program text, every line ending in CR LF. Lines nested
    // deeper than 127 loops stand at the indentation of that depth (255 spaces).
    std::string Disassemble() const;
    // The listing when it holds at most limit bytes; nothing otherwise, having built no more
    // than limit bytes of it.
    std::optional<std::string> disassembleWithin(std::size_t limit) const;
    // Hands the listing to consume one line at a time, so that it never has to be held
    // whole; stops and returns false as soon as consume returns false.
    bool writeListing(const std::function<bool(std::string_view line)> &consume) const;

    // The value of cell index (0 .. m_lastCell) at the dialect's width.
    std::uint32_t cellValue(std::int32_t index) const;
    // Stores value, cut to the dialect's width, into cell index (0 .. m_lastCell).
    void setCellValue(std::int32_t index, std::uint32_t value);

    std::int32_t m_configuredTapeSize = 65536; // stored by compile, read by nothing
    std::int32_t m_cellRange = 256; // read only by the constructor
    bool m_dataWrap = true;
    bool m_valueWrap = true; // carried for the host; the cell arithmetic always wraps
    tCodeArr m_code;
    tJmpArr m_jumps;
    tDataArr m_data;
    tInputQueue m_inputQueue;
    std::int32_t m_instructionPointer = 0;
    std::int32_t m_dataPointer = 0;
    std::int32_t m_codeArrayLength = 0; // 0 until the first LoadCode
    std::int32_t m_codeLength = 0;
    std::int32_t m_tapeSize = 0;
    std::int32_t m_lastCell = 0;
    std::int32_t m_maxCellValue = 255;
    bool m_breakFlag = false;
    // Run reads the dialect once, at its start, and keeps it for the run.
    tDialect m_dialect;
    // Set by an input hook whose input has ended: the "," then stores what the dialect's end
    // of input says instead of the byte the hook returned. The engine clears it after the ",".
    bool m_inputEnded = false;
    tOutputHook m_outputHook;
    tInputHook m_inputHook;
    tIdleHook m_idleHook;
    // 1: the idle hook runs before every command. A host whose idle hook only keeps a window
    // live may set N > 1: the hook then runs at least once every N units of work, between
    // commands, with the pointers as the exact run has them there. A unit is one command run
    // one by one (an output or input counts 64: its hook costs that much more); a loop run as
    // a whole counts its real cost instead of the commands it stands for (a few units, plus
    // one per round it ran one by one or per cell a scan passed).
    // A break flag the hook sets stops the run there. Every other observable stays exact.
    std::int32_t m_idleInterval = 1;
    tEnginePath m_path = tEnginePath::Fastest;
    // Whether the optimised path may settle loops that hold loops as a whole (off only to
    // tell a difference it makes from the other transformations').
    bool m_settlesNests = true;
    // Whether it may solve loops in place whose rounds all do the same without running one
    // (off only to tell a difference it makes).
    bool m_closesConstantRounds = true;
    // Whether machine code tests ranges below the pointer, and moving loops' later rounds, at
    // one end of the tape alone (off only to tell a difference it makes).
    bool m_testsOneEnd = true;
    // Whether machine code under a coarse idle hook runs a moving loop's rounds without budget
    // tests while the budget allows (off only to tell a difference it makes).
    bool m_movesUntested = true;
    // Whether a block's tape-end test also covers a loop solved at once after it and the block
    // after that (off only to tell a difference it makes).
    bool m_coversClosedLoops = true;
    // Machine code only: the passes of a loop's "]" the threaded loop makes before machine
    // code is made and takes over there (0: machine code from the start; -1: by the program's
    // size, for large programs about as long as making their code takes, 0 for others).
    std::int64_t m_handOverAfter = -1;
    // The commands a debugger's counted run has executed, written before each idle call.
    std::int64_t m_commandCount = 0;
    MnemonicTable m_mnemonics;

private:
    int runExact();
};
