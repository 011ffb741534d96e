#include "u_Brainfuck.h"

// Placeholder until the run-length listing lands.
std::string tBF::Disassemble() const
{
    return {};
}
