// Calls system-call wrappers with chosen arguments so that the host can
// check, from the trace, exactly what reached the kernel. argv[1] names the
// scenario.
#include "check.h"
#include "fcntl.h"

namespace {

char g_buffer[64];
char *const g_spawn_argv[] = {const_cast<char *>("a"), const_cast<char *>("b"), nullptr};

int transfers() {
    write(1, nullptr, 5);            // guarded: no kernel call
    write(1, "", 0);                 // a zero count still enters the kernel
    write(1, "hi", 0xffffffffu);     // clamped
    read(0, nullptr, 1);             // guarded
    read(0, g_buffer, 0x80000000u);  // clamped
    writefile(nullptr, "x", 1);      // guarded
    writefile("w.txt", nullptr, 1);  // guarded
    writefile("w.txt", "abc", 0xfffffffeu);
    kivfs_stream_write(3, nullptr, 1);  // guarded
    kivfs_stream_write(3, "z", 0x80000001u);
    return 0;
}

int opening() {
    open(nullptr, 0);               // guarded
    open("f.txt", 0x241, 0777);     // create: third value = flags, mode ignored
    open("f.txt", O_RDONLY, 0777);  // no create: third value 0
    creat(nullptr);                 // guarded
    creat("g.txt");
    access("f.txt", 7);        // open + close
    access("missing.txt", 0);  // open only
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
    getcwd(nullptr, 10);            // guarded
    getcwd(g_buffer, 0);            // guarded
    getcwd(g_buffer, 0xffffffffu);  // clamped, third argument 0
    chdir("/");
    rmdir("d");
    unlink("nothing");
    return 0;
}

int sleeping() {
    CHECK_EQ(usleep(1500), 0);
    CHECK_EQ(sleep(2), 0u);
    CHECK_EQ(sleep(4294), 0u);  // the longest single request
    CHECK_EQ(sleep(5000), 0u);  // split: 4294 s + 706 s
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
    pipe(nullptr);  // guarded
    int fds[2];
    pipe(fds);
    dup(1);
    dup2(1, 9);
    fd_set_inherit(5);  // normalised to 1
    fd_set_inherit(0);
    fd_set_stdio(4, 5, 6);
    fd_set_nonblock(fds[0], 7);  // normalised, third argument 0
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

constexpr check_scenario kScenarios[] = {
    {"transfers", transfers}, {"opening", opening},         {"paths", paths},       {"sleeping", sleeping},
    {"memory", memory},       {"descriptors", descriptors}, {"spawning", spawning},
};

}  // namespace

extern "C" int main(int argc, char **argv) {
    return check_run_scenario(argc, argv, kScenarios, CHECK_SCENARIO_COUNT(kScenarios));
}
