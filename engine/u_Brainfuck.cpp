#include "u_Brainfuck.h"

#include "fastexec.h"
#include "interpreter.h"

#include <algorithm>
#include <cstring>

namespace {

void ignoreOutput(void *, std::uint8_t) { }

std::uint8_t readInputQueue(void *context)
{
    return static_cast<tBF *>(context)->m_inputQueue.ReadByte();
}

void doNothing(void *) { }

bool isCommand(char c)
{
    return CommandIndex[static_cast<unsigned char>(c)] != 0;
}

} // namespace

bool isDefaultIdleHook(const tIdleHook &hook)
{
    return hook.routine == doNothing;
}

ErrorMessageTable defaultErrorMessages()
{
    return {"", "access above data-area", "access below data-area", "too many closing brackets",
        "too little closing brackets"};
}

bool tDialect::isValid() const
{
    return (cellBits == 8 || cellBits == 16 || cellBits == 32) && tapeCells >= 1 &&
        tapeCells <= MostTapeCells;
}

// Through memcpy: the tape is a byte array, read at a width chosen at run time.
std::uint32_t tBF::cellValue(std::int32_t index) const
{
    const std::size_t bytes = m_dialect.cellBytes();
    const std::uint8_t *const at = m_data.data() + static_cast<std::size_t>(index) * bytes;
    if (bytes == 1)
        return *at;
    if (bytes == 2) {
        std::uint16_t value;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void tBF::setCellValue(std::int32_t index, std::uint32_t value)
{
    const std::size_t bytes = m_dialect.cellBytes();
    std::uint8_t *const at = m_data.data() + static_cast<std::size_t>(index) * bytes;
    if (bytes == 1) {
        *at = static_cast<std::uint8_t>(value);
    } else if (bytes == 2) {
        const auto narrow = static_cast<std::uint16_t>(value);
        std::memcpy(at, &narrow, sizeof narrow);
    } else {
        std::memcpy(at, &value, sizeof value);
    }
}

void tStack_Int::SetCapacity(std::int32_t n)
{
    items.assign(static_cast<std::size_t>(n), 0);
    if (n == 0)
        items.shrink_to_fit();
    top = 0;
}

void tStack_Int::Push(std::int32_t v)
{
    ++top;
    items[static_cast<std::size_t>(top)] = v;
}

std::int32_t tStack_Int::Pop()
{
    return items[static_cast<std::size_t>(top--)];
}

void tInputQueue::Clear()
{
    data.fill(0);
    writeIndex = 0;
    readIndex = 0;
}

std::uint8_t tInputQueue::ReadByte()
{
    if (readIndex == writeIndex)
        return 0;
    ++readIndex; // unsigned 8 bits: 255 is followed by 0
    return data[readIndex];
}

tBF::tBF()
{
    m_maxCellValue = m_cellRange - 1;
    m_inputQueue.Clear();
    m_outputHook = {ignoreOutput, this};
    m_inputHook = {readInputQueue, this};
    m_idleHook = {doNothing, this};
}

void tBF::LoadCode(std::string_view source)
{
    m_code.clear();
    m_code.push_back('\0');
    std::copy_if(source.begin(), source.end(), std::back_inserter(m_code), isCommand);
    m_codeArrayLength = static_cast<std::int32_t>(m_code.size());
    m_codeLength = m_codeArrayLength - 1;
}

int tBF::MatchBrackets()
{
    m_jumps.assign(static_cast<std::size_t>(m_codeArrayLength), 0);
    // The program's length bounds its nesting depth, so a stack of that size never
    // overflows, however deep the brackets go.
    tStack_Int stack;
    stack.SetCapacity(std::max(1000, m_codeArrayLength));
    int result = ResultOk;
    for (m_instructionPointer = 1; m_instructionPointer <= m_codeLength; ++m_instructionPointer) {
        const char command = m_code[static_cast<std::size_t>(m_instructionPointer)];
        if (command == '[') {
            stack.Push(m_instructionPointer);
        } else if (command == ']') {
            if (stack.top < 1) {
                result = ResultTooManyClosing;
                break;
            }
            const std::int32_t partner = stack.Pop();
            m_jumps[static_cast<std::size_t>(partner)] = m_instructionPointer;
            m_jumps[static_cast<std::size_t>(m_instructionPointer)] = partner;
        }
    }
    if (result == ResultOk && stack.top > 0)
        result = ResultTooFewClosing;
    stack.SetCapacity(0);
    return result;
}
