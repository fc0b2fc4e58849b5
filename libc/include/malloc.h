/* The kit's own: what the heap of kivos-cc --heap=mmap tells about a
 * block. */
#ifndef KIV_MALLOC_H
#define KIV_MALLOC_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The bytes the block can hold, at least the size it was asked with. */
size_t malloc_usable_size(void *block);

#ifdef __cplusplus
}
#endif

#endif
