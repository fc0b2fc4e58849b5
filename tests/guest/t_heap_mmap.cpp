// The heap of `kivos-cc --heap=mmap`, linked here in place of the arena:
// blocks laid out and aligned, freed memory reused, large blocks given back,
// realloc in place, a random run against a model with every block's bytes
// checked, and the run's memory limit (given as the first argument, in MiB,
// as kivrun's --max-memory is).
#include "check_case.h"
#include "errno.h"
#include "malloc.h"
#include "stdio.h"
#include "stdlib.h"
#include "stdlib/heap.h"
#include "string.h"

using kiv::heap::g_heap_used;

namespace {

constexpr uint32_t kMiB = 1u << 20;
constexpr uintptr_t kAlign = 16;
constexpr uint32_t kHeader = 8;
// Blocks (header included) from this size on have a mapping of their own.
constexpr uint32_t kOwnMapping = 128u << 10;
constexpr uint32_t kLargestSmall = kOwnMapping - kHeader - kAlign;

bool aligned(const void *p, uintptr_t alignment) { return reinterpret_cast<uintptr_t>(p) % alignment == 0; }

unsigned char *bytes(void *p) { return static_cast<unsigned char *>(p); }

// A block's pattern: every byte depends on the block's seed and position,
// so a byte written through another block or lost in a move shows.
unsigned char pattern_byte(uint32_t seed, uint32_t i) {
    return static_cast<unsigned char>((seed * 2654435761u + i * 131u) >> 5);
}

void fill(void *p, uint32_t size, uint32_t seed) {
    for (uint32_t i = 0; i < size; i++) bytes(p)[i] = pattern_byte(seed, i);
}

// The index of the first byte off the pattern, or `size`.
uint32_t first_wrong(const void *p, uint32_t size, uint32_t seed) {
    const unsigned char *b = static_cast<const unsigned char *>(p);
    for (uint32_t i = 0; i < size; i++)
        if (b[i] != pattern_byte(seed, i)) return i;
    return size;
}

void check_sizes_and_alignment() {
    const size_t kSizes[] = {
        0, 1, 7, 8, 9, 15, 16, 17, 100, 1000, 1008, 1009, 4095, 65536, kLargestSmall, kLargestSmall + 1, 3 * kMiB + 5};
    for (size_t size : kSizes) {
        int before = g_check_failures;
        void *p = malloc(size);
        CHECK(p != nullptr);
        CHECK(aligned(p, kAlign));
        size_t usable = malloc_usable_size(p);
        CHECK(usable >= size);
        CHECK(usable < size + kAlign || size > kLargestSmall);
        fill(p, static_cast<uint32_t>(usable), static_cast<uint32_t>(size));
        CHECK_EQ(first_wrong(p, static_cast<uint32_t>(usable), static_cast<uint32_t>(size)), usable);
        free(p);
        if (g_check_failures != before) {
            check_say("  in case: malloc ");
            check_say_number(static_cast<int64_t>(size));
            check_say("\n");
        }
    }
    CHECK_EQ(malloc_usable_size(nullptr), 0u);
}

struct AlignedCase {
    size_t alignment;
    size_t size;
};

const AlignedCase kAlignedCases[] = {
    {4, 10}, {16, 10}, {32, 1}, {64, 100}, {256, 3000}, {4096, 10}, {4096, 5000}, {65536, 300000}, {1 << 20, 64},
};

void check_aligned_allocation() {
    for (const AlignedCase &c : kAlignedCases) {
        int before = g_check_failures;
        void *a = aligned_alloc(c.alignment, c.size);
        void *b = nullptr;
        CHECK(a != nullptr);
        CHECK(aligned(a, c.alignment));
        CHECK_EQ(posix_memalign(&b, c.alignment, c.size), 0);
        CHECK(aligned(b, c.alignment));
        CHECK(malloc_usable_size(a) >= c.size);
        fill(a, static_cast<uint32_t>(c.size), 1);
        fill(b, static_cast<uint32_t>(c.size), 2);
        CHECK_EQ(first_wrong(a, static_cast<uint32_t>(c.size), 1), c.size);
        free(a);
        CHECK_EQ(first_wrong(b, static_cast<uint32_t>(c.size), 2), c.size);
        free(b);
        check_case_end(before, "aligned_alloc");
    }
    void *untouched = &g_check_failures;
    void *result = untouched;
    errno = 0;
    CHECK(aligned_alloc(48, 10) == nullptr);
    CHECK_EQ(errno, EINVAL);
    errno = 0;
    CHECK_EQ(posix_memalign(&result, 2, 10), EINVAL);  // not a multiple of a pointer's size
    CHECK_EQ(posix_memalign(&result, 24, 10), EINVAL);
    CHECK_EQ(posix_memalign(&result, 16, 0xffffffffu), ENOMEM);
    CHECK(result == untouched);
    CHECK_EQ(errno, 0);
}

struct RefusedCase {
    const char *name;
    size_t count;  // 0: malloc of size
    size_t size;
};

// No request of 2 GiB or more is served, and no calloc product that does
// not fit in 32 bits, whatever its low bits.
const RefusedCase kRefusedCases[] = {
    {"malloc max", 0, 0xffffffffu},
    {"malloc 2 GiB", 0, 0x80000000u},
    {"malloc below 2 GiB", 0, 0x7ffffff0u},
    {"calloc 65536 65536", 65536, 65536},
    {"calloc product 2^32", 2, 0x80000000u},
    {"calloc product wraps small", 0x10000, 0x10001},
    {"calloc max max", 0xffffffffu, 0xffffffffu},
    {"calloc product 2^31", 0x8000, 0x10000},
};

void check_refusals() {
    for (const RefusedCase &c : kRefusedCases) {
        int before = g_check_failures;
        uint32_t used = g_heap_used;
        errno = 0;
        CHECK((c.count == 0 ? malloc(c.size) : calloc(c.count, c.size)) == nullptr);
        CHECK_EQ(errno, ENOMEM);
        CHECK_EQ(g_heap_used, used);
        check_case_end(before, c.name);
    }
    char *kept = static_cast<char *>(malloc(6));
    memcpy(kept, "kept!", 6);
    CHECK(realloc(kept, 0xfffffff0u) == nullptr);
    CHECK_BYTES(kept, "kept!", 6);
    free(kept);
}

// calloc clears memory that held other bytes before.
void check_calloc_clears_reused_memory() {
    const uint32_t kSizes[] = {24, 1000, 5000, kOwnMapping + 100};
    for (uint32_t size : kSizes) {
        void *dirty = malloc(size);
        memset(dirty, 0xa5, size);
        free(dirty);
        unsigned char *clean = static_cast<unsigned char *>(calloc(size / 4, 4));
        uint32_t nonzero = 0;
        for (uint32_t i = 0; i < size / 4 * 4; i++) nonzero += clean[i] != 0;
        CHECK_EQ(nonzero, 0u);
        free(clean);
    }
}

// A block freed is the next one of its size; a loop of allocate and free
// goes on far past any fixed arena without taking more memory.
void check_reuse() {
    void *first = malloc(100);
    free(first);
    CHECK(malloc(100) == first);
    free(first);
    uint32_t used = g_heap_used;
    constexpr uint64_t kTotal = 100ull * kMiB;
    uint64_t total = 0;
    uint32_t failed = 0;
    for (uint32_t round = 0; total < kTotal; round++) {
        uint32_t size = 16 + (round * 40503u) % 4000;
        void *p = malloc(size);
        failed += p == nullptr;
        if (p != nullptr) bytes(p)[size - 1] = 1;
        free(p);
        total += size;
    }
    CHECK_EQ(failed, 0u);
    CHECK_EQ(g_heap_used, used);
}

// Freeing a large block gives its mapping back at once; many of them in a
// row never add up.
void check_large_blocks_go_back() {
    uint32_t used = g_heap_used;
    for (uint32_t round = 0; round < 40; round++) {
        uint32_t size = (8 + round % 5) * kMiB + round;
        unsigned char *p = static_cast<unsigned char *>(malloc(size));
        CHECK(p != nullptr);
        if (p == nullptr) return;
        CHECK(g_heap_used >= used + size);
        p[0] = p[size - 1] = static_cast<unsigned char>(round);
        free(p);
        CHECK_EQ(g_heap_used, used);
    }
}

// kivrun refuses a release that would leave memory in too many pieces:
// freeing every other one of many large blocks side by side gets there. A
// mapping refused stays the heap's, serves the next blocks that fit, and
// goes back to the kernel once they are freed.
void check_refused_releases() {
    constexpr uint32_t kBlocks = 1100;
    // The block's header, the mapping's lead and its end marker take a page more.
    constexpr uint32_t kMappingBytes = kOwnMapping + 4096;
    static unsigned char *blocks[kBlocks];
    uint32_t used = g_heap_used;
    uint32_t made = 0;
    while (made < kBlocks && (blocks[made] = bytes(malloc(kOwnMapping))) != nullptr) {
        blocks[made][0] = static_cast<unsigned char>(made);
        made++;
    }
    CHECK_EQ(made, kBlocks);
    CHECK(g_heap_used - used <= made * kMappingBytes);  // a few may come from the spare segment
    for (uint32_t i = 1; i < made; i += 2) free(blocks[i]);
    uint32_t intact = 0;
    for (uint32_t i = 0; i < made; i += 2) {
        intact += blocks[i][0] == static_cast<unsigned char>(i);
        free(blocks[i]);
    }
    CHECK_EQ(intact, (made + 1) / 2);
    uint32_t held = g_heap_used - used;
    CHECK(held > 0);
    CHECK_EQ(held % kMappingBytes, 0u);
    uint32_t reused = held / kMappingBytes;
    for (uint32_t i = 0; i < reused; i++) blocks[i] = bytes(malloc(kOwnMapping));
    CHECK_EQ(g_heap_used - used, held);
    for (uint32_t i = 0; i < reused; i++) free(blocks[i]);
    CHECK_EQ(g_heap_used, used);
}

// realloc keeps the address while it can: into a free neighbour, down in
// place, within a large block's own mapping. Otherwise it moves the bytes.
void check_realloc_in_place() {
    unsigned char *a = static_cast<unsigned char *>(malloc(100));
    unsigned char *b = static_cast<unsigned char *>(malloc(100));
    void *guard = malloc(100);
    uint32_t a_usable = static_cast<uint32_t>(malloc_usable_size(a));
    CHECK(b == a + a_usable + kHeader);  // carved one after the other
    fill(a, 100, 7);
    free(b);
    CHECK(realloc(a, 200) == a);
    CHECK_EQ(first_wrong(a, 100, 7), 100u);
    fill(a, 200, 8);
    CHECK(realloc(a, 40) == a);
    CHECK_EQ(first_wrong(a, 40, 8), 40u);
    CHECK(malloc_usable_size(a) < 64);
    CHECK(realloc(a, 150) == a);  // back into what the shrink freed
    CHECK_EQ(first_wrong(a, 40, 8), 40u);
    fill(a, 150, 9);
    unsigned char *moved = static_cast<unsigned char *>(realloc(a, 5000));
    CHECK(moved != a);
    CHECK_EQ(first_wrong(moved, 150, 9), 150u);
    free(moved);
    free(guard);

    unsigned char *large = static_cast<unsigned char *>(malloc(kOwnMapping + 1000));
    uint32_t large_usable = static_cast<uint32_t>(malloc_usable_size(large));
    fill(large, large_usable, 10);
    CHECK(realloc(large, large_usable) == large);
    CHECK(realloc(large, 3000) == large);
    CHECK_EQ(first_wrong(large, 3000, 10), 3000u);
    free(large);
}

// A stream's buffer grows by realloc far past the arena's 1 MiB; strdup,
// rand, new and delete go on the same heap.
void check_library_users() {
    char *text = nullptr;
    size_t length = 0;
    FILE *stream = open_memstream(&text, &length);
    CHECK(stream != nullptr);
    static const char kLine[] = "a line of a stream that outgrows a fixed arena\n";
    constexpr uint32_t kLines = 80000;
    for (uint32_t i = 0; i < kLines; i++) fputs(kLine, stream);
    CHECK_EQ(fclose(stream), 0);
    CHECK_EQ(length, kLines * (sizeof kLine - 1));
    CHECK_BYTES(text + length - (sizeof kLine - 1), kLine, sizeof kLine - 1);
    free(text);
    char *copy = strdup("copied");
    CHECK_BYTES(copy, "copied", 7);
    free(copy);
    int value = rand();
    CHECK(value >= 0 && value <= RAND_MAX);
    uint32_t used = g_heap_used;
    for (uint32_t i = 0; i < 1600; i++) {
        char *block = new char[64u << 10];
        block[0] = static_cast<char>(i);
        delete[] block;
    }
    CHECK_EQ(g_heap_used, used);
}

// The model: what each slot should hold. Sizes are mostly small, some
// medium, a few with mappings of their own.
struct Slot {
    unsigned char *block;
    uint32_t size;
    uint32_t seed;
};

constexpr uint32_t kSlots = 256;
constexpr uint32_t kSteps = 10000;

uint32_t g_random = 12345;
uint32_t next_random() {
    g_random = g_random * 1103515245u + 12345u;
    return g_random >> 8;
}

uint32_t random_size() {
    uint32_t kind = next_random() % 100;
    if (kind < 70) return next_random() % 257;
    if (kind < 99) return 257 + next_random() % 16000;
    return kOwnMapping - 4096 + next_random() % (kMiB - kOwnMapping);
}

// Whether the slot still holds its bytes; reports the slot once.
bool slot_intact(const Slot &slot, uint32_t index) {
    if (first_wrong(slot.block, slot.size, slot.seed) == slot.size) return true;
    check_fail(__FILE__, __LINE__, "a block lost its bytes");
    check_say("  slot ");
    check_say_number(index);
    check_say("\n");
    return false;
}

void fill_slot(Slot &slot, void *block, uint32_t size, uint32_t step) {
    slot.block = bytes(block);
    slot.size = size;
    slot.seed = step;
    fill(block, size, step);
}

void model_step(Slot &slot, uint32_t index, uint32_t step) {
    if (slot.block == nullptr) {
        uint32_t size = random_size();
        bool cleared = step % 3 == 0;
        unsigned char *block = static_cast<unsigned char *>(cleared ? calloc(1, size) : malloc(size));
        CHECK(block != nullptr);
        if (block == nullptr) return;
        CHECK(aligned(block, kAlign));
        if (cleared) {
            uint32_t nonzero = 0;
            for (uint32_t i = 0; i < size; i++) nonzero += block[i] != 0;
            CHECK_EQ(nonzero, 0u);
        }
        fill_slot(slot, block, size, step);
        return;
    }
    if (!slot_intact(slot, index)) return;
    if (next_random() % 2 == 0) {
        free(slot.block);
        slot.block = nullptr;
        return;
    }
    uint32_t size = random_size();
    void *block = realloc(slot.block, size);
    CHECK(block != nullptr);
    if (block == nullptr) return;
    uint32_t kept = size < slot.size ? size : slot.size;
    CHECK_EQ(first_wrong(block, kept, slot.seed), kept);
    fill_slot(slot, block, size, step);
}

void check_against_model() {
    static Slot slots[kSlots];
    for (uint32_t step = 1; step <= kSteps; step++) {
        uint32_t index = next_random() % kSlots;
        model_step(slots[index], index, step);
    }
    uint32_t intact = 0, live = 0;
    for (uint32_t i = 0; i < kSlots; i++) {
        if (slots[i].block == nullptr) continue;
        live++;
        intact += slot_intact(slots[i], i);
        free(slots[i].block);
    }
    CHECK_EQ(intact, live);
}

// Past the run's limit an allocation answers null with ENOMEM and nothing
// is lost; once memory is freed, it is served again.
void check_memory_limit(uint32_t limit_mib) {
    constexpr uint32_t kBlockMiB = 4;
    static void *blocks[1024];
    uint32_t used = g_heap_used;
    uint32_t count = 0;
    errno = 0;
    while (count < 1024 && (blocks[count] = malloc(kBlockMiB * kMiB)) != nullptr) {
        fill(blocks[count], 64, count);
        count++;
    }
    CHECK_EQ(errno, ENOMEM);
    // The stack (8 MiB), the image and the emulator's buffer of translated
    // code (32 MiB) share the limit.
    CHECK(count * kBlockMiB < limit_mib);
    CHECK(count * kBlockMiB > limit_mib - 48);
    errno = 0;
    CHECK(calloc(limit_mib, kMiB) == nullptr);
    CHECK_EQ(errno, ENOMEM);
    CHECK(realloc(blocks[0], 2 * kBlockMiB * kMiB) == nullptr);
    uint32_t intact = 0;
    for (uint32_t i = 0; i < count; i++) {
        intact += first_wrong(blocks[i], 64, i) == 64;
        free(blocks[i]);
    }
    CHECK_EQ(intact, count);
    CHECK_EQ(g_heap_used, used);
    void *again = malloc(count * kBlockMiB * kMiB);
    CHECK(again != nullptr);
    free(again);
}

}  // namespace

extern "C" int main(int argc, char **argv) {
    check_realloc_in_place();
    check_sizes_and_alignment();
    check_aligned_allocation();
    check_refusals();
    check_calloc_clears_reused_memory();
    check_reuse();
    check_large_blocks_go_back();
    check_refused_releases();
    check_library_users();
    check_against_model();
    CHECK_EQ(argc, 2);
    if (argc == 2) check_memory_limit(static_cast<uint32_t>(atoi(argv[1])));
    return check_done();
}
