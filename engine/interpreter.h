#pragma once

#include "u_Brainfuck.h"

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

// Runs the commands from position while position <= last, on the engine's tape from
// dataPointer. Observer says what the host sees:
//   bool beforeCommand(position, dataPointer): runs before every command; true stops there.
//   static constexpr bool BreaksAfterTransfer: whether a break flag that an output or input
//   hook sets stops the run right after that command instead of at the next idle test.
template<class Observer>
Halt interpretCommands(tBF &engine, std::int32_t position, std::int32_t last,
    std::int32_t dataPointer, Observer &observer)
{
    const char *const code = engine.m_code.data();
    const std::int32_t *const jumps = engine.m_jumps.data();
    std::uint8_t *const cells = engine.m_data.data();
    const std::int32_t lastCell = engine.m_lastCell;
    const std::int32_t maximum = engine.m_maxCellValue;
    const bool dataWrap = engine.m_dataWrap;

    for (; position <= last; ++position) {
        if (observer.beforeCommand(position, dataPointer))
            return {Stop::Break, position, dataPointer};
        std::uint8_t &cell = cells[dataPointer];
        switch (code[position]) {
        case '+': cell = cell < maximum ? cell + 1 : 0; break;
        case '-': cell = cell > 0 ? cell - 1 : maximum; break;
        case '>':
            if (dataPointer < lastCell)
                ++dataPointer;
            else if (dataWrap)
                dataPointer = 1; // the wrap lands on cell 1, not cell 0
            else
                return {Stop::Fault, position, dataPointer, ResultAboveDataArea};
            break;
        case '<':
            if (dataPointer > 0)
                --dataPointer;
            else if (dataWrap)
                dataPointer = lastCell;
            else
                return {Stop::Fault, position, dataPointer, ResultBelowDataArea};
            break;
        case '.':
        case ',':
            transferByte(engine, code[position] == '.', position, dataPointer);
            if (Observer::BreaksAfterTransfer && engine.m_breakFlag)
                return {Stop::Break, position + 1, dataPointer};
            break;
        case '[':
            if (cell == 0)
                position = jumps[position];
            break;
        case ']':
            if (cell > 0)
                position = jumps[position];
            break;
        }
    }
    return {Stop::Ended, position, dataPointer};
}
