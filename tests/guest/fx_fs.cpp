// Runs file-system calls given as pairs of arguments "OPERATION PATH" and
// prints "OPERATION PATH -> RESULT" for each, so the host can check what the
// sandbox allows.
#include "check.h"
#include "fcntl.h"

namespace {

int read_first_byte(const char *path) {
    int fd = open(path, O_RDONLY);
    if (fd < 0) return fd;
    unsigned char byte = 0;
    int got = read(fd, &byte, 1);
    close(fd);
    return got == 1 ? byte : -2;
}

int create_file(const char *path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return fd;
    int wrote = write(fd, "new", 3);
    close(fd);
    return wrote;
}

int replace_file(const char *path) { return writefile(path, "replaced", 8); }

int stream_file(const char *path) {
    int handle = kivfs_stream_begin(path);
    if (handle < 0) return handle;
    kivfs_stream_write(handle, "str", 3);
    kivfs_stream_write(handle, "eam", 3);
    return kivfs_stream_end(handle);
}

int change_and_report(const char *path) {
    int result = chdir(path);
    char cwd[128];
    if (getcwd(cwd, sizeof cwd) > 0) {
        check_say("cwd ");
        check_say(cwd);
        check_say("\n");
    }
    return result;
}

struct Operation {
    const char *name;
    int (*run)(const char *path);
};

constexpr Operation kOperations[] = {
    {"read", read_first_byte},
    {"create", create_file},
    {"writefile", replace_file},
    {"stream", stream_file},
    {"mkdir", mkdir},
    {"rmdir", rmdir},
    {"unlink", unlink},
    {"chdir", change_and_report},
    {"mkfifo", mkfifo},
    {"access", [](const char *path) { return access(path, 0); }},
};

}  // namespace

extern "C" int main(int argc, char **argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        int result = -100;
        for (const auto &operation : kOperations)
            if (check_text_equal(argv[i], operation.name)) result = operation.run(argv[i + 1]);
        check_say(argv[i]);
        check_say(" ");
        check_say(argv[i + 1]);
        check_say(" -> ");
        check_say_number(result);
        check_say("\n");
    }
    return 0;
}
