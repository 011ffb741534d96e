#include "nativeexec.h"

#if defined(CEREBRIX_NATIVE) && defined(__x86_64__)

#include "nativeemitter.h"

#include <asmjit/x86.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

// AsmJit rather than Xbyak, though both are packaged: AsmJit reports every encoding error
// through a handler rather than an exception (the engine lets only hooks throw), hands over
// flattened code to copy into memory we map and protect ourselves, and its package also
// assembles AArch64, which a second generator could use; Xbyak's covers x86 alone.
namespace {

using namespace native;

using Entry = int (*)(Frame *, const void *entry);

// The fewest bytes the generator emits for op: the instructions it always writes, each in
// its shortest encoding (held cells, short jumps), out-of-line paths included. A call out is
// the index and the call of its stub. counted: with a coarse idle hook, which adds a budget
// test and its call at every boundary and Checkpoint that adds units (cost), and one to every
// Repeat's round.
std::size_t leastBytes(const Op &op, bool counted, std::int64_t cost)
{
    const std::size_t move = op.value != 0 ? 4 : 0;
    const std::size_t call = 10;
    const std::size_t roundTest = counted ? 10 + call : 0;
    const std::size_t budgetTest = cost != 0 ? roundTest : 0;
    switch (op.kind) {
    case OpKind::Add: return 3;
    case OpKind::Set: return 2;
    case OpKind::Multiply:
    case OpKind::MultiplyOne: return 5;
    case OpKind::Output:
    case OpKind::Input: return 19;
    case OpKind::Check: return 9 + call; // the compare; the call of its path
    case OpKind::Move: return move;
    case OpKind::Open: return move + 16 + budgetTest;
    case OpKind::Close: return move + 18 + budgetTest;
    case OpKind::Repeat: return move + 7 + budgetTest + roundTest;
    case OpKind::Checkpoint: return budgetTest;
    case OpKind::Stop: return move + call;
    case OpKind::End: return 8;
    case OpKind::Term:
    case OpKind::Scan: return 0;
    }
    return 0;
}

// Code in its own pages, never writable and executable at once: written, then switched to
// read and execute; unmapped with the object.
class MappedCode final : public NativeCode
{
public:
    MappedCode(void *pages, std::size_t size)
        : m_pages(pages)
        , m_size(size)
    { }
    ~MappedCode() override { ::munmap(m_pages, m_size); }
    MappedCode(const MappedCode &) = delete;
    MappedCode &operator=(const MappedCode &) = delete;

    Stop run(Machine &machine, std::int32_t entry) const override
    {
        std::exception_ptr error;
        Frame frame {machine.tape, machine.dataPointer, machine.executed, machine.threshold,
            machine.commands, &machine, &error, {}, transferAt, machine.nestRounds.data(),
            machine.jumps};
        if (notesJumps && !machine.jumps)
            throw std::logic_error("code that notes jumps run without a place for them");
        std::copy(std::begin(CallOuts), std::end(CallOuts), frame.calls);
        const std::uint32_t offset = entries[static_cast<std::size_t>(entry)];
        if (offset == NoEntry)
            throw std::logic_error("no machine code starts at that operation");
        const int result = reinterpret_cast<Entry>(m_pages)(
            &frame, static_cast<const std::uint8_t *>(m_pages) + offset);
        if (result == Threw)
            std::rethrow_exception(error);
        const auto stop = static_cast<Stop>(result);
        machine.executed = frame.executed;
        machine.commands = frame.commands;
        if (stop == Stop::Ended) {
            machine.dataPointer = static_cast<std::int32_t>(frame.dataPointer);
            machine.instructionPointer = machine.engine.m_codeLength + 1;
        }
        return stop;
    }

    const void *address() const override { return m_pages; }
    std::size_t size() const override { return bytes; }
    bool profiles() const override { return notesJumps; }

