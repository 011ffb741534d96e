#include "u_Brainfuck.h"

#include "fastexec.h"
#include "interpreter.h"

int tBF::Run()
{
    if (m_codeLength < 1)
        return ResultOk;
    m_breakFlag = false;
    m_inputEnded = false;
    if (!m_dialect.isValid())
        m_dialect = tDialect {};
    allocateTape(*this);
    m_instructionPointer = 1;
    // A host that skipped MatchBrackets after LoadCode still gets a table to index;
    // missing entries are 0, which restarts the program like any unpaired bracket.
    if (m_jumps.size() < m_code.size())
        m_jumps.resize(m_code.size(), 0);
    if (m_path == tEnginePath::Exact)
        return runExact();
    if (const std::optional<int> result = runOptimised(*this))
        return *result;
    return runExact();
}

void allocateTape(tBF &engine)
{
    const tDialect &dialect = engine.m_dialect;
    engine.m_tapeSize = dialect.tapeCells;
    engine.m_lastCell = dialect.tapeCells - 1;
    engine.m_data.assign(static_cast<std::size_t>(engine.m_tapeSize) * dialect.cellBytes(), 0);
    engine.m_dataPointer = dialect.startCell();
}

void transferByte(tBF &engine, bool isOutput, std::int32_t position, std::int32_t dataPointer)
{
    switch (engine.m_dialect.cellBits) {
    case 16: return transferCell<std::uint16_t>(engine, isOutput, position, dataPointer);
    case 32: return transferCell<std::uint32_t>(engine, isOutput, position, dataPointer);
    default: return transferCell<std::uint8_t>(engine, isOutput, position, dataPointer);
    }
}

void tBF::FreeData()
{
    m_tapeSize = 0;
    m_lastCell = -1;
    tDataArr().swap(m_data);
}

namespace {

// The reference executor's view: the idle hook before every command, with the pointers as
// they stand there, and the break flag tested right after it.
struct EveryCommand
{
    static constexpr bool BreaksAfterTransfer = false;
    tBF &engine;

    bool beforeCommand(std::int32_t position, std::int32_t dataPointer)
    {
        engine.m_instructionPointer = position;
        engine.m_dataPointer = dataPointer;
        engine.m_idleHook();
        return engine.m_breakFlag; // tested before every command: an endless loop stays stoppable
    }
};

} // namespace

// One idle call, one dispatch and one bounds test per command, nothing folded, nothing
// looked ahead.
int tBF::runExact()
{
    EveryCommand observer {*this};
    const Halt halt =
        interpretCommands(*this, m_instructionPointer, m_codeLength, m_dataPointer, observer);
    m_instructionPointer = halt.position;
    m_dataPointer = halt.dataPointer;
    return halt.result;
}
