// kivrun as AFL++'s target, driven by a fake AFL++ parent: the fork-server
// handshake with the map size, one execution per control word, the edge
// map in shared memory, crashes as signals and hangs left to the parent's
// kill; in fork-server and persistent mode, with the input on standard
// input and in a file. Every execution of an input must leave the same map
// (persistent mode's snapshot included: an input that reads what an
// earlier one set shows it), and different inputs different maps.
#include <fcntl.h>
#include <poll.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "case_name.h"
#include "coverage/edge_map.h"
#include "guest_runner.h"
#include "run/afl_map.h"

namespace kiv::test {
namespace {

// AFL++'s fork-server descriptors and hello options, as AFL++ defines them.
constexpr int kControlFd = 198, kStatusFd = 199;
constexpr uint32_t kOptionsEnabled = 0x80000001, kOptionMapSize = 0x40000000;
constexpr uint32_t hello_for(uint32_t map_size) { return kOptionsEnabled | kOptionMapSize | ((map_size - 1) << 1); }

constexpr uint32_t kAflMapSize = 1u << 16;
constexpr int kReplyMilliseconds = 20000;  // a loaded machine, or a sanitized kivrun
constexpr int kHangMilliseconds = 2000;    // the fake parent's time limit per execution
constexpr int kRounds = 25;
// In fork-server mode the first executions translate the program while the
// server learns its blocks; only the rounds after are compared. (Persistent
// children compare from the first round: a "get" there must not see the
// "slot" of an earlier execution.)
constexpr int kWarmUpRounds = 1;

enum class Ending { Normal, Segfault, Abort, Hang };

struct Input {
    const char *name;
    std::string bytes;
    Ending ending;
};

// "get" before "slot": its first map is taken before any slot is set.
const Input kInputs[] = {
    {"empty", "", Ending::Normal},
    {"sum",
     std::string("A\x03"
                 "abc"),
     Ending::Normal},
    {"get", std::string("G\x01\x05", 3), Ending::Normal},
    {"slot", std::string("S\x02\x05\x01", 4), Ending::Normal},
    {"truncated",
     std::string("A\x09"
                 "ab"),
     Ending::Normal},
    {"planted_store", std::string("\xb7\x06\x00\x00\x00\x80\x01\x00", 8), Ending::Segfault},
    {"abort",
     std::string("X\x04"
                 "bort"),
     Ending::Abort},
};
const Input kHang{"hang",
                  std::string("H\x03"
                              "ang"),
                  Ending::Hang};

struct Execution {
    int status = -1;
    bool timed_out = false;
    std::vector<uint8_t> map;
};

Ending ending_of(const Execution &execution) {
    if (execution.timed_out) return Ending::Hang;
    if (WIFSIGNALED(execution.status) && WTERMSIG(execution.status) == SIGSEGV) return Ending::Segfault;
    if (WIFSIGNALED(execution.status) && WTERMSIG(execution.status) == SIGABRT) return Ending::Abort;
    bool normal = (WIFEXITED(execution.status) && WEXITSTATUS(execution.status) == 0) ||
                  (WIFSTOPPED(execution.status) && WSTOPSIG(execution.status) == SIGSTOP);
    return normal ? Ending::Normal : Ending::Hang;
}

bool read_word(int fd, uint32_t &word, int milliseconds) {
    pollfd watched{fd, POLLIN, 0};
    return poll(&watched, 1, milliseconds) == 1 && ::read(fd, &word, sizeof word) == sizeof word;
}

// kivrun started as afl-fuzz starts its target: the map's segment in the
// environment, the input file as standard input (or named by an argument),
// and with a fork server the two pipes on 198 and 199.
class FakeAfl {
public:
    // `first_input` is in the input file when kivrun starts.
    FakeAfl(const TempDir &sandbox, const std::vector<std::string> &args, size_t map_bytes, bool fork_server,
            const std::string &first_input = "")
        : input_path_(sandbox / "input") {
        shm_id_ = shmget(IPC_PRIVATE, map_bytes, IPC_CREAT | 0600);
        map_ = static_cast<uint8_t *>(shmat(shm_id_, nullptr, 0));
        map_bytes_ = map_bytes;
        input_fd_ = open(input_path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        put_input(first_input);
        int control[2], status[2];
        if (pipe2(control, O_CLOEXEC) != 0 || pipe2(status, O_CLOEXEC) != 0) return;
        std::vector<std::string> words = {KIVRUN_PATH, "--root", sandbox.path().string(),
                                          guest_program("fx_fuzz_parser")};
        words.insert(words.end(), args.begin(), args.end());
        std::string shm_setting = "__AFL_SHM_ID=" + std::to_string(shm_id_);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(input_fd_, STDIN_FILENO);
            if (fork_server) {
                dup2(control[0], kControlFd);
                dup2(status[1], kStatusFd);
            }
            int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDERR_FILENO);
            putenv(shm_setting.data());
            std::vector<char *> argv;
            for (std::string &word : words) argv.push_back(word.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(control[0]);
        close(status[1]);
        control_fd_ = control[1];
        status_fd_ = status[0];
    }
    ~FakeAfl() {
        close(control_fd_);
        close(status_fd_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(input_fd_);
        shmdt(map_);
        shmctl(shm_id_, IPC_RMID, nullptr);
    }
    FakeAfl(const FakeAfl &) = delete;
    FakeAfl &operator=(const FakeAfl &) = delete;

    std::optional<uint32_t> hello() const {
        uint32_t word = 0;
        if (!read_word(status_fd_, word, kReplyMilliseconds)) return std::nullopt;
        return word;
    }

    // One execution as afl-fuzz makes it: the input rewritten in place with
    // the offset back at 0, the map cleared, a control word, the child's
    // pid, and its status, or after the time limit the child killed.
    Execution run(const std::string &input) {
        Execution execution;
        put_input(input);
        uint32_t killed = previous_killed_ ? 1 : 0, child = 0, status = 0;
        if (::write(control_fd_, &killed, sizeof killed) != sizeof killed) return execution;
        if (!read_word(status_fd_, child, kReplyMilliseconds)) return execution;
        execution.timed_out = !read_word(status_fd_, status, kHangMilliseconds);
        if (execution.timed_out) {
            kill(static_cast<pid_t>(child), SIGKILL);
            if (!read_word(status_fd_, status, kReplyMilliseconds)) return execution;
        }
        previous_killed_ = execution.timed_out;
        execution.status = static_cast<int>(status);
        execution.map.assign(map_, map_ + map_bytes_);
        return execution;
    }

    // The process run once, without a fork server (afl-showmap's way).
    Execution run_alone() {
        Execution execution;
        execution.timed_out = !exited_within(kHangMilliseconds, execution.status);
        if (execution.timed_out) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &execution.status, 0);
        }
        pid_ = -1;
        execution.map.assign(map_, map_ + map_bytes_);
        return execution;
    }

