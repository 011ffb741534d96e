#pragma once

#include "fastsupport.h"
#include "optimizer.h"

#include <cstddef>
#include <memory>
#include <string>

// The optimised path's second back end: the same operations as the threaded loop, translated
// into machine code for the processor it runs on. Whatever the code cannot do inline (hooks,
// the careful path near the tape ends, long scans, collapsing loops) it calls out for, to the
// very functions the threaded loop uses, so both back ends share one meaning.

// Generated code stays below this size; a larger program runs on the threaded loop.
inline constexpr std::size_t MostNativeCodeBytes = std::size_t {64} << 20;

class NativeCode
{
public:
    virtual ~NativeCode() = default;
    // Runs from operation entry (0, a counting translation's entry for the machine's position,
    // or where a "]" the threaded loop ran leads: Machine::handOverAt) with the machine's
    // state, as the threaded loop would, and leaves the machine's pointers and count where the
    // run stopped. Rethrows what a hook threw.
    virtual Stop run(Machine &machine, std::int32_t entry = 0) const = 0;
    // Where the code lies, for checks of how its memory is protected.
    virtual const void *address() const = 0;
    // How many bytes of code it is.
    virtual std::size_t size() const = 0;
    // Whether it notes each bracket's jumps in Machine::jumps (a profiled run's code).
    virtual bool profiles() const = 0;
};

// Whether this build and processor have the back end.
bool nativeCodeAvailable();

// The fewest bytes of machine code program can take, with a coarse idle hook when counted
// (0 without the back end): a program with more than the bound gets none, before anything
// is made for it.
std::size_t leastNativeCodeBytes(const Program &program, bool counted);

// Machine code for program, or nothing when the back end is missing, the code would exceed
// mostBytes, memory runs out while making it or the system refuses executable memory. counted: the
// run has a coarse idle hook, called when the work units pass the machine's threshold (a debugger's
// counting translation needs one). profiles: the code also notes each bracket's jumps, as a
// profiled run on the threaded loop does (for a counting translation only); it must then be run
// with Machine::jumps set.
std::unique_ptr<NativeCode> compileNative(const Program &program, bool counted,
    std::size_t mostBytes = MostNativeCodeBytes, bool profiles = false);

// The machine code for program as assembly text, one instruction a line with its labels,
// for cerebrix-run --ops; empty when there is none (see compileNative), or the assembler's
// message when it failed.
std::string nativeAssembly(const Program &program, bool counted);
