// Programs with hostile debug information, assembled with the cross
// binutils from a description, their debug information written by hand.
#pragma once

#include <string>

#include "host_command.h"
#include "test_files.h"

namespace kiv::test {

inline constexpr int kExitStatus = 3;

// A program of `rows` line-table rows, each a nop of a file named by
// `name_length` bytes, whose one function sits under `depth` nested
// lexical blocks; it exits with kExitStatus.
inline std::string hostile_source(size_t name_length, size_t rows, size_t depth) {
    std::string name(name_length, 'n');
    return ".text\n.globl _start\n.type _start, @function\n_start:\n.file 1 \"/" + name + "\"\n.rept " +
           std::to_string(rows) +
           "\n.loc 1 7\nnop\n.endr\n"
           "movl $2, %eax\nmovl $" +
           std::to_string(kExitStatus) +
           ", %ebx\nint $0x80\n"
           // Abbreviations: 1 the unit (with children), 2 a lexical block
           // (with children), 3 a function.
           ".section .debug_abbrev,\"\",@progbits\n"
           ".uleb128 1, 0x11, 1, 0x10, 0x17, 0x03, 0x08, 0, 0\n"
           ".uleb128 2, 0x0b, 1, 0, 0\n"
           ".uleb128 3, 0x2e, 0, 0x03, 0x08, 0x11, 0x01, 0x3a, 0x0b, 0x3b, 0x0b, 0, 0\n"
           ".byte 0\n"
           ".section .debug_info,\"\",@progbits\n"
           ".long .Lend - .Lstart\n.Lstart:\n.value 4\n.long 0\n.byte 4\n"
           ".uleb128 1\n.long 0\n.string \"hostile.c\"\n"
           ".rept " +
           std::to_string(depth) +
           "\n.uleb128 2\n.endr\n"
           ".uleb128 3\n.string \"deep\"\n.long _start\n.byte 1\n.byte 9\n"
           ".rept " +
           std::to_string(depth) +
           "\n.byte 0\n.endr\n"
           ".byte 0\n.Lend:\n"
           ".text\n.size _start, . - _start\n";
}

// The program built from `source` in `directory`, as "hostile".
inline std::string assemble(const TempDir &directory, const std::string &source) {
    directory.write("hostile.s", source);
    CommandRun as = run_command({"i686-linux-gnu-as", "--32", "-o", directory / "hostile.o", directory / "hostile.s"});
    EXPECT_EQ(as.status, 0) << as.err;
    CommandRun ld = run_command({"i686-linux-gnu-ld", "-m", "elf_i386", "-static", "-e", "_start", "-Ttext=0x400000",
                                 "-o", directory / "hostile", directory / "hostile.o"});
    EXPECT_EQ(ld.status, 0) << ld.err;
    return directory / "hostile";
}

}  // namespace kiv::test