    void put_input(const std::string &input) {
        std::fill(map_, map_ + map_bytes_, 0);
        if (ftruncate(input_fd_, 0) != 0 || pwrite(input_fd_, input.data(), input.size(), 0) != ssize_t(input.size()))
            ADD_FAILURE() << "cannot write the input";
        lseek(input_fd_, 0, SEEK_SET);
    }

private:
    bool exited_within(int milliseconds, int &status) {
        for (int waited = 0; waited < milliseconds; waited += 10) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) return true;
            usleep(10000);
        }
        return false;
    }

    std::string input_path_;
    int shm_id_ = -1;
    uint8_t *map_ = nullptr;
    size_t map_bytes_ = 0;
    int input_fd_ = -1;
    int control_fd_ = -1;
    int status_fd_ = -1;
    pid_t pid_ = -1;
    bool previous_killed_ = false;
};

bool any_edge(const std::vector<uint8_t> &map) {
    return std::any_of(map.begin(), map.end(), [](uint8_t count) { return count != 0; });
}

struct Mode {
    const char *name;
    std::vector<std::string> args;  // after the program
    bool persistent;
};

const Mode kModes[] = {
    {"fork_server_stdin", {"--once"}, false},
    {"fork_server_file", {"--once", "input"}, false},
    {"persistent_stdin", {}, true},
    {"persistent_file", {"input"}, true},
};

class Modes : public testing::TestWithParam<Mode> {};

