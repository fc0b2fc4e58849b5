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
    int32_t a4; /* passed on as given */
    int32_t a5;
    int32_t a6;
    uint32_t flag; /* 0 or 1 */
} KivSpawnBlock;

/* waitpid's options word: answer 0 at once while the child still runs. */
#define KIV_WAIT_NO_HANG 0x1

KIV_STATIC_ASSERT(sizeof(KivSpawnBlock) == 28, "KivSpawnBlock is 28 bytes");
KIV_STATIC_ASSERT(offsetof(KivSpawnBlock, argv) == 4, "argv at 4");
KIV_STATIC_ASSERT(offsetof(KivSpawnBlock, argc) == 8, "argc at 8");
KIV_STATIC_ASSERT(offsetof(KivSpawnBlock, a4) == 12, "a4 at 12");
KIV_STATIC_ASSERT(offsetof(KivSpawnBlock, flag) == 24, "flag at 24");

#endif
