#pragma once

// What the machine code shares with the functions it calls out to: the frame it runs with,
// and those functions, which do the threaded loop's work for one operation.

#if defined(CEREBRIX_NATIVE) && defined(__x86_64__)

#include "fastsupport.h"

#include <cstdint>
#include <exception>

namespace native {

struct Frame;
using CallOut = int (*)(Frame *, std::int32_t) noexcept;

// The functions the code calls out to, by their place in Frame::calls: one short indirect
// call each, where an address in the code would take a ten-byte move first.
enum Call : std::uint8_t {
    CheckFailed,
    LoopCarefully,
    ScanOn,
    ScanIdle,
    Collapse,
    Idle,
    RoundIdle,
    StopAt,
    SettleNest,
    CallCount,
};

// What the generated code and the functions it calls share. Standard layout: the code
// addresses its fields by offset.
struct Frame
{
    std::uint8_t *tape;
    std::int64_t dataPointer;
    std::int64_t executed;
    std::int64_t threshold;
    std::int64_t commands;
    Machine *machine;
    std::exception_ptr *error;
    CallOut calls[CallCount];
    int (*transfer)(Frame *, std::int32_t, std::int64_t) noexcept;
    std::int32_t *nestRounds; // Machine::nestRounds
    std::int64_t *jumps; // Machine::jumps, for code that notes them
};

// Returned by a called-out function when a hook threw: the code unwinds by returning, and
// the exception travels on from C++.
constexpr int Threw = 3;
static_assert(static_cast<int>(Stop::Ended) == 0);

// The functions the code calls, in the order of Call, and the one for output and input.
extern const CallOut CallOuts[CallCount];
int transferAt(Frame *frame, std::int32_t index, std::int64_t pointer) noexcept;

} // namespace native

#endif
