// The kit's heap for programs that free, linked in place of the arena heap
// (heap.cpp) by `kivos-cc --heap=mmap`: blocks with boundary tags carved from
// memory the kernel maps, free blocks kept in size-class bins and merged
// with their free neighbours, large blocks in mappings of their own that go
// back to the kernel when freed.
//
// A mapping, page-aligned as mmap gives it:
//   +0        8 bytes left unused, so that every payload lies on 16
//   +8        blocks end to end: an 8-byte header, then the payload
//   end - 8   the end marker: a header of size 0, always in use
// A block's size counts its header and is a multiple of 16; the header
// also keeps the size of the block before it (0 for a mapping's first
// block), so a freed block finds both neighbours. No two free blocks are
// ever neighbours.
#include "errno.h"
#include "malloc.h"
#include "stdlib.h"
#include "stdlib/heap.h"
#include "string.h"
#include "unistd.h"

namespace kiv::heap {

// Bytes the heap holds from the kernel. The random-number generator mixes
// the address of this variable into its automatic seed, as it does with the
// arena heap's fill offset of the same name.
uint32_t g_heap_used;

namespace {

constexpr uint32_t kAlign = 16;
constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kMinBlock = 16;  // a header and the two links of a free block
constexpr uint32_t kMappingLead = 8;
constexpr uint32_t kMappingOverhead = kMappingLead + kHeaderSize;  // the lead and the end marker
constexpr uint32_t kPageSize = 4096;
// New small blocks come from mappings of this size; blocks this large or
// larger get a mapping of their own.
constexpr uint32_t kSegmentSize = 1u << 20;
constexpr uint32_t kOwnMappingFrom = 128u << 10;
// Larger requests are refused at once: no block size above 2 GiB is formed.
constexpr uint64_t kMaxRequest = 0x7fffffffu - kPageSize - kMappingOverhead;

constexpr uint32_t kInUse = 1;
constexpr uint32_t kSizeMask = ~(kAlign - 1);

struct Block {
    uint32_t prev_size;  // 0: the first block of its mapping
    uint32_t size_bits;  // the size, with kInUse in the low bits
    // Free blocks only, in the payload:
    Block *next_free;
    Block *prev_free;
};
static_assert(sizeof(Block) == kMinBlock && kMinBlock <= kAlign);
static_assert(__builtin_offsetof(Block, next_free) == kHeaderSize);

// Size classes: one bin per size below 1 KiB, then four per power of two.
constexpr uint32_t kExactBins = 63;
constexpr uint32_t kExactLimit = (kExactBins + 1) * kAlign;
constexpr uint32_t kExactLimitLog = 10;
static_assert(kExactLimit == 1u << kExactLimitLog);
constexpr uint32_t kBinsPerDoubling = 4;
constexpr uint32_t kBins = kExactBins + (31 - kExactLimitLog) * kBinsPerDoubling;
constexpr uint32_t kBitsPerWord = 32;
constexpr uint32_t kBinWords = (kBins + kBitsPerWord - 1) / kBitsPerWord;

Block *g_bins[kBins];
uint32_t g_nonempty_bins[kBinWords];
// One whole free segment stays mapped, so that a program allocating and
// freeing around a boundary does not map and unmap at every turn.
Block *g_spare;

uint32_t size_of(const Block *block) { return block->size_bits & kSizeMask; }
bool in_use(const Block *block) { return (block->size_bits & kInUse) != 0; }
unsigned char *bytes(Block *block) { return reinterpret_cast<unsigned char *>(block); }
Block *block_at(unsigned char *address) { return reinterpret_cast<Block *>(address); }
Block *next_of(Block *block) { return block_at(bytes(block) + size_of(block)); }
Block *prev_of(Block *block) { return block_at(bytes(block) - block->prev_size); }
void *payload_of(Block *block) { return bytes(block) + kHeaderSize; }
Block *block_of(void *payload) { return block_at(static_cast<unsigned char *>(payload) - kHeaderSize); }

// Writes the block's header and the back link in its successor's.
void set_block(Block *block, uint32_t size, uint32_t in_use_bit) {
    block->size_bits = size | in_use_bit;
    next_of(block)->prev_size = size;
}

uint32_t log2_floor(uint32_t value) { return 31 - static_cast<uint32_t>(__builtin_clz(value)); }

uint32_t bin_index(uint32_t size) {
    if (size < kExactLimit) return size / kAlign - 1;
    uint32_t log = log2_floor(size);
    uint32_t quarter = (size >> (log - 2)) & (kBinsPerDoubling - 1);
    return kExactBins + (log - kExactLimitLog) * kBinsPerDoubling + quarter;
}

void mark_bin(uint32_t bin, bool nonempty) {
    uint32_t bit = 1u << (bin % kBitsPerWord);
    if (nonempty) g_nonempty_bins[bin / kBitsPerWord] |= bit;
    else g_nonempty_bins[bin / kBitsPerWord] &= ~bit;
}

// The first non-empty bin from `bin` on, or kBins.
uint32_t nonempty_bin_from(uint32_t bin) {
    for (uint32_t word = bin / kBitsPerWord; word < kBinWords; word++) {
        uint32_t bits = g_nonempty_bins[word];
        if (word == bin / kBitsPerWord) bits &= ~0u << (bin % kBitsPerWord);
        if (bits != 0) return word * kBitsPerWord + static_cast<uint32_t>(__builtin_ctz(bits));
    }
    return kBins;
}

// Newest first: a block freed a moment ago is likely still in the cache.
void insert_free(Block *block) {
    uint32_t bin = bin_index(size_of(block));
    block->prev_free = nullptr;
    block->next_free = g_bins[bin];
    if (block->next_free != nullptr) block->next_free->prev_free = block;
    g_bins[bin] = block;
    mark_bin(bin, true);
}

void unlink_free(Block *block) {
    if (block == g_spare) g_spare = nullptr;
    if (block->next_free != nullptr) block->next_free->prev_free = block->prev_free;
    if (block->prev_free != nullptr) {
        block->prev_free->next_free = block->next_free;
        return;
    }
    uint32_t bin = bin_index(size_of(block));
    g_bins[bin] = block->next_free;
    if (g_bins[bin] == nullptr) mark_bin(bin, false);
}

// A free block of at least `size` bytes, taken out of its bin, or null.
// Every block in a bin above the size's own is large enough; the size's
// own bin may hold smaller ones when it spans a range of sizes.
Block *take_free(uint32_t size) {
    uint32_t bin = bin_index(size);
    for (Block *block = g_bins[bin]; block != nullptr; block = block->next_free) {
        if (size_of(block) >= size) {
            unlink_free(block);
            return block;
        }
    }
    uint32_t larger = nonempty_bin_from(bin + 1);
    if (larger == kBins) return nullptr;
    Block *block = g_bins[larger];
    unlink_free(block);
    return block;
}

unsigned char *mapping_of(Block *block) { return bytes(block) - kMappingLead; }
uint32_t mapping_size(Block *block) { return size_of(block) + kMappingOverhead; }
bool fills_mapping(Block *block) { return block->prev_size == 0 && size_of(next_of(block)) == 0; }

// A new mapping holding one block, in use, that fills it, or null.
Block *map_block(uint32_t mapping_bytes) {
    void *mapping = mmap(nullptr, mapping_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return nullptr;
    g_heap_used += mapping_bytes;
    Block *block = block_at(static_cast<unsigned char *>(mapping) + kMappingLead);
    block->prev_size = 0;
    set_block(block, mapping_bytes - kMappingOverhead, kInUse);
    next_of(block)->size_bits = kInUse;
    return block;
}

bool unmap_block(Block *block) {
    uint32_t mapping_bytes = mapping_size(block);
    if (munmap(mapping_of(block), mapping_bytes) != 0) return false;
    g_heap_used -= mapping_bytes;
    return true;
}

uint32_t pages_for(uint32_t block_size) { return (block_size + kMappingOverhead + kPageSize - 1) & ~(kPageSize - 1); }

// A mapping of its own for a large block, taken back whole when it is freed.
Block *map_large(uint32_t size) { return map_block(pages_for(size)); }

// A new segment for small blocks; under a tight memory limit, a mapping
// just large enough.
Block *map_segment(uint32_t size) {
    Block *block = map_block(kSegmentSize);
    return block != nullptr ? block : map_large(size);
}

// Of the whole free mappings, one segment stays as the spare.
bool becomes_spare(Block *block) { return g_spare == nullptr && mapping_size(block) == kSegmentSize; }

// Marks the block free, merges it with its free neighbours and bins the
// result, unless it fills a mapping, which goes back to the kernel.
void release(Block *block) {
    uint32_t size = size_of(block);
    if (block->prev_size != 0 && !in_use(prev_of(block))) {
        block = prev_of(block);
        unlink_free(block);
        size += size_of(block);
    }
    Block *next = block_at(bytes(block) + size);
    if (!in_use(next)) {
        unlink_free(next);
        size += size_of(next);
    }
    set_block(block, size, 0);
    // A mapping the kernel refuses to take back (kivrun does when that would
    // split memory into too many pieces) stays as free memory, given back
    // when it is freed again after a reuse.
    if (fills_mapping(block)) {
        if (becomes_spare(block)) g_spare = block;
        else if (unmap_block(block)) return;
    }
    insert_free(block);
}

// Cuts an in-use block down to `size`, freeing the rest when it can hold a
// block of its own.
void trim(Block *block, uint32_t size) {
    uint32_t rest = size_of(block) - size;
    if (rest < kMinBlock) return;
    set_block(block, size, kInUse);
    Block *tail = next_of(block);
    set_block(tail, rest, kInUse);
    release(tail);
}

// The block size that holds `request` payload bytes (never below
// kMinBlock, as the header alone rounds up to it), or 0 when none can.
uint32_t block_size_for(uint64_t request) {
    if (request > kMaxRequest) return 0;
    return static_cast<uint32_t>((request + kHeaderSize + kAlign - 1) & kSizeMask);
}

// An in-use block of `size` bytes: memory the heap holds first, then a
// mapping of its own for a large block, or a new segment for a small one.
Block *find_or_map(uint32_t size) {
    Block *block = take_free(size);
    if (block == nullptr && size >= kOwnMappingFrom) return map_large(size);
    if (block == nullptr) block = map_segment(size);
    if (block == nullptr) return nullptr;
    block->size_bits |= kInUse;
    trim(block, size);
    return block;
}

void *out_of_memory() {
    errno = ENOMEM;
    return nullptr;
}

void *allocate(uint64_t request) {
    uint32_t size = block_size_for(request);
    Block *block = size != 0 ? find_or_map(size) : nullptr;
    return block != nullptr ? payload_of(block) : out_of_memory();
}

// Grows into a free successor, or shrinks, without moving.
bool resize_in_place(Block *block, uint32_t size) {
    Block *next = next_of(block);
    if (size > size_of(block)) {
        if (in_use(next) || size_of(block) + size_of(next) < size) return false;
        unlink_free(next);
        set_block(block, size_of(block) + size_of(next), kInUse);
    }
    trim(block, size);
    return true;
}

void *reallocate(void *old, size_t request) {
    uint32_t size = block_size_for(request);
    if (size == 0) return out_of_memory();
    Block *block = block_of(old);
    if (resize_in_place(block, size)) return old;
    void *moved = allocate(request);
    if (moved == nullptr) return nullptr;
    uint32_t kept = size_of(block) - kHeaderSize;
    memcpy(moved, old, kept < request ? kept : request);
    release(block);
    return moved;
}

bool power_of_two(size_t value) { return value != 0 && (value & (value - 1)) == 0; }

// Over-allocates, then frees the lead up to the first aligned payload that
// leaves room for a free block before it, and the tail past the request.
void *allocate_aligned(size_t alignment, size_t request) {
    if (alignment <= kAlign) return allocate(request);
    uint32_t size = block_size_for(request);
    void *raw = size != 0 ? allocate(uint64_t{size} + alignment + kMinBlock) : out_of_memory();
    if (raw == nullptr) return nullptr;
    Block *block = block_of(raw);
    uintptr_t address = reinterpret_cast<uintptr_t>(raw);
    uintptr_t aligned = (address + kMinBlock + alignment - 1) & ~(alignment - 1);
    Block *result = block_of(reinterpret_cast<void *>(aligned));
    uint32_t lead = static_cast<uint32_t>(aligned - address);
    set_block(result, size_of(block) - lead, kInUse);
    set_block(block, lead, kInUse);
    release(block);
    trim(result, size);
    return payload_of(result);
}

}  // namespace

}  // namespace kiv::heap

using namespace kiv::heap;

extern "C" {

void *malloc(size_t size) { return allocate(size); }

void *calloc(size_t count, size_t size) {
    uint64_t product = uint64_t{count} * size;
    if (product > kMaxRequest) return out_of_memory();
    void *block = allocate(product);
    if (block != nullptr) memset(block, 0, static_cast<size_t>(product));
    return block;
}

void *realloc(void *old, size_t size) { return old == nullptr ? allocate(size) : reallocate(old, size); }

void free(void *block) {
    if (block != nullptr) release(block_of(block));
}

// C11.
void *aligned_alloc(size_t alignment, size_t size) {
    if (power_of_two(alignment)) return allocate_aligned(alignment, size);
    errno = EINVAL;
    return nullptr;
}

// POSIX: the error is the result, errno stays.
int posix_memalign(void **result, size_t alignment, size_t size) {
    if (!power_of_two(alignment) || alignment % sizeof(void *) != 0) return EINVAL;
    int saved = errno;
    void *block = allocate_aligned(alignment, size);
    if (block == nullptr) {
        errno = saved;
        return ENOMEM;
    }
    *result = block;
    return 0;
}

// As glibc: the bytes the block can hold, at least what was asked for.
size_t malloc_usable_size(void *block) { return block == nullptr ? 0 : size_of(block_of(block)) - kHeaderSize; }

}  // extern "C"
