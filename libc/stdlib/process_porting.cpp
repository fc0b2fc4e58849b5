// The kit's process additions for ported code. kivos has no
// command interpreter, and nothing runs when a process ends.
#include "errno.h"
#include "stdlib.h"
#include "unistd.h"

extern "C" {

void _Exit(int status) { _exit(status); }

void quick_exit(int status) { _exit(status); }

// Accepted like atexit's handlers, and like them never run.
int at_quick_exit(void (*)(void)) { return 0; }

// A null command asks whether there is an interpreter: there is none.
int system(const char *command) {
    if (command == nullptr) return 0;
    errno = ENOSYS;
    return -1;
}

}  // extern "C"