    std::size_t bytes = 0;
    bool notesJumps = false;
    // Where the code for each operation a run may start at begins (NoEntry elsewhere).
    std::vector<std::uint32_t> entries;
    static constexpr std::uint32_t NoEntry = ~std::uint32_t {0};

private:
    void *m_pages;
    std::size_t m_size;
};

// failure, when given, receives AsmJit's message when its error ended the code.
std::unique_ptr<NativeCode> generate(const Program &program, bool counted, bool profiles,
    std::size_t mostBytes, asmjit::Logger *logger = nullptr, std::string *failure = nullptr)
{
    Failures failures;
    asmjit::CodeHolder code;
    code.init(asmjit::Environment::host());
    code.setErrorHandler(&failures);
    if (logger)
        code.setLogger(logger);
    Generator generator(program, counted, profiles, mostBytes, code, failures);
    if (!generator.emit() || failures.failed) {
        if (failure && failures.failed)
            *failure = failures.message;
        return nullptr;
    }
    if (code.flatten() != asmjit::kErrorOk || code.resolveUnresolvedLinks() != asmjit::kErrorOk)
        return nullptr;
    const std::size_t size = code.codeSize();
    const auto pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t mapped = (size + pageSize - 1) / pageSize * pageSize;
    void *pages =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        return nullptr;
    auto native = std::make_unique<MappedCode>(pages, mapped);
    native->bytes = size;
    native->notesJumps = profiles;
    if (code.relocateToBase(reinterpret_cast<std::uint64_t>(pages)) != asmjit::kErrorOk ||
        code.copyFlattenedData(pages, mapped) != asmjit::kErrorOk ||
        ::mprotect(pages, mapped, PROT_READ | PROT_EXEC) != 0)
        return nullptr;
    native->entries.assign(program.ops.size() + 1, MappedCode::NoEntry);
    const std::vector<asmjit::Label> &labels = generator.labels();
    for (std::size_t i = 0; i < labels.size(); ++i) {
        if (labels[i].isValid() && code.isLabelBound(labels[i]))
            native->entries[i] = static_cast<std::uint32_t>(code.labelOffsetFromBase(labels[i]));
    }
    return native;
}

} // namespace

bool nativeCodeAvailable()
{
    return true;
}

std::size_t leastNativeCodeBytes(const Program &program, bool counted)
{
    std::size_t bytes = 0;
    for (std::size_t index = 0; index < program.ops.size(); ++index)
        bytes += leastBytes(
            program.ops[index], counted, index < program.costs.size() ? program.costs[index] : 1);
    return bytes;
}

std::unique_ptr<NativeCode> compileNative(
    const Program &program, bool counted, std::size_t mostBytes, bool profiles)
{
    // A program too large for the bound is known before anything is made for it.
    if (leastNativeCodeBytes(program, counted) > mostBytes)
        return nullptr;
    try {
        return generate(program, counted, profiles, mostBytes);
    } catch (const std::bad_alloc &) {
        return nullptr; // as for code past its bound: the threaded loop runs it
    }
}

std::string nativeAssembly(const Program &program, bool counted)
{
    if (leastNativeCodeBytes(program, counted) > MostNativeCodeBytes)
        return {};
    asmjit::StringLogger logger;
    logger.addFlags(asmjit::FormatFlags::kMachineCode);
    std::string failure;
    try {
        if (!generate(program, counted, false, MostNativeCodeBytes, &logger, &failure))
            return failure.empty() ? std::string {} : "; no machine code: " + failure + "\n";
    } catch (const std::bad_alloc &) {
        return {};
    }
    return std::string(logger.data(), logger.dataSize());
}

#else

bool nativeCodeAvailable()
{
    return false;
}

std::size_t leastNativeCodeBytes(const Program &, bool)
{
    return 0;
}

std::unique_ptr<NativeCode> compileNative(const Program &, bool, std::size_t, bool)
{
    return nullptr;
}

std::string nativeAssembly(const Program &, bool)
{
    return {};
}

#endif
