// What the call table's columns decide: which calls a class chooses, and
// which calls a short transfer can be injected into.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "case_name.h"
#include "dispatch/inject.h"
#include "os/call_columns.h"

namespace kiv::test {
namespace {

std::vector<uint32_t> sorted_numbers(const std::vector<std::string> &names) {
    std::vector<uint32_t> numbers;
    for (const auto &name : names) numbers.push_back(find_syscall_named(name)->number);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

struct ClassCase {
    const char *name;
    std::vector<std::string> calls;
    std::string label() const { return std::string(name).substr(1); }
};

// %file is strace's (the calls that name a file, getcwd too), %desc the
// calls that take a descriptor and no other.
const ClassCase kClasses[] = {
    {"%file",
     {"open", "writefile", "mkdir", "unlink", "rmdir", "getcwd", "kivfs_stream_begin", "chdir", "mkfifo", "spawn",
      "spawn_ex"}},
    {"%process", {"exit", "spawn", "waitpid", "spawn_ex"}},
    {"%memory", {"mmap", "munmap"}},
    {"%desc",
     {"write", "read", "close", "kivfs_stream_write", "kivfs_stream_end", "mmap", "lseek", "dup", "dup2",
      "fd_set_stdio", "fd_set_nonblock"}},
    {"%console", {"write", "read", "getkey"}},
    {"%nic", {"nic_query"}},
};

class CallClasses : public testing::TestWithParam<ClassCase> {};

TEST_P(CallClasses, ChooseTheirCallsAndTheRestIsTheirComplement) {
    const ClassCase &form = GetParam();
    Result<std::vector<uint32_t>> chosen = parse_call_selection(form.name);
    ASSERT_TRUE(chosen) << chosen.error();
    EXPECT_EQ(*chosen, sorted_numbers(form.calls));
    auto others = parse_call_selection(std::string("!") + form.name);
    ASSERT_TRUE(others) << others.error();
    EXPECT_EQ(others->size() + form.calls.size(), all_syscalls().size());
}

INSTANTIATE_TEST_SUITE_P(Table, CallClasses, testing::ValuesIn(kClasses), kCaseName);

struct ShortCase {
    const char *name;
    bool accepted;
};

// Only a buffer moved to or from a descriptor can come back short: not a
// file written whole, nor text filled within a capacity.
const ShortCase kShortCalls[] = {
    {"read", true},    {"write", true},  {"kivfs_stream_write", true}, {"writefile", false},
    {"getcwd", false}, {"lseek", false}, {"nic_query", false},         {"spawn", false},
};

class ShortInjection : public testing::TestWithParam<ShortCase> {};

TEST_P(ShortInjection, OnlyFitsCallsThatMoveBytes) {
    auto injection = parse_injection(std::string(GetParam().name) + ":short=1");
    EXPECT_EQ(injection.has_value(), GetParam().accepted);
    if (!GetParam().accepted) {
        EXPECT_NE(injection.error().find("moves no bytes"), std::string::npos) << injection.error();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ShortInjection, testing::ValuesIn(kShortCalls), kCaseName);

}  // namespace
}  // namespace kiv::test
