// Echoes what _start handed to main: the count, each argument on its own
// line, and whether argv is the word right after argc on the initial stack.
// Exits with the status given as its first argument (decimal), else 0.
#include "check.h"

extern "C" int main(int argc, char **argv) {
    check_say("argc=");
    check_say_number(argc);
    check_say("\n");
    for (int i = 0; i < argc; i++) {
        check_say("argv[");
        check_say_number(i);
        check_say("]=");
        check_say(argv[i]);
        check_say("\n");
    }
    check_say("argv@");
    check_say_number(static_cast<int64_t>(reinterpret_cast<uintptr_t>(argv)));
    check_say("\n");
    check_say(argv[argc] == nullptr ? "null-terminated\n" : "not null-terminated\n");
    int status = 0;
    if (argc > 1) {
        for (const char *p = argv[1]; *p >= '0' && *p <= '9'; p++) status = status * 10 + (*p - '0');
    }
    return status;
}
