// Which calls a trace or injection selects by name or class.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dispatch/inject.h"
#include "os/syscalls.h"

namespace kiv::test {
namespace {

// strace's %desc: the calls that take a descriptor, and no other.
TEST(Cli, DescriptorClassIsTheCallsTakingOne) {
    std::vector<uint32_t> expected;
    for (const char *name : {"write", "read", "close", "kivfs_stream_write", "kivfs_stream_end", "mmap", "lseek", "dup",
                             "dup2", "fd_set_stdio", "fd_set_nonblock"})
        expected.push_back(find_syscall_named(name)->number);
    std::sort(expected.begin(), expected.end());
    std::string problem;
    EXPECT_EQ(parse_call_selection("%desc", problem), expected) << problem;
    auto others = parse_call_selection("!%desc", problem);
    ASSERT_TRUE(others.has_value());
    EXPECT_EQ(others->size() + expected.size(), all_syscalls().size());
}

}  // namespace
}  // namespace kiv::test
