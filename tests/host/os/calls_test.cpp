// The kernel's answers, call by call, from the handlers themselves on a real
// guest memory and process: guest pointers it may not touch (EFAULT),
// descriptors that are not open or not open that way (EBADF), counts past
// the transfer limit, short transfers, paths the sandbox refuses, and the
// rules of non-blocking and console descriptors and of seeking.
#include <sys/mman.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "case_name.h"
#include "kiv_open.h"
#include "kiv_syscalls.h"
#include "machine/cpu.h"
#include "machine/guest_memory.h"
#include "os/process.h"
#include "os/sandbox.h"
#include "os/syscalls.h"
#include "support/unique_fd.h"
#include "test_files.h"

namespace kiv::test {
namespace {

// The guest's address space for every scenario: a writable area (a path is
// written at kText, bytes move through kBuffer), a read-only page, and
// addresses nothing is mapped at.
constexpr uint32_t kData = 0x10000000;
constexpr uint32_t kDataSize = 32 * kPageSize;
constexpr uint32_t kDataEnd = kData + kDataSize;
constexpr uint32_t kText = kData;
constexpr uint32_t kBuffer = kData + 2 * kPageSize;
constexpr uint32_t kReadOnly = 0x10100000;
constexpr uint32_t kUnmapped = 0x30000000;

constexpr uint32_t kSeekSet = 0, kSeekCur = 1;
constexpr uint32_t kTwoGiB = 0x80000000u;
// More than a pipe holds.
constexpr uint32_t kPastAPipe = 69632;

const std::string kLongPath(Sandbox::kMaxPath + 1, 'a');

enum class Transfer : uint8_t {
    Exact,  // the result is `result`
    Short,  // some of the count, not all and not none
};

// One call and the kernel's answer to it: the result and errno, and what
// it filled at kBuffer.
struct Step {
    uint32_t number;
    SyscallArgs words;
    int32_t result;
    int error = 0;
    const char *text = nullptr;  // written at kText, with its NUL, before the call
    std::string_view filled = {};
    Transfer transfer = Transfer::Exact;
};

struct Scenario {
    const char *name;
    std::vector<Step> steps;
};

uint32_t word(int32_t value) { return static_cast<uint32_t>(value); }

const Scenario kScenarios[] = {
    {"bad_guest_pointers",
     {
         {KIV_SYS_write, {1, kUnmapped, 4}, -1, EFAULT},
         {KIV_SYS_write, {1, kDataEnd - 2, 4}, -1, EFAULT},
         {KIV_SYS_read, {0, kReadOnly, 1}, -1, EFAULT},
         {KIV_SYS_read, {0, kUnmapped, 0}, 0},  // nothing touched
         {KIV_SYS_open, {kUnmapped, KIV_O_RDONLY}, -1, EFAULT},
         {KIV_SYS_mkdir, {kUnmapped}, -1, EFAULT},
         {KIV_SYS_writefile, {kText, kUnmapped, 4}, -1, EFAULT, "w.txt"},
         {KIV_SYS_pipe, {kReadOnly}, -1, EFAULT},
         {KIV_SYS_getcwd, {kReadOnly, 64}, -1, EFAULT},
     }},
    {"bad_descriptors",
     {
         {KIV_SYS_writefile, {kText, kText, 5}, 5, 0, "r.txt"},
         {KIV_SYS_open, {kText, KIV_O_RDONLY}, 3, 0, "r.txt"},
         {KIV_SYS_write, {3, kBuffer, 1}, -1, EBADF},  // open for reading only
         {KIV_SYS_write, {9, kBuffer, 1}, -1, EBADF},
         {KIV_SYS_read, {word(-1), kBuffer, 1}, -1, EBADF},
         {KIV_SYS_close, {42}, -1, EBADF},
         {KIV_SYS_lseek, {5, 0, kSeekSet}, -1, EBADF},
         {KIV_SYS_dup, {300}, -1, EBADF},
         {KIV_SYS_dup2, {1, FdTable::kMaxDescriptors}, -1, EBADF},
         {KIV_SYS_fd_set_nonblock, {8, 1}, -1, EBADF},
         {KIV_SYS_close, {1}, 0},
         {KIV_SYS_write, {1, kBuffer, 1}, -1, EBADF},
     }},
    {"huge_counts",
     {
         {KIV_SYS_write, {1, kBuffer, kTwoGiB}, -1, EINVAL},
         {KIV_SYS_read, {0, kBuffer, kTwoGiB}, -1, EINVAL},
         {KIV_SYS_writefile, {kText, kBuffer, kTwoGiB}, -1, EINVAL, "w.txt"},
         {KIV_SYS_kivfs_stream_write, {1, kBuffer, 0xffffffffu}, -1, EINVAL},
     }},
    {"short_transfers",
     {
         {KIV_SYS_writefile, {kText, kText, 10}, 10, 0, "0123456789"},
         {KIV_SYS_open, {kText, KIV_O_RDONLY}, 3, 0, "0123456789"},
         {KIV_SYS_read, {3, kBuffer, 64}, 10, 0, nullptr, "0123456789"},
         {KIV_SYS_read, {3, kBuffer, 64}, 0},
         {KIV_SYS_write, {1, kUnmapped, 0}, 0},
     }},
    {"nonblocking_pipe",
     {
         {KIV_SYS_pipe, {kBuffer}, 0, 0, nullptr, std::string_view("\3\0\0\0\4\0\0\0", 8)},
         {KIV_SYS_fd_set_nonblock, {3, 1}, 0},
         {KIV_SYS_fd_set_nonblock, {4, 1}, 0},
         {KIV_SYS_read, {3, kBuffer, 1}, -1, EAGAIN},  // empty
         {KIV_SYS_read, {4, kBuffer, 1}, -1, EBADF},   // the write end
         {KIV_SYS_write, {3, kBuffer, 1}, -1, EBADF},  // the read end
         {KIV_SYS_write, {4, kBuffer, kPastAPipe}, 0, 0, nullptr, {}, Transfer::Short},
         {KIV_SYS_write, {4, kBuffer, 1}, -1, EAGAIN},  // full
     }},
    // The console is shared with the host's shell: its mode stays the
    // user's, through copies too.
    {"console_copies",
     {
         {KIV_SYS_dup, {1}, 3},
         {KIV_SYS_fd_set_nonblock, {3, 1}, -1, EPERM},
         {KIV_SYS_dup2, {0, 7}, 7},
         {KIV_SYS_fd_set_nonblock, {7, 1}, -1, EPERM},
     }},
    // A seek past what the guest's offsets can hold leaves the position alone.
    {"refused_seek",
     {
         {KIV_SYS_open, {kText, KIV_O_RDWR | KIV_O_CREAT}, 3, 0, "seek.txt"},
         {KIV_SYS_write, {3, kText, 10}, 10, 0, "0123456789"},
         {KIV_SYS_lseek, {3, 5, kSeekSet}, 5},
         {KIV_SYS_lseek, {3, 0x7fffffff, kSeekCur}, -1, EOVERFLOW},
         {KIV_SYS_lseek, {3, 0, kSeekCur}, 5},
         {KIV_SYS_lseek, {3, 0, 3}, -1, EINVAL},  // no such origin
     }},
    {"sandbox_refusals",
     {
         {KIV_SYS_open, {kText, KIV_O_RDONLY}, -1, EXDEV, "../x"},
         {KIV_SYS_open, {kText, KIV_O_WRONLY | KIV_O_CREAT}, -1, EXDEV, "/a/../../x"},
         {KIV_SYS_open, {kText, KIV_O_RDONLY}, -1, ENOENT, ""},
         {KIV_SYS_open, {kText, KIV_O_RDONLY}, -1, ENAMETOOLONG, kLongPath.c_str()},
         {KIV_SYS_open, {kText, 0x10000}, -1, EINVAL, "f.txt"},  // a flag the kernel does not know
         {KIV_SYS_mkdir, {kText}, -1, EXDEV, ".."},
         {KIV_SYS_chdir, {kText}, -1, EXDEV, "/.."},
         {KIV_SYS_rmdir, {kText}, -1, EBUSY, "/"},
         {KIV_SYS_unlink, {kText}, -1, EXDEV, "d/../../x"},
         {KIV_SYS_writefile, {kText, kText, 1}, -1, EXDEV, "../w"},
         {KIV_SYS_kivfs_stream_begin, {kText}, -1, EXDEV, "../s"},
     }},
    {"current_directory",
     {
         {KIV_SYS_mkdir, {kText}, 0, 0, "d"},
         {KIV_SYS_chdir, {kText}, 0, 0, "d"},
         {KIV_SYS_getcwd, {kBuffer, 2}, -1, ERANGE},
         {KIV_SYS_getcwd, {kBuffer, 64}, 3, 0, nullptr, std::string_view("/d\0", 3)},
     }},
};

// A process as the handlers see it: real guest memory laid out as above,
// descriptors 0 to 2 on memory files, its root a fresh directory.
class GuestProcess {
public:
    GuestProcess() {
        std::string error;
        EXPECT_TRUE(sandbox_.open_root(root_.path(), error)) << error;
        EXPECT_TRUE(memory_.map(kData, kDataSize, kAccessRead | kAccessWrite));
        EXPECT_TRUE(memory_.map(kReadOnly, kPageSize, kAccessRead));
    }

