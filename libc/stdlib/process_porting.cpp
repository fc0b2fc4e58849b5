// The kit's process and allocation additions for ported code. kivos has no
// command interpreter, and nothing runs when a process ends.
#include <stdint.h>

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

// The heap's blocks cannot be moved to a boundary (the block must stay
// freeable), so a block that does not fall on it is refused.
void *aligned_alloc(size_t alignment, size_t size) {
    if (alignment == 0 || (alignment & (alignment - 1)) != 0) {
        errno = EINVAL;
        return nullptr;
    }
    void *block = malloc(size);
    if (block == nullptr || reinterpret_cast<uintptr_t>(block) % alignment == 0) return block;
    free(block);
    errno = EINVAL;
    return nullptr;
}

}  // extern "C"
