#include "u_Brainfuck.h"

#include "fastexec.h"

int tBF::Run()
{
    if (m_codeLength < 1)
        return ResultOk;
    m_breakFlag = false;
    m_tapeSize = TapeCells;
    m_lastCell = TapeCells - 1;
    m_data.assign(static_cast<std::size_t>(m_tapeSize), 0);
    m_dataPointer = m_lastCell / 2;
    m_instructionPointer = 1;
    // A host that skipped MatchBrackets after LoadCode still gets a table to index;
    // missing entries are 0, which restarts the program like any unpaired bracket.
    if (m_jumps.size() < m_code.size())
        m_jumps.resize(m_code.size(), 0);
    if (const std::optional<int> result = runOptimised(*this))
        return *result;
    return runExact();
}

void tBF::FreeData()
{
    m_tapeSize = 0;
    m_lastCell = -1;
    tDataArr().swap(m_data);
}

// The reference executor: one idle call, one dispatch and one bounds test per command,
// nothing folded, nothing looked ahead.
int tBF::runExact()
{
    const char *const code = m_code.data();
    const std::int32_t *const jumps = m_jumps.data();
    std::int32_t *const cells = m_data.data();
    const std::int32_t length = m_codeLength;
    const std::int32_t last = m_lastCell;
    const std::int32_t maximum = m_maxCellValue;
    const tIdleHook idle = m_idleHook;
    std::int32_t ip = m_instructionPointer;
    std::int32_t dp = m_dataPointer;
    int result = ResultOk;

    // The pointers live in locals for speed; they are written back before every output or
    // input hook (which may look at them or throw) and when the run ends.
    const auto syncPointers = [&] {
        m_instructionPointer = ip;
        m_dataPointer = dp;
    };

    for (; ip <= length; ++ip) {
        idle();
        if (m_breakFlag) // tested before every command so that an endless loop stays stoppable
            break;
        std::int32_t &cell = cells[dp];
        switch (code[ip]) {
        case '+': cell = cell < maximum ? cell + 1 : 0; break;
        case '-': cell = cell > 0 ? cell - 1 : maximum; break;
        case '>':
            if (dp < last)
                ++dp;
            else if (m_dataWrap)
                dp = 1; // the wrap lands on cell 1, not cell 0
            else
                result = ResultAboveDataArea;
            break;
        case '<':
            if (dp > 0)
                --dp;
            else if (m_dataWrap)
                dp = last;
            else
                result = ResultBelowDataArea;
            break;
        case '.':
            syncPointers();
            m_outputHook(static_cast<std::uint8_t>(cell & 0xFF));
            break;
        case ',':
            syncPointers();
            cell = m_inputHook();
            break;
        case '[':
            if (cell == 0)
                ip = jumps[ip];
            break;
        case ']':
            if (cell > 0)
                ip = jumps[ip];
            break;
        }
        if (result != ResultOk)
            break; // the failing command keeps the instruction pointer
    }
    syncPointers();
    return result;
}