    SyscallResult call(const Step &step) {
        if (step.text != nullptr) {
            EXPECT_TRUE(memory_.write(kText, step.text, static_cast<uint32_t>(std::strlen(step.text) + 1)));
        }
        return find_syscall(step.number)->handler(process_, step.words);
    }

    std::string bytes(uint32_t address, size_t length) const {
        std::string text(length, '\0');
        EXPECT_TRUE(memory_.read(address, text.data(), static_cast<uint32_t>(length)));
        return text;
    }

private:
    TempDir root_;
    Cpu cpu_;
    GuestMemory memory_{cpu_.engine()};
    Sandbox sandbox_;
    NicConfig nic_;
    UniqueFd in_{memfd_create("console-in", MFD_CLOEXEC)};
    UniqueFd out_{memfd_create("console-out", MFD_CLOEXEC)};
    UniqueFd err_{memfd_create("console-err", MFD_CLOEXEC)};
    Process process_{memory_, sandbox_, nic_, in_.get(), out_.get(), err_.get(), -1};
};

std::string error_name(int error) {
    const char *name = error == 0 ? "none" : strerrorname_np(error);
    return name != nullptr ? name : std::to_string(error);
}

class CallsOnAProcess : public testing::TestWithParam<Scenario> {};

TEST_P(CallsOnAProcess, AnswerAsTheKernelShould) {
    GuestProcess process;
    for (size_t i = 0; i < GetParam().steps.size(); i++) {
        const Step &step = GetParam().steps[i];
        SCOPED_TRACE("step " + std::to_string(i) + ": " + find_syscall(step.number)->name);
        SyscallResult result = process.call(step);
        if (step.transfer == Transfer::Short) {
            EXPECT_GT(result.value, 0);
            EXPECT_LT(result.value, static_cast<int32_t>(step.words[2]));
        } else {
            EXPECT_EQ(result.value, step.result);
        }
        EXPECT_EQ(error_name(result.error), error_name(step.error));
        EXPECT_FALSE(result.ends_process);
        if (!step.filled.empty()) {
            EXPECT_EQ(process.bytes(kBuffer, step.filled.size()), step.filled);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, CallsOnAProcess, testing::ValuesIn(kScenarios), kCaseName);

}  // namespace
}  // namespace kiv::test
