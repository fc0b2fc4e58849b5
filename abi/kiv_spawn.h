/* The argument block of spawn_ex (call 150): the caller builds it in its own
 * memory and passes its address as the only argument. Pointers are guest
 * addresses. Valid C and C++. */
#ifndef KIV_SPAWN_H
#define KIV_SPAWN_H

#include <stddef.h>
#include <stdint.h>

#include "kiv_assert.h"

typedef struct KivSpawnBlock {
    uint32_t path; /* the program to start */
    uint32_t argv; /* its argument vector */
    int32_t argc;
    /* spawn_ex's fourth to sixth arguments, passed on as given: the caller's
     * descriptors that become the child's 0, 1 and 2 (-1: as fd_set_stdio
     * chose, or the caller's own) */
    int32_t child_stdin;
    int32_t child_stdout;
    int32_t child_stderr;
    uint32_t inherit_all; /* 0 or 1: every open descriptor, not only 0-2 */
} KivSpawnBlock;

/* waitpid's options word: answer 0 at once while the child still runs. */
#define KIV_WAIT_NO_HANG 0x1

KIV_STATIC_ASSERT(sizeof(KivSpawnBlock) == 28, "KivSpawnBlock is 28 bytes");
KIV_STATIC_ASSERT(offsetof(KivSpawnBlock, argv) == 4, "argv at 4");
KIV_STATIC_ASSERT(offsetof(KivSpawnBlock, argc) == 8, "argc at 8");
KIV_STATIC_ASSERT(offsetof(KivSpawnBlock, child_stdin) == 12, "child_stdin at 12");
KIV_STATIC_ASSERT(offsetof(KivSpawnBlock, inherit_all) == 24, "inherit_all at 24");

#endif
