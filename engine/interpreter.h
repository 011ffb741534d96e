#pragma once

#include "u_Brainfuck.h"

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

// Calls the output or input hook for the command at position. The pointers are written into
// the engine first: a hook may look at them, or throw.
inline void transferByte(
    tBF &engine, bool isOutput, std::int32_t position, std::int32_t dataPointer)
{
    engine.m_instructionPointer = position;
    engine.m_dataPointer = dataPointer;
    std::uint8_t &cell = engine.m_data[static_cast<std::size_t>(dataPointer)];
    if (isOutput)
        engine.m_outputHook(cell);
    else
        cell = engine.m_inputHook();
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
template<class Observer>
Halt interpretCommands(tBF &engine, std::int32_t position, std::int32_t last,
    std::int32_t dataPointer, Observer &observer)
{
    static const void *const handlers[] = {
        &&other, &&plus, &&minus, &&right, &&left, &&output, &&input, &&open, &&close};
    const char *const code = engine.m_code.data();
    const std::int32_t *const jumps = engine.m_jumps.data();
    std::uint8_t *const cells = engine.m_data.data();
    const std::int32_t lastCell = engine.m_lastCell;
    const std::int32_t maximum = engine.m_maxCellValue;
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
plus:
    cells[dataPointer] = cells[dataPointer] < maximum ? cells[dataPointer] + 1 : 0;
    CEREBRIX_NEXT;
minus:
    cells[dataPointer] = cells[dataPointer] > 0 ? cells[dataPointer] - 1 : maximum;
    CEREBRIX_NEXT;
right:
    if (dataPointer < lastCell)
        ++dataPointer;
    else if (dataWrap)
        dataPointer = 1; // the wrap lands on cell 1, not cell 0
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
    transferByte(engine, code[position] == '.', position, dataPointer);
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
