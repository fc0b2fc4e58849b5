// The heap from a fresh arena: exact addresses, size headers and
// footprints, failures that change nothing, realloc's copies, exhaustion.
#include "check_case.h"
#include "errno.h"
#include "stdlib.h"
#include "stdlib/heap.h"
#include "string.h"

using kiv::heap::g_heap;
using kiv::heap::g_heap_used;
using kiv::heap::kArenaSize;

namespace {

constexpr uint32_t kHeader = 4;
constexpr unsigned char kStale = 0xaa;

uint32_t block_size(const void *payload) { return static_cast<const uint32_t *>(payload)[-1]; }

unsigned char *next_payload() { return g_heap + g_heap_used + kHeader; }

// Marks the free part just above the fill offset, so that a routine that
// writes more than it should leaves a trace.
void stain_free_space(uint32_t bytes) {
    for (uint32_t i = 0; i < bytes; i++) g_heap[g_heap_used + i] = kStale;
}

bool all_stale(const unsigned char *p, uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; i++)
        if (p[i] != kStale) return false;
    return true;
}

void test_fresh_arena() {
    CHECK_EQ(errno, 0);
    CHECK_EQ(g_heap_used, 0);
    CHECK_EQ(reinterpret_cast<uintptr_t>(g_heap) % 8, 0);
    void *first = malloc(10);
    CHECK(first == g_heap + 4);
    CHECK_EQ(g_heap_used, 16);
    CHECK_EQ(block_size(first), 10);
    void *second = malloc(0);
    CHECK(second == g_heap + 20);
    CHECK_EQ(g_heap_used, 24);
    CHECK_EQ(block_size(second), 1);
}

enum class Alloc { Malloc, Calloc, ReallocNull };

struct FootprintCase {
    const char *name;
    Alloc op;
    size_t count;  // calloc only
    size_t size;
    uint32_t header;
    uint32_t footprint;
};

const FootprintCase kFootprintCases[] = {
    {"malloc 0", Alloc::Malloc, 0, 0, 1, 8},
    {"malloc 0 again", Alloc::Malloc, 0, 0, 1, 8},
    {"malloc 1", Alloc::Malloc, 0, 1, 1, 8},
    {"malloc 4", Alloc::Malloc, 0, 4, 4, 8},
    {"malloc 5", Alloc::Malloc, 0, 5, 5, 16},
    {"malloc 12", Alloc::Malloc, 0, 12, 12, 16},
    {"malloc 13", Alloc::Malloc, 0, 13, 13, 24},
    {"malloc 21", Alloc::Malloc, 0, 21, 21, 32},
    {"calloc 0 5", Alloc::Calloc, 0, 5, 1, 8},
    {"calloc 5 0", Alloc::Calloc, 5, 0, 1, 8},
    {"calloc 3 4", Alloc::Calloc, 3, 4, 12, 16},
    {"calloc 7 3", Alloc::Calloc, 7, 3, 21, 32},
    {"realloc null 10", Alloc::ReallocNull, 0, 10, 10, 16},
    {"realloc null 0", Alloc::ReallocNull, 0, 0, 1, 8},
};

void *run_alloc(Alloc op, size_t count, size_t size) {
    switch (op) {
    case Alloc::Malloc: return malloc(size);
    case Alloc::Calloc: return calloc(count, size);
    case Alloc::ReallocNull: return realloc(nullptr, size);
    }
    return nullptr;
}

// Blocks land exactly at the fill offset; calloc zeroes its payload even
// over stale bytes, the others leave the payload alone.
void test_footprints() {
    for (const FootprintCase &c : kFootprintCases) {
        int before = g_check_failures;
        uint32_t used = g_heap_used;
        unsigned char *expected = next_payload();
        stain_free_space(c.footprint);
        unsigned char *block = static_cast<unsigned char *>(run_alloc(c.op, c.count, c.size));
        CHECK(block == expected);
        CHECK_EQ(g_heap_used - used, c.footprint);
        CHECK_EQ(block_size(block), c.header);
        bool zeroed = c.op == Alloc::Calloc && c.count != 0 && c.size != 0;
        for (uint32_t i = 0; i < c.header; i++) CHECK_EQ(block[i], zeroed ? 0 : kStale);
        CHECK(all_stale(block, c.header, c.footprint - kHeader));
        check_case_end(before, c.name);
    }
}

struct FailureCase {
    const char *name;
    Alloc op;
    size_t count;
    size_t size;
};

