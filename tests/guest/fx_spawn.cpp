// Runs children of itself: argv[1] picks a parent scenario, which checks
// what its children do, or a child role. The host copies this program to
// /fx_spawn in the sandbox. Every spawned id is noted on descriptor 2
// ("spawned N") so that the host can check no process outlives the run.
#include "check.h"
#include "fcntl.h"
#include "kiv_spawn.h"

namespace {

constexpr const char *kSelf = "/fx_spawn";
constexpr const char *kGreeting = "hello from a child\n";
constexpr int kFloodBytes = 200 << 10;
constexpr int kMaxLiveProcesses = 64;
constexpr int kFaultStatus = 139;
constexpr int kLoudWriteBytes = 5000;
constexpr int kLoudWrites = 20;
constexpr int kChorusChildren = 3;
constexpr int kReadWrite = 3;
constexpr int kPrivateAnonymous = 0x22;
constexpr unsigned kMiB = 1u << 20;

int g_argc;
char **g_argv;

// The number in argv[2], for the roles that take one.
int number_argument() {
    int value = 0;
    for (const char *digit = g_argc > 2 ? g_argv[2] : "0"; *digit != 0; digit++) value = value * 10 + (*digit - '0');
    return value;
}

// One write, so that the note stays whole among the trace's lines.
void note_spawned(int pid) {
    if (pid <= 0) return;
    char note[24];
    size_t at = sizeof note;
    note[--at] = '\n';
    do {
        note[--at] = static_cast<char>('0' + pid % 10);
        pid /= 10;
    } while (pid != 0);
    const char kPrefix[] = "spawned ";
    for (int i = sizeof kPrefix - 2; i >= 0; i--) note[--at] = kPrefix[i];
    write(2, note + at, sizeof note - at);
}

// Spawns this program in `role` (with an optional number), descriptors
// chosen as spawn_ex takes them.
int spawn_role(const char *role, const char *number = nullptr, int in = -1, int out = -1, int err = -1) {
    char *argv[] = {const_cast<char *>("fx_spawn"), const_cast<char *>(role), const_cast<char *>(number)};
    int pid = spawn_ex(kSelf, argv, number != nullptr ? 3 : 2, in, out, err, 0);
    note_spawned(pid);
    return pid;
}

int status_of(int pid) {
    int status = -1;
    CHECK_EQ(waitpid(pid, &status, 0), pid);
    return status;
}

// Everything readable from `fd` until its end, at most `size` - 1 bytes.
int read_all(int fd, char *buffer, int size) {
    int total = 0, got;
    while (total < size - 1 && (got = read(fd, buffer + total, static_cast<size_t>(size - 1 - total))) > 0)
        total += got;
    buffer[total] = 0;
    return total;
}

// Child roles.

int say() {
    write(1, kGreeting, check_length(kGreeting));
    return 0;
}
int exit_with_number() { return number_argument(); }
int fault() {
    *reinterpret_cast<volatile int *>(number_argument() + 8) = 1;
    return 0;
}
int flood() {
    static unsigned char chunk[4096];
    for (unsigned sent = 0; sent < kFloodBytes; sent += sizeof chunk) {
        for (unsigned i = 0; i < sizeof chunk; i++) chunk[i] = static_cast<unsigned char>((sent + i) % 251);
        if (write(1, chunk, sizeof chunk) != static_cast<int>(sizeof chunk)) return 1;
    }
    return 0;
}
int spin() {
    for (volatile int forever = 1; forever;) {
    }
    return 0;
}
// Long writes, every byte value among them, for a trace of long lines.
int loud() {
    static unsigned char line[kLoudWriteBytes];
    for (int round = 0; round < kLoudWrites; round++) {
        for (int i = 0; i < kLoudWriteBytes; i++) line[i] = static_cast<unsigned char>(round + i);
        if (write(1, line, sizeof line) != kLoudWriteBytes) return 1;
    }
    return 0;
}
int drain() {
    char buffer[64];
    while (read(0, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
int where() {
    char cwd[64];
    int length = getcwd(cwd, sizeof cwd);
    if (length > 0) write(1, cwd, static_cast<size_t>(length - 1));
    // The child's sandbox is its parent's: no way above the root.
    CHECK(open("../../../../etc/passwd", O_RDONLY) < 0);
    CHECK(open("/../etc/passwd", O_RDONLY) < 0);
    return 0;
}
int write_to_number() {
    return write(number_argument(), kGreeting, check_length(kGreeting)) == static_cast<int>(check_length(kGreeting))
               ? 0
               : 1;
}

// Parent scenarios.

// The default: a child gets the parent's 0, 1 and 2 as they are at the spawn.
int through_pipe() {
    int ends[2];
    CHECK_EQ(pipe(ends), 0);
    int saved = dup(1);
    dup2(ends[1], 1);
    char *argv[] = {const_cast<char *>("fx_spawn"), const_cast<char *>("say")};
    int pid = spawn(kSelf, argv, 2);
    dup2(saved, 1);
    close(saved);
    close(ends[1]);
    note_spawned(pid);
    char text[64];
    read_all(ends[0], text, sizeof text);
    CHECK(check_text_equal(text, kGreeting));
    CHECK_EQ(status_of(pid), 0);
    return 0;
}

int statuses() {
    CHECK_EQ(status_of(spawn_role("exit", "7")), 7);
    CHECK_EQ(status_of(spawn_role("fault")), kFaultStatus);
    return 0;
}

// More than a pipe holds: the child blocks until the parent has read.
int flooded_pipe() {
    int ends[2];
    CHECK_EQ(pipe(ends), 0);
    int pid = spawn_role("flood", nullptr, -1, ends[1]);
    close(ends[1]);
    static unsigned char received[kFloodBytes + 1];
    int total = 0, got;
    while ((got = read(ends[0], received + total, sizeof received - static_cast<size_t>(total))) > 0) total += got;
    CHECK_EQ(total, kFloodBytes);
    for (int i = 0; i < total; i++) {
        if (received[i] != i % 251) {
            CHECK_EQ(i, -1);
            break;
        }
    }
    CHECK_EQ(status_of(pid), 0);
    return 0;
}

int reverse_order() {
    const char *codes[] = {"1", "2", "3"};
    int pids[3];
    for (int i = 0; i < 3; i++) pids[i] = spawn_role("exit", codes[i]);
    for (int i = 2; i >= 0; i--) CHECK_EQ(status_of(pids[i]), i + 1);
    int status;
    CHECK_EQ(waitpid(-1, &status, 0), -1);  // no children left
    return 0;
}

int refusals() {
    char *argv[] = {const_cast<char *>("x")};
    CHECK_EQ(spawn("/missing", argv, 1), -1);
    CHECK_EQ(spawn("/../fx_spawn", argv, 1), -1);
    CHECK_EQ(writefile("/text", "not a program", 13), 13);
    CHECK_EQ(spawn("text", argv, 1), -1);
    CHECK_EQ(spawn(kSelf, reinterpret_cast<char *const *>(8), 1), -1);
    CHECK_EQ(spawn_ex(kSelf, argv, 1, 77, -1, -1, 0), -1);
    CHECK_EQ(spawn("", argv, 1), -1);
    // Past the wrapper, which hands down only 0 or 1.
    constexpr uint32_t kSpawnEx = 150;
    KivSpawnBlock block = {reinterpret_cast<uint32_t>(kSelf), reinterpret_cast<uint32_t>(argv), 1, -1, -1, -1, 2};
    CHECK_EQ(check_raw_call(kSpawnEx, reinterpret_cast<uint32_t>(&block), 0, 0), -1);
    CHECK_EQ(fd_set_stdio(-1, 77, -1), -1);
    int status;
    CHECK_EQ(waitpid(1, &status, 0), -1);
    CHECK_EQ(waitpid(-1, &status, 0), -1);

    // A bad status pointer loses nothing: the child is still there to wait for.
    int pid = spawn_role("exit", "7");
    CHECK_EQ(waitpid(pid, reinterpret_cast<int *>(8), 0), -1);
    CHECK_EQ(status_of(pid), 7);

    int ends[2];
    CHECK_EQ(pipe(ends), 0);
    pid = spawn_role("drain", nullptr, ends[0]);
    CHECK_EQ(waitpid(pid, &status, KIV_WAIT_NO_HANG), 0);
    close(ends[1]);
    CHECK_EQ(status_of(pid), 0);
    return 0;
}

int descriptors() {
    int ends[2];
    CHECK_EQ(pipe(ends), 0);
    char number[2] = {static_cast<char>('0' + ends[1]), 0};
    CHECK_EQ(fd_set_inherit(1), 0);
    CHECK_EQ(status_of(spawn_role("write-to", number)), 0);
    CHECK_EQ(fd_set_inherit(0), 0);
    CHECK_EQ(status_of(spawn_role("write-to", number)), 1);
    char *argv[] = {const_cast<char *>("x"), const_cast<char *>("write-to"), number};
    int pid = spawn_ex(kSelf, argv, 3, -1, -1, -1, 1);
    note_spawned(pid);
    CHECK_EQ(status_of(pid), 0);

    // The child starts in the parent's directory; paths resolve from there.
    CHECK_EQ(fd_set_stdio(-1, ends[1], -1), 0);
    CHECK_EQ(mkdir("/sub"), 0);
    CHECK_EQ(chdir("/sub"), 0);
    char *where_argv[] = {const_cast<char *>("x"), const_cast<char *>("where")};
    pid = spawn("../fx_spawn", where_argv, 2);
    note_spawned(pid);
    CHECK_EQ(status_of(pid), 0);
    CHECK_EQ(fd_set_stdio(-1, -1, -1), 0);
    close(ends[1]);
    char text[128];
    read_all(ends[0], text, sizeof text);
    const char *expected = "hello from a child\nhello from a child\n/sub";
    CHECK(check_text_equal(text, expected));
    return 0;
}

// The run holds at most kMaxLiveProcesses, this one included.
int live_limit() {
    int ends[2];
    CHECK_EQ(pipe(ends), 0);
    int started = 0;
    while (started < kMaxLiveProcesses && spawn_role("drain", nullptr, ends[0]) > 0) started++;
    CHECK_EQ(started, kMaxLiveProcesses - 1);
    close(ends[1]);
    int status;
    while (waitpid(-1, &status, 0) > 0) CHECK_EQ(status, 0);
    CHECK_EQ(status_of(spawn_role("exit", "5")), 5);
    return 0;
}

// mmap's the number of MiB in argv[2]: 0 when it could, 1 when not.
int map_number() {
    return mmap(nullptr, static_cast<size_t>(number_argument()) * kMiB, kReadWrite, kPrivateAnonymous, -1, 0) ==
                   MAP_FAILED
               ? 1
               : 0;
}

// Under a run-wide limit of 40 MiB, each process holding its image and its
// 8 MiB stack: the memory one process holds is missing for the others.
int memory_limit() {
    void *big = mmap(nullptr, 20 * kMiB, kReadWrite, kPrivateAnonymous, -1, 0);
    CHECK(big != MAP_FAILED);
    CHECK_EQ(status_of(spawn_role("map", "8")), 1);
    CHECK_EQ(munmap(big, 20 * kMiB), 0);
    CHECK_EQ(status_of(spawn_role("map", "8")), 0);
    // The child's image and stack do not fit either.
    CHECK(mmap(nullptr, 30 * kMiB, kReadWrite, kPrivateAnonymous, -1, 0) != MAP_FAILED);
    CHECK_EQ(spawn_role("exit", "0"), -1);
    return 0;
}

// Four processes tracing long lines at once. The children are not noted:
// nothing but trace lines goes to standard error.
int chorus() {
    char *argv[] = {const_cast<char *>("fx_spawn"), const_cast<char *>("loud")};
    int children[kChorusChildren];
    for (int &child : children) {
        child = spawn_ex(kSelf, argv, 2, -1, -1, -1, 0);
        CHECK(child > 0);
    }
    CHECK_EQ(loud(), 0);
    for (int child : children) CHECK_EQ(status_of(child), 0);
    return 0;
}

int stopped_by_time_limit() {
    status_of(spawn_role("spin"));
    return 1;
}

constexpr check_scenario kScenarios[] = {
    {"say", say},
    {"exit", exit_with_number},
    {"fault", fault},
    {"flood", flood},
    {"spin", spin},
    {"loud", loud},
    {"map", map_number},
    {"memory-limit", memory_limit},
    {"chorus", chorus},
    {"drain", drain},
    {"where", where},
    {"write-to", write_to_number},
    {"pipe", through_pipe},
    {"statuses", statuses},
    {"flooded-pipe", flooded_pipe},
    {"reverse-order", reverse_order},
    {"refusals", refusals},
    {"descriptors", descriptors},
    {"live-limit", live_limit},
    {"time-limit", stopped_by_time_limit},
};

}  // namespace

extern "C" int main(int argc, char **argv) {
    g_argc = argc;
    g_argv = argv;
    return check_run_scenario(argc, argv, kScenarios, CHECK_SCENARIO_COUNT(kScenarios));
}
