// A bump allocator over one static arena: each block is a 4-byte size header
// and its payload, laid end to end; nothing is ever given back.
#include "stdlib/heap.h"

#include "errno.h"
#include "stdlib.h"
#include "string.h"

namespace kiv::heap {

// Headers sit on multiples of 8 from an 8-aligned start (see kBlockAlign).
alignas(8) unsigned char g_heap[kArenaSize];
uint32_t g_heap_used;

namespace {

constexpr uint32_t kHeaderSize = 4;
constexpr uint32_t kBlockAlign = 8;

typedef uint32_t __attribute__((may_alias)) SizeHeader;

// Header plus payload rounded up to kBlockAlign, in 64 bits so that a size
// near the top of the 32-bit range cannot wrap into a small footprint.
uint64_t footprint(uint32_t n) { return (uint64_t{n} + kHeaderSize + kBlockAlign - 1) & ~uint64_t{kBlockAlign - 1}; }

bool fits(uint64_t bytes) { return g_heap_used + bytes <= kArenaSize; }

// A request for nothing still gets a distinct block of its own.
uint32_t stored_size(size_t size) { return size == 0 ? 1 : size; }

void *out_of_memory() {
    errno = ENOMEM;
    return nullptr;
}

SizeHeader *header_of(void *payload) {
    return reinterpret_cast<SizeHeader *>(static_cast<unsigned char *>(payload) - kHeaderSize);
}

// Carves the next block; the caller has checked that it fits.
void *take_block(uint32_t n) {
    unsigned char *payload = g_heap + g_heap_used + kHeaderSize;
    *header_of(payload) = n;
    g_heap_used += static_cast<uint32_t>(footprint(n));
    return payload;
}

void *allocate(uint32_t n) { return fits(footprint(n)) ? take_block(n) : out_of_memory(); }

}  // namespace

}  // namespace kiv::heap

using namespace kiv::heap;

extern "C" {

void *malloc(size_t size) { return allocate(stored_size(size)); }

void *calloc(size_t count, size_t size) {
    if (count == 0 || size == 0) return malloc(0);
    uint64_t product = uint64_t{count} * size;
    if (product > UINT32_MAX) return out_of_memory();
    auto bytes = static_cast<uint32_t>(product);
    void *block = allocate(bytes);
    if (block != nullptr) memset(block, 0, bytes);
    return block;
}

// Always a new block at the top, even when shrinking: blocks never move or
// grow in place, so a caller's old pointer stays valid and unchanged.
void *realloc(void *old, size_t size) {
    uint32_t n = stored_size(size);
    if (!fits(footprint(n))) return out_of_memory();
    void *block = take_block(n);
    if (old != nullptr) {
        uint32_t old_size = *header_of(old);
        memcpy(block, old, old_size < n ? old_size : n);
    }
    return block;
}

void free(void *) {}

}  // extern "C"
