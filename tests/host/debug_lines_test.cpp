// Debug information a hostile program may carry, read through libdw: one
// very long file name in every row of a line table, lexical blocks nested
// far deeper than any compiler writes them. Each program is assembled here
// from a description with the cross binutils, its debug information written
// out by hand.
#include <gtest/gtest.h>

#include <string>

#include "case_name.h"
#include "coverage/debug_lines.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

constexpr int kExitStatus = 3;

// A program of `rows` line-table rows, each a nop of a file named by
// `name_length` bytes, whose one function sits under `depth` nested
// lexical blocks; it exits with kExitStatus.
std::string hostile_source(size_t name_length, size_t rows, size_t depth) {
    std::string name(name_length, 'n');
    return ".text\n.globl _start\n.type _start, @function\n_start:\n.file 1 \"/" + name + "\"\n.rept " + std::to_string(rows) +
           "\n.loc 1 7\nnop\n.endr\n"
           "movl $2, %eax\nmovl $" + std::to_string(kExitStatus) + ", %ebx\nint $0x80\n"
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
           ".rept " + std::to_string(depth) + "\n.uleb128 2\n.endr\n"
           ".uleb128 3\n.string \"deep\"\n.long _start\n.byte 1\n.byte 9\n"
           ".rept " + std::to_string(depth) + "\n.byte 0\n.endr\n"
           ".byte 0\n.Lend:\n"
           ".text\n.size _start, . - _start\n";
}

// The program built from `source` in `directory`, as "hostile".
std::string assemble(const TempDir &directory, const std::string &source) {
    directory.write("hostile.s", source);
    CommandRun as = run_command({"i686-linux-gnu-as", "--32", "-o", directory / "hostile.o", directory / "hostile.s"});
    EXPECT_EQ(as.status, 0) << as.err;
    CommandRun ld = run_command({"i686-linux-gnu-ld", "-m", "elf_i386", "-static", "-e", "_start", "-Ttext=0x400000",
                                 "-o", directory / "hostile", directory / "hostile.o"});
    EXPECT_EQ(ld.status, 0) << ld.err;
    return directory / "hostile";
}

struct HostileDebug {
    const char *name;
    size_t name_length, rows, depth;
    const char *refusal;    // empty: read
    size_t function_files;  // functions found (each in the one file)
};

const HostileDebug kHostileDebug[] = {
    {"long_file_name_in_every_row", 65000, 4000, 1, "", 1},
    {"scopes_as_deep_as_allowed", 10, 4, 255, "", 1},
    {"scopes_nested_past_any_program", 10, 4, 50000, "nests scopes deeper than 256 levels", 0},
};

class HostileDebugInformation : public testing::TestWithParam<HostileDebug> {};

TEST_P(HostileDebugInformation, IsReadWithEachFileOnceOrRefused) {
    const HostileDebug &test = GetParam();
    TempDir directory;
    std::string program = assemble(directory, hostile_source(test.name_length, test.rows, test.depth));
    std::string refusal;
    auto debug = read_debug_lines(read_test_file(program), refusal);
    EXPECT_EQ(refusal, test.refusal);
    if (*test.refusal != '\0') {
        EXPECT_FALSE(debug);
        return;
    }
    ASSERT_TRUE(debug);
    ASSERT_EQ(debug->files.size(), 1u);
    EXPECT_EQ(debug->files[0].size(), test.name_length + 1);
    EXPECT_EQ(debug->lines.size(), test.rows);
    for (const LineStart &line : debug->lines) EXPECT_EQ(line.file, 0u);
    ASSERT_EQ(debug->functions.size(), test.function_files);
    EXPECT_EQ(debug->functions[0].name, "deep");
}

INSTANTIATE_TEST_SUITE_P(Programs, HostileDebugInformation, testing::ValuesIn(kHostileDebug), kCaseName);

// A function name that runs to the end of its section, unterminated (found
// by the fuzz target): libdw hands it out anyway; it is left out rather
// than read past the section (which the sanitizer build reports).
TEST(HostileDebugInformation, AnUnterminatedNameIsLeftOut) {
    std::string refusal;
    auto debug = read_debug_lines(read_test_file(KIV_SOURCE_DIR "/fuzz/corpus/debug_lines/unterminated_name"), refusal);
    ASSERT_TRUE(debug);
    for (const FunctionStart &function : debug->functions) EXPECT_LT(function.name.size(), 64u) << function.name;
}

// Refused debug information leaves the program's own status as it is; the
// record falls back to the symbol table, and a note says why.
TEST(HostileDebugInformation, LeavesTheStatusAndFallsBackToSymbols) {
    TempDir directory;
    std::string program = assemble(directory, hostile_source(10, 4, 50000));
    CommandRun run = run_kivrun({"--coverage", directory / "record", program});
    EXPECT_EQ(run.status, kExitStatus);
    EXPECT_EQ(run.err, "kivrun: " + program +
                           "'s debug information nests scopes deeper than 256 levels: its functions are recorded, "
                           "not its lines\n");
    EXPECT_NE(directory.read("record").find("FNDA:1,_start\n"), std::string::npos) << directory.read("record");
}

}  // namespace
}  // namespace kiv::test
