// Calls system-call wrappers with chosen arguments so that the host can
// check, from the trace, exactly what reached the kernel and what it
// answered. argv[1] names the scenario.
#include "check.h"
#include "fcntl.h"
#include "kiv_syscalls.h"

namespace {

char g_buffer[64];
char *const g_spawn_argv[] = {const_cast<char *>("a"), const_cast<char *>("b"), nullptr};

int transfers() {
    write(1, nullptr, 5);             // guarded: no kernel call
    write(1, "", 0);                  // a zero count still enters the kernel
    write(1, "hi", 0xffffffffu);      // clamped
    read(0, nullptr, 1);              // guarded
    read(0, g_buffer, 0x80000000u);   // clamped
    writefile(nullptr, "x", 1);       // guarded
    writefile("w.txt", nullptr, 1);   // guarded
    writefile("w.txt", "abc", 0xfffffffeu);
    kivfs_stream_write(3, nullptr, 1);  // guarded
    kivfs_stream_write(3, "z", 0x80000001u);
    return 0;
}

int opening() {
    open(nullptr, 0);                 // guarded
    open("f.txt", 0x241, 0777);       // create: third value = flags, mode ignored
    open("f.txt", O_RDONLY, 0777);    // no create: third value 0
    creat(nullptr);                   // guarded
    creat("g.txt");
    access("f.txt", 7);               // open + close
    access("missing.txt", 0);         // open only
    return 0;
}

int paths() {
    mkdir(nullptr);
    unlink(nullptr);
    rmdir(nullptr);
    chdir(nullptr);
    mkfifo(nullptr);
    kivfs_stream_begin(nullptr);
    mkdir("d");
    chdir("d");
    getcwd(nullptr, 10);              // guarded
    getcwd(g_buffer, 0);              // guarded
    getcwd(g_buffer, 0xffffffffu);    // clamped, third argument 0
    chdir("/");
    rmdir("d");
    unlink("nothing");
    return 0;
}

int sleeping() {
    CHECK_EQ(usleep(1500), 0);
    CHECK_EQ(sleep(2), 0u);
    CHECK_EQ(sleep(4294), 0u);        // the longest single request
    CHECK_EQ(sleep(5000), 0u);        // split: 4294 s + 706 s
    return 0;
}

int memory() {
    CHECK(mmap(nullptr, 0, 3, 0x22, -1, 0) == MAP_FAILED);  // guarded
    void *page = mmap(nullptr, 4096, 3, 0x22, -1, 0x1234);
    CHECK(page != MAP_FAILED);
    munmap(page, 4096);
    lseek(7, -5, 2);
    return 0;
}

int descriptors() {
    pipe(nullptr);                    // guarded
    int fds[2];
    pipe(fds);
    dup(1);
    dup2(1, 9);
    fd_set_inherit(5);                // normalised to 1
    fd_set_inherit(0);
    fd_set_stdio(4, 5, 6);
    fd_set_nonblock(fds[0], 7);       // normalised, third argument 0
    getkey();
    return 0;
}

int spawning() {
    int status = 0;
    spawn(nullptr, g_spawn_argv, 2);  // guarded
    spawn("p", g_spawn_argv, -1);     // guarded
    spawn("p", g_spawn_argv, 2);
    spawn_ex(nullptr, g_spawn_argv, 2, 4, 5, 6, 7);  // guarded
    spawn_ex("p", g_spawn_argv, -1, 4, 5, 6, 7);     // guarded
    spawn_ex("p", g_spawn_argv, 2, 4, 5, 6, 7);      // flag normalised to 1
    spawn_ex("p", g_spawn_argv, 2, -4, 0, 0, 0);
    waitpid(5, &status, 3);
    return 0;
}

// Past the wrappers, for the kernel's own answers.

int nonblocking() {
    static char block[69632];  // more than a pipe holds
    int ends[2];
    pipe(ends);
    fd_set_nonblock(ends[0], 1);
    fd_set_nonblock(ends[1], 1);
    read(ends[0], g_buffer, 1);       // empty
    read(ends[1], g_buffer, 1);       // the write end
    write(ends[0], "x", 1);           // the read end
    write(ends[1], block, sizeof block);
    write(ends[1], "x", 1);           // full
    return 0;
}

int console_copies() {
    fd_set_nonblock(dup(1), 1);
    dup2(0, 7);
    fd_set_nonblock(7, 1);
    return 0;
}

// Counts of 2^31 and more, which no wrapper passes on.
int huge_counts() {
    constexpr uint32_t kTwoGiB = 0x80000000u;
    const auto buffer = reinterpret_cast<uintptr_t>(g_buffer);
    check_raw_call(KIV_SYS_write, 1, buffer, kTwoGiB);
    check_raw_call(KIV_SYS_read, 0, buffer, kTwoGiB);
    check_raw_call(KIV_SYS_writefile, reinterpret_cast<uintptr_t>("w.txt"), buffer, kTwoGiB);
    check_raw_call(KIV_SYS_kivfs_stream_write, 1, buffer, 0xffffffffu);
    return 0;
}

// A seek past what the guest's offsets can hold leaves the position alone.
int refused_seek() {
    int fd = open("seek.txt", O_RDWR | O_CREAT);
    write(fd, "0123456789", 10);
    lseek(fd, 5, SEEK_SET);
    lseek(fd, 0x7fffffff, SEEK_CUR);
    lseek(fd, 0, SEEK_CUR);
    return 0;
}

constexpr check_scenario kScenarios[] = {
    {"transfers", transfers}, {"opening", opening},         {"paths", paths},       {"sleeping", sleeping},
    {"memory", memory},       {"descriptors", descriptors}, {"spawning", spawning},
    {"nonblocking", nonblocking}, {"console-copies", console_copies}, {"huge-counts", huge_counts},
    {"refused-seek", refused_seek},
};

}  // namespace

extern "C" int main(int argc, char **argv) {
    return check_run_scenario(argc, argv, kScenarios, CHECK_SCENARIO_COUNT(kScenarios));
}
