// Echoes what _start handed to main: the count, each argument on its own
// line, whether the vector ends in a null pointer, whether argv is the word
// right after argc on the initial stack, and whether the stack was aligned
// for the call. Exits with the status given as its first argument
// (decimal), else 0.
#include "check.h"

namespace {

void say_whether(bool holds, const char *what) {
    check_say(holds ? "" : "not ");
    check_say(what);
    check_say("\n");
}

}  // namespace

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
    say_whether(argv[argc] == nullptr, "null-terminated");
    say_whether(reinterpret_cast<int *>(argv)[-1] == argc, "argv in place");
    // _start aligned the stack to 16, reserved a word and pushed argv and
    // the count, whatever the initial stack's length.
    say_whether((reinterpret_cast<uintptr_t>(&argc) + 12) % 16 == 0, "aligned");
    int status = 0;
    if (argc > 1) {
        for (const char *p = argv[1]; *p >= '0' && *p <= '9'; p++) status = status * 10 + (*p - '0');
    }
    return status;
}
