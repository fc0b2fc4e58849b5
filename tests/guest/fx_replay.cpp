// A program whose output depends on everything outside the machine: a
// file's bytes, the time-stamp counter, random numbers seeded from it (the
// generator seeds itself from the counter), what a child sends through a
// pipe and the child's status. The host copies it to /fx_replay in the
// sandbox and records, changes the file, replays; the output must not change.
// "child N" is the child's role: it writes N lines into the pipe it gets as
// its standard output and exits with N.
#include <stdint.h>

#include "check.h"
#include "fcntl.h"
#include "kiv_spawn.h"
#include "stdlib.h"

namespace {

constexpr const char *kSelf = "/fx_replay";
constexpr const char *kInput = "/input.txt";
constexpr int kRandomValues = 3;
constexpr const char *kChildLines = "3";

uint64_t read_time_stamp() {
    uint32_t low, high;
    asm volatile("rdtsc" : "=a"(low), "=d"(high));
    return (uint64_t{high} << 32) | low;
}

void say_line(const char *label, int64_t value) {
    check_say(label);
    check_say_number(value);
    check_say("\n");
}

// The file's bytes, said as they are; their sum is the exit status's part.
int say_file() {
    char text[256];
    int fd = open(kInput, O_RDONLY);
    int length = fd >= 0 ? read(fd, text, sizeof text) : -1;
    if (fd >= 0) close(fd);
    check_say("file: ");
    if (length > 0) write(1, text, static_cast<unsigned>(length));
    check_say("\n");
    int sum = 0;
    for (int i = 0; i < length; i++) sum += static_cast<unsigned char>(text[i]);
    return sum;
}

// What the child writes through the pipe, then its status.
int say_child() {
    int ends[2];
    if (pipe(ends) != 0) return -1;
    char *argv[] = {const_cast<char *>("fx_replay"), const_cast<char *>("child"), const_cast<char *>(kChildLines)};
    int pid = spawn_ex(kSelf, argv, 3, -1, ends[1], -1, 0);
    close(ends[1]);
    char text[256];
    unsigned total = 0;
    int got;
    while (total < sizeof text && (got = read(ends[0], text + total, sizeof text - total)) > 0)
        total += static_cast<unsigned>(got);
    close(ends[0]);
    check_say("pipe: ");
    if (total > 0) write(1, text, total);
    int status = -1;
    waitpid(pid, &status, 0);
    say_line("child status: ", status);
    return status;
}

int child(const char *lines) {
    int count = lines[0] - '0';
    for (int i = 0; i < count; i++) say_line("line ", static_cast<int64_t>(read_time_stamp() % 1000));
    return count;
}

}  // namespace

extern "C" int main(int argc, char **argv) {
    if (argc > 2 && check_text_equal(argv[1], "child")) return child(argv[2]);
    int sum = say_file();
    say_line("tsc: ", static_cast<int64_t>(read_time_stamp() & 0x7fffffffffffffff));
    for (int i = 0; i < kRandomValues; i++) say_line("random: ", rand());
    int status = say_child();
    return (sum + status) % 100;
}
