#pragma once

#include "u_Brainfuck.h"

#include <algorithm>
#include <array>
#include <cstdint>

// The eight commands run one by one, with their wrap and fault rules. The reference executor
// runs whole programs here, and the optimised path runs here whatever could leave the tape,
// so the rules live in this one place.

enum class Stop {
    Ended, // the position passed the last command of the stretch
    Break, // the break flag stopped the run before the command at the position
    Fault, // the command at the position failed; its result code says how
};

// Where a stretch of commands stopped.
struct Halt
{
    Stop stop = Stop::Ended;
    std::int32_t position = 0;
    std::int32_t dataPointer = 0;
    int result = ResultOk;
};

// The tape as cells of type Cell (std::uint8_t, std::uint16_t or std::uint32_t): the engine's
// byte array holds them at the dialect's width.
template<class Cell>
Cell *cellsOf(tBF &engine)
{
    return reinterpret_cast<Cell *>(engine.m_data.data());
}

// Calls the output or input hook for the command at position. The pointers are written into
// the engine first: a hook may look at them, or throw. Output gets the cell's low 8 bits; an
// input hook that reports the end of its input leaves the cell as the dialect says.
template<class Cell>
void transferCell(tBF &engine, bool isOutput, std::int32_t position, std::int32_t dataPointer)
{
    engine.m_instructionPointer = position;
    engine.m_dataPointer = dataPointer;
    Cell &cell = cellsOf<Cell>(engine)[static_cast<std::size_t>(dataPointer)];
    if (isOutput) {
        engine.m_outputHook(static_cast<std::uint8_t>(cell));
        return;
    }
    const std::uint8_t byte = engine.m_inputHook();
    if (!engine.m_inputEnded) {
        cell = byte;
        return;
    }
    engine.m_inputEnded = false;
    switch (engine.m_dialect.endOfInput) {
    case tEndOfInput::Zero: cell = 0; break;
    case tEndOfInput::AllOnes: cell = static_cast<Cell>(~Cell {0}); break;
    case tEndOfInput::Unchanged: break;
    }
}

// A fresh zeroed tape as the engine's dialect describes it, the data pointer on its start cell.
void allocateTape(tBF &engine);

// transferCell at the width the engine's dialect names.
void transferByte(tBF &engine, bool isOutput, std::int32_t position, std::int32_t dataPointer);

// Notes in jumps (per position) a "[" at position that is about to skip its loop or a "]"
// that is about to jump back, with the data pointer at dataPointer.
inline void noteJump(
    const tBF &engine, std::int64_t *jumps, std::int32_t position, std::int32_t dataPointer)
{
    const char command = engine.m_code[static_cast<std::size_t>(position)];
    if ((command == '[' || command == ']') &&
        (engine.cellValue(dataPointer) == 0) == (command == '['))
        ++jumps[position];
}

// The index of each command's handler in interpretCommands: 0 for anything else.
inline constexpr std::array<std::uint8_t, 256> CommandIndex = [] {
    std::array<std::uint8_t, 256> index {};
    const char commands[] = "+-><.,[]";
    for (std::uint8_t handler = 1; handler <= 8; ++handler)
        index[static_cast<unsigned char>(commands[handler - 1])] = handler;
    return index;
}();

// Runs the commands from position while position <= last, on the engine's tape from
// dataPointer. Observer says what the host sees:
//   bool beforeCommand(position, dataPointer): runs before every command; true stops there.
//   static constexpr bool BreaksAfterTransfer: whether a break flag that an output or input
//   hook sets stops the run right after that command instead of at the next idle test.
// Each handler ends in a dispatch of its own (labels as values, as GCC and Clang offer):
// the processor then predicts the next command per command, not once for all of them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wgnu-label-as-value"
#endif
template<class Cell, class Observer>
Halt interpretCells(tBF &engine, std::int32_t position, std::int32_t last, std::int32_t dataPointer,
    Observer &observer)
{
    static const void *const handlers[] = {
        &&other, &&plus, &&minus, &&right, &&left, &&output, &&input, &&open, &&close};
    const char *const code = engine.m_code.data();
    const std::int32_t *const jumps = engine.m_jumps.data();
    Cell *const cells = cellsOf<Cell>(engine);
    const std::int32_t lastCell = engine.m_lastCell;
    // A one-cell tape has no cell 1 to wrap to.
    const std::int32_t wrapsTo = std::min(1, lastCell);
    const bool dataWrap = engine.m_dataWrap;

#define CEREBRIX_DISPATCH                                                                          \
    if (position > last)                                                                           \
        return {Stop::Ended, position, dataPointer};                                               \
    if (observer.beforeCommand(position, dataPointer))                                             \
        return {Stop::Break, position, dataPointer};                                               \
    goto *handlers[CommandIndex[static_cast<unsigned char>(code[position])]]
#define CEREBRIX_NEXT                                                                              \
    ++position;                                                                                    \
    CEREBRIX_DISPATCH

    CEREBRIX_DISPATCH;
plus: // unsigned: the maximum steps up to 0 and 0 down to the maximum
    cells[dataPointer] = static_cast<Cell>(cells[dataPointer] + 1u);
    CEREBRIX_NEXT;
minus:
    cells[dataPointer] = static_cast<Cell>(cells[dataPointer] - 1u);
    CEREBRIX_NEXT;
right:
    if (dataPointer < lastCell)
        ++dataPointer;
    else if (dataWrap)
        dataPointer = wrapsTo; // the wrap lands on cell 1, not cell 0
    else
        return {Stop::Fault, position, dataPointer, ResultAboveDataArea};
    CEREBRIX_NEXT;
left:
    if (dataPointer > 0)
        --dataPointer;
    else if (dataWrap)
        dataPointer = lastCell;
    else
        return {Stop::Fault, position, dataPointer, ResultBelowDataArea};
    CEREBRIX_NEXT;
output:
input:
    transferCell<Cell>(engine, code[position] == '.', position, dataPointer);
    if (Observer::BreaksAfterTransfer && engine.m_breakFlag)
        return {Stop::Break, position + 1, dataPointer};
    CEREBRIX_NEXT;
open:
    if (cells[dataPointer] == 0)
        position = jumps[position]; // the increment moves past the partner
    CEREBRIX_NEXT;
close:
    if (cells[dataPointer] > 0)
        position = jumps[position];
    CEREBRIX_NEXT;
other: // the program text holds nothing else
    CEREBRIX_NEXT;
#undef CEREBRIX_NEXT
#undef CEREBRIX_DISPATCH
}
#pragma GCC diagnostic pop

// interpretCells at the width of the engine's dialect, chosen once per stretch.
template<class Observer>
Halt interpretCommands(tBF &engine, std::int32_t position, std::int32_t last,
    std::int32_t dataPointer, Observer &observer)
{
    switch (engine.m_dialect.cellBits) {
    case 16: return interpretCells<std::uint16_t>(engine, position, last, dataPointer, observer);
    case 32: return interpretCells<std::uint32_t>(engine, position, last, dataPointer, observer);
    default: return interpretCells<std::uint8_t>(engine, position, last, dataPointer, observer);
    }
}
