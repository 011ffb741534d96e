#include <gtest/gtest.h>

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

// The built programs carry the hardening a Debian package asks for, read from their ELF
// headers as checking tools read them.

namespace {

struct Hardening
{
    bool positionIndependent = false;
    bool relro = false;
    bool bindNow = false;
    bool stackExecutable = true; // without a PT_GNU_STACK header the stack is executable
    std::set<std::string> dynamicSymbols;
};

template<typename T>
bool readAt(const std::vector<char> &file, std::size_t offset, T &value)
{
    if (offset > file.size() || file.size() - offset < sizeof(T))
        return false;
    std::memcpy(&value, file.data() + offset, sizeof(T));
    return true;
}

// Reads what the 64-bit ELF file at path shows of its hardening; fails the test for any other.
Hardening hardeningOf(const std::string &path)
{
    std::ifstream stream(path, std::ios::binary);
    const std::vector<char> file {std::istreambuf_iterator<char>(stream), {}};
    Hardening found;
    Elf64_Ehdr header {};
    if (!readAt(file, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64) {
        ADD_FAILURE() << path << " is no 64-bit ELF file";
        return found;
    }
    bool interpreted = false;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment {};
        if (!readAt(file, header.e_phoff + i * sizeof segment, segment))
            break;
        interpreted = interpreted || segment.p_type == PT_INTERP;
        found.relro = found.relro || segment.p_type == PT_GNU_RELRO;
        if (segment.p_type == PT_GNU_STACK)
            found.stackExecutable = (segment.p_flags & PF_X) != 0;
        for (std::size_t at = segment.p_offset;
             segment.p_type == PT_DYNAMIC && at < segment.p_offset + segment.p_filesz;
             at += sizeof(Elf64_Dyn)) {
            Elf64_Dyn entry {};
            if (!readAt(file, at, entry) || entry.d_tag == DT_NULL)
                break;
            found.bindNow = found.bindNow || entry.d_tag == DT_BIND_NOW ||
                (entry.d_tag == DT_FLAGS && (entry.d_un.d_val & DF_BIND_NOW) != 0) ||
                (entry.d_tag == DT_FLAGS_1 && (entry.d_un.d_val & DF_1_NOW) != 0);
        }
    }
    // A position-independent executable is a shared object with an interpreter.
    found.positionIndependent = header.e_type == ET_DYN && interpreted;
    for (unsigned i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr symbols {};
        Elf64_Shdr names {};
        if (!readAt(file, header.e_shoff + i * sizeof symbols, symbols) ||
            symbols.sh_type != SHT_DYNSYM ||
            !readAt(file, header.e_shoff + symbols.sh_link * sizeof names, names))
            continue;
        for (std::size_t at = symbols.sh_offset;
             at + sizeof(Elf64_Sym) <= symbols.sh_offset + symbols.sh_size;
             at += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol {};
            if (!readAt(file, at, symbol) || names.sh_offset + symbol.st_name >= file.size())
                break;
            const char *name = file.data() + names.sh_offset + symbol.st_name;
            found.dynamicSymbols.insert(
                std::string(name, strnlen(name, file.size() - names.sh_offset - symbol.st_name)));
        }
    }
    return found;
}

struct Program
{
    const char *name;
    const char *path;
};

void PrintTo(const Program &program, std::ostream *stream)
{
    *stream << program.path;
}

class Hardened : public testing::TestWithParam<Program>
{ };

TEST_P(Hardened, AsDebianBuildsItsPackages)
{
    const Hardening found = hardeningOf(GetParam().path);
    EXPECT_TRUE(found.positionIndependent);
    EXPECT_TRUE(found.relro);
    EXPECT_TRUE(found.bindNow);
    EXPECT_FALSE(found.stackExecutable);
    EXPECT_TRUE(found.dynamicSymbols.count("__stack_chk_fail"));
    bool fortified = false;
    for (const std::string &name : found.dynamicSymbols)
        fortified = fortified ||
            (name.starts_with("__") && name.ends_with("_chk") && name != "__stack_chk_fail");
    EXPECT_TRUE(fortified) << "no fortified library call";
}

INSTANTIATE_TEST_SUITE_P(Programs, Hardened, testing::Values(CEREBRIX_PROGRAMS),
    [](const testing::TestParamInfo<Program> &row) { return std::string(row.param.name); });

} // namespace