TEST_P(Modes, EndingsAndMapsRepeat) {
    const Mode &mode = GetParam();
    TempDir sandbox;
    FakeAfl afl(sandbox, mode.args, kAflMapSize, true);
    ASSERT_EQ(afl.hello(), hello_for(kAflMapSize));
    std::map<std::string, std::vector<uint8_t>> first_maps;
    // A new process runs the program's start-up code first: only the
    // executions after it are compared.
    bool fresh_process = true;
    for (int round = 0; round < kRounds; round++) {
        for (const Input &input : kInputs) {
            Execution execution = afl.run(input.bytes);
            std::string where = std::string(input.name) + " in round " + std::to_string(round);
            ASSERT_EQ(ending_of(execution), input.ending) << where << ", status " << std::hex << execution.status;
            ASSERT_TRUE(any_edge(execution.map)) << where;
            bool compared = mode.persistent ? !fresh_process : round >= kWarmUpRounds;
            fresh_process = !WIFSTOPPED(execution.status);
            if (!compared) continue;
            auto [first, inserted] = first_maps.emplace(input.name, execution.map);
            if (!inserted) {
                ASSERT_TRUE(first->second == execution.map) << where << ": the map changed";
            }
        }
    }
    EXPECT_FALSE(first_maps["sum"] == first_maps["empty"]);
    EXPECT_FALSE(first_maps["get"] == first_maps["empty"]);
    // The parent's time limit kills a hanging execution, and the next one runs.
    EXPECT_EQ(ending_of(afl.run(kHang.bytes)), Ending::Hang);
    EXPECT_EQ(ending_of(afl.run(kInputs[0].bytes)), Ending::Normal);
}

INSTANTIATE_TEST_SUITE_P(Afl, Modes, testing::ValuesIn(kModes), kCaseName);

// A smaller segment makes a smaller map, and the hello says so.
TEST(AflMap, FollowsTheSegmentsSize) {
    constexpr uint32_t kSmall = 4096;
    TempDir sandbox;
    FakeAfl afl(sandbox, {"--once"}, kSmall, true);
    ASSERT_EQ(afl.hello(), hello_for(kSmall));
    Execution execution = afl.run(kInputs[1].bytes);
    EXPECT_EQ(ending_of(execution), Ending::Normal);
    EXPECT_TRUE(any_edge(execution.map));
}

// Without the fork server's descriptors (afl-showmap's single runs, or
// AFL_NO_FORKSRV) the process runs once and ends as a child would.
class Alone : public testing::TestWithParam<Input> {};

TEST_P(Alone, EndsAsAChildWould) {
    TempDir sandbox;
    FakeAfl afl(sandbox, {"--once", "input"}, kAflMapSize, false, GetParam().bytes);
    Execution execution = afl.run_alone();
    EXPECT_EQ(ending_of(execution), GetParam().ending);
    EXPECT_TRUE(any_edge(execution.map));
}

INSTANTIATE_TEST_SUITE_P(Afl, Alone, testing::ValuesIn(kInputs), kCaseName);

// The map is the largest power of two the segment holds, within AFL++'s
// classic size.
struct Segment {
    uint64_t bytes;
    uint32_t map;
};

const Segment kSegments[] = {
    {0, 0},
    {kMinAflMapSize - 1, 0},
    {kMinAflMapSize, kMinAflMapSize},
    {kMinAflMapSize + 1, kMinAflMapSize},
    {4096, 4096},
    {65535, 32768},
    {65536, 65536},
    {8u << 20, kMaxAflMapSize},
};

TEST(AflMapSize, IsAPowerOfTwoWithinTheSegment) {
    for (const Segment &segment : kSegments) EXPECT_EQ(afl_map_size(segment.bytes), segment.map) << segment.bytes;
}

// Edges have a direction, a block's edge to itself counts, and a count
// that passes 255 never reads as "not run".
struct Walk {
    const char *name;
    std::vector<uint32_t> blocks;
    std::vector<uint32_t> other;  // another walk: its map must differ (empty: none)
};

const Walk kWalks[] = {
    {"direction", {0x1000, 0x2000}, {0x2000, 0x1000}},
    {"loop_on_itself", {0x1000, 0x1000}, {0x1000}},
    {"another_successor", {0x1000, 0x2000}, {0x1000, 0x3000}},
};

std::vector<uint8_t> walk_map(const std::vector<uint32_t> &blocks) {
    std::vector<uint8_t> map(kMaxAflMapSize);
    EdgeMap edges(map);
    for (uint32_t block : blocks) edges.entered(block);
    return map;
}

class Walks : public testing::TestWithParam<Walk> {};

TEST_P(Walks, LeaveDifferentMaps) {
    EXPECT_TRUE(any_edge(walk_map(GetParam().blocks)));
    EXPECT_NE(walk_map(GetParam().blocks), walk_map(GetParam().other));
}

INSTANTIATE_TEST_SUITE_P(EdgeMap, Walks, testing::ValuesIn(kWalks), kCaseName);

TEST(EdgeMap, CountsNeverWrapToZero) {
    std::vector<uint8_t> map(kMaxAflMapSize);
    EdgeMap edges(map);
    for (int run = 0; run < 256; run++) {
        edges.start_over();
        edges.entered(0x1000);
    }
    EXPECT_TRUE(any_edge(map));
}

}  // namespace
}  // namespace kiv::test
