// Aligned allocation on the arena heap, for ported code. A file of its own:
// the mmap heap defines these names itself, and a link that takes that heap
// must never pull this member in beside it.
#include <stdint.h>

#include "errno.h"
#include "stdlib.h"

namespace {

bool power_of_two(size_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The arena cannot move a block to a boundary (the block must stay
// freeable), so one that does not fall on it is refused: 0 and the block, or
// the error number.
int allocate_on(void **result, size_t alignment, size_t size) {
    void *block = malloc(size);
    if (block == nullptr) return ENOMEM;
    if (reinterpret_cast<uintptr_t>(block) % alignment != 0) return EINVAL;
    *result = block;
    return 0;
}

}  // namespace

extern "C" {

// C11: null and errno for an alignment that is not a power of two or not met.
void *aligned_alloc(size_t alignment, size_t size) {
    void *block = nullptr;
    int error = power_of_two(alignment) ? allocate_on(&block, alignment, size) : EINVAL;
    if (error != 0) errno = error;
    return block;
}

// POSIX: the error is the result, errno stays.
int posix_memalign(void **result, size_t alignment, size_t size) {
    if (!power_of_two(alignment) || alignment % sizeof(void *) != 0) return EINVAL;
    int saved = errno;
    int error = allocate_on(result, alignment, size);
    errno = saved;
    return error;
}

}  // extern "C"