// None of these can fit, whatever the fill: sizes near 2^32 whose footprint
// would wrap to a small number in 32 bits, and calloc products of 2^32 or
// more whose low 32 bits are small.
const FailureCase kHopelessCases[] = {
    {"malloc max", Alloc::Malloc, 0, 0xffffffffu},
    {"malloc footprint wraps to 0", Alloc::Malloc, 0, 0xfffffff8u},
    {"malloc sum wraps", Alloc::Malloc, 0, 0xfffffff5u},
    {"malloc arena", Alloc::Malloc, 0, kArenaSize},
    {"calloc 65536 65536", Alloc::Calloc, 65536, 65536},
    {"calloc product 2^32", Alloc::Calloc, 2, 0x80000000u},
    {"calloc product wraps small", Alloc::Calloc, 0x10000, 0x10001},
    {"calloc 65536 16", Alloc::Calloc, 65536, 16},
    {"realloc null max", Alloc::ReallocNull, 0, 0xfffffffcu},
};

void test_hopeless_requests() {
    for (const FailureCase &c : kHopelessCases) {
        int before = g_check_failures;
        uint32_t used = g_heap_used;
        errno = 0;
        CHECK(run_alloc(c.op, c.count, c.size) == nullptr);
        CHECK_EQ(errno, ENOMEM);
        CHECK_EQ(g_heap_used, used);
        check_case_end(before, c.name);
    }
    // A success leaves the error number alone.
    CHECK(malloc(3) != nullptr);
    CHECK(calloc(2, 2) != nullptr);
    CHECK_EQ(errno, ENOMEM);
}

struct ReallocCase {
    const char *name;
    size_t size;
    uint32_t header;
    uint32_t copied;
};

const ReallocCase kReallocCases[] = {
    {"shrink to 4", 4, 4, 4},  {"shrink to 5", 5, 5, 5}, {"grow to 20", 20, 20, 10},
    {"same size", 10, 10, 10}, {"to 0", 0, 1, 1},
};

// Each resize of one 10-byte block: a new block at the top holding the
// smaller of the two sizes, nothing copied beyond, the old block intact.
void test_realloc() {
    static const char kContent[] = "0123456789";
    char *old = static_cast<char *>(malloc(10));
    memcpy(old, kContent, 10);
    for (const ReallocCase &c : kReallocCases) {
        int before = g_check_failures;
        unsigned char *expected = next_payload();
        stain_free_space(32);
        unsigned char *block = static_cast<unsigned char *>(realloc(old, c.size));
        CHECK(block == expected);
        CHECK_EQ(block_size(block), c.header);
        CHECK_BYTES(block, kContent, c.copied);
        CHECK(all_stale(block, c.copied, 28));
        CHECK_EQ(block_size(old), 10);
        CHECK_BYTES(old, kContent, 10);
        check_case_end(before, c.name);
    }
}

void test_free() {
    uint32_t used = g_heap_used;
    char *block = static_cast<char *>(malloc(4));
    memcpy(block, "abc", 4);
    free(block);
    free(nullptr);
    free(reinterpret_cast<void *>(0x1234));
    CHECK_BYTES(block, "abc", 4);
    block[0] = 'x';
    CHECK_EQ(block[0], 'x');
    CHECK_EQ(g_heap_used, used + 8);
    CHECK(malloc(4) != block);
}

// Fills the arena to the last byte; afterwards nothing fits, not even a
// request for 0 bytes, and a failed realloc keeps the old block.
void test_exhaustion() {
    char *keep = static_cast<char *>(malloc(6));
    memcpy(keep, "kept!", 6);
    uint32_t room = kArenaSize - g_heap_used;
    errno = 0;
    CHECK(malloc(room - kHeader + 1) == nullptr);
    CHECK_EQ(errno, ENOMEM);
    CHECK(realloc(keep, room - kHeader + 1) == nullptr);
    CHECK(calloc(1, room - kHeader + 1) == nullptr);
    unsigned char *last = next_payload();
    CHECK(malloc(room - kHeader) == last);
    CHECK_EQ(g_heap_used, kArenaSize);
    const FailureCase kWhenFull[] = {
        {"full malloc 0", Alloc::Malloc, 0, 0},
        {"full calloc 0 0", Alloc::Calloc, 0, 0},
        {"full calloc 1 1", Alloc::Calloc, 1, 1},
        {"full realloc null 0", Alloc::ReallocNull, 0, 0},
    };
    for (const FailureCase &c : kWhenFull) {
        int before = g_check_failures;
        errno = 0;
        CHECK(run_alloc(c.op, c.count, c.size) == nullptr);
        CHECK_EQ(errno, ENOMEM);
        CHECK_EQ(g_heap_used, kArenaSize);
        check_case_end(before, c.name);
    }
    CHECK(realloc(keep, 1) == nullptr);
    CHECK_EQ(block_size(keep), 6);
    CHECK_BYTES(keep, "kept!", 6);
}

}  // namespace

extern "C" int main() {
    test_fresh_arena();
    test_footprints();
    test_hopeless_requests();
    test_realloc();
    test_free();
    test_exhaustion();
    return check_done();
}
