// Debug information a hostile program may carry, read through libdw: one
// very long file name in every row of a line table, lexical blocks nested
// far deeper than any compiler writes them (hostile_program.h).
#include "coverage/debug_lines.h"

#include <gtest/gtest.h>

#include <string>

#include "case_name.h"
#include "hostile_program.h"

namespace kiv::test {
namespace {

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

}  // namespace
}  // namespace kiv::test
