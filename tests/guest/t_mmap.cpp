// mmap takes its sixth argument in EBP, the caller's frame pointer: the
// wrapper must hand the caller back EBP and the other callee-saved
// registers exactly as they were. The memory it returns is usable.
#include "check.h"

namespace {

constexpr int kReadWrite = 3;
constexpr int kPrivateAnonymous = 0x22;

struct Registers {
    uint32_t ebx, esi, edi, ebp;
};

// Calls mmap(0, 4096, 3, 0x22, -1, 0) with known values in the callee-saved
// registers and reports what they hold afterwards.
void *mmap_with_known_registers(Registers &after) {
    void *result;
    asm volatile(
        "pushl %%ebp\n\t"
        "movl $0x1b1b1b1b, %%ebx\n\t"
        "movl $0x5e5e5e5e, %%esi\n\t"
        "movl $0xd1d1d1d1, %%edi\n\t"
        "movl $0xb0b0b0b0, %%ebp\n\t"
        "pushl $0\n\t"
        "pushl $-1\n\t"
        "pushl $0x22\n\t"
        "pushl $3\n\t"
        "pushl $4096\n\t"
        "pushl $0\n\t"
        "call mmap\n\t"
        "addl $24, %%esp\n\t"
        "movl %%ebp, %%ecx\n\t"
        "popl %%ebp"
        : "=a"(result), "=c"(after.ebp), "=b"(after.ebx), "=S"(after.esi), "=D"(after.edi)
        :
        : "edx", "memory");
    return result;
}

void check_registers_survive() {
    Registers after{};
    void *page = mmap_with_known_registers(after);
    CHECK(page != MAP_FAILED);
    CHECK_EQ(after.ebx, 0x1b1b1b1bu);
    CHECK_EQ(after.esi, 0x5e5e5e5eu);
    CHECK_EQ(after.edi, 0xd1d1d1d1u);
    CHECK_EQ(after.ebp, 0xb0b0b0b0u);
    CHECK_EQ(munmap(page, 4096), 0);
}

void check_memory_is_usable() {
    auto *bytes = static_cast<unsigned char *>(mmap(nullptr, 3 * 4096, kReadWrite, kPrivateAnonymous, -1, 0));
    CHECK(bytes != MAP_FAILED);
    CHECK_EQ(reinterpret_cast<uintptr_t>(bytes) % 4096, 0u);
    CHECK_EQ(bytes[0], 0);
    CHECK_EQ(bytes[3 * 4096 - 1], 0);
    bytes[5000] = 0x5a;
    CHECK_EQ(bytes[5000], 0x5a);
    // The same address as a hint, once it is free again.
    CHECK_EQ(munmap(bytes, 3 * 4096), 0);
    CHECK(mmap(bytes, 4096, kReadWrite, kPrivateAnonymous, -1, 0) == bytes);
    // Only whole mappings made by mmap can be released.
    CHECK_EQ(munmap(bytes + 4096, 4096), -1);
    CHECK_EQ(munmap(reinterpret_cast<void *>(&g_check_failures), 4096), -1);
    CHECK_EQ(munmap(bytes, 4096), 0);
}

void check_refusals() {
    CHECK(mmap(nullptr, 0, kReadWrite, kPrivateAnonymous, -1, 0) == MAP_FAILED);
    CHECK(mmap(nullptr, 4096, kReadWrite, 0x2, 3, 0) == MAP_FAILED);                        // files are not mapped
    CHECK(mmap(nullptr, 0x7fffffffu, kReadWrite, kPrivateAnonymous, -1, 0) == MAP_FAILED);  // too much
    CHECK(mmap(nullptr, 4096, 0x10, kPrivateAnonymous, -1, 0) == MAP_FAILED);               // unknown protection
}

constexpr unsigned kPage = 4096;

void *map_page(void *hint) { return mmap(hint, kPage, kReadWrite, kPrivateAnonymous, -1, 0); }

// Adjacent one-page mappings share the kernel's pieces of memory: thousands
// of them are granted, each page stays its own, and all of them are
// released.
void check_many_adjacent_mappings() {
    constexpr unsigned kPages = 5000;
    static unsigned char *pages[kPages];
    unsigned mapped = 0;
    while (mapped < kPages && (pages[mapped] = static_cast<unsigned char *>(map_page(nullptr))) != MAP_FAILED) mapped++;
    CHECK_EQ(mapped, kPages);
    for (unsigned i = 0; i < mapped; i++) pages[i][i % kPage] = static_cast<unsigned char>(i);
    unsigned intact = 0;
    for (unsigned i = 0; i < mapped; i++) intact += pages[i][i % kPage] == static_cast<unsigned char>(i);
    CHECK_EQ(intact, mapped);
    unsigned released = 0;
    for (unsigned i = 0; i < mapped; i++) released += munmap(pages[i], kPage) == 0;
    CHECK_EQ(released, mapped);
}

// Pages with holes between them each need a piece of their own: the kernel
// refuses one well before the emulator would break, and after
// a release mapping works again.
void check_scattered_mappings_are_refused_in_time() {
    constexpr unsigned kAttempts = 5000;
    static void *pages[kAttempts];
    auto *base = reinterpret_cast<unsigned char *>(0x50000000u);
    unsigned mapped = 0;
    while (mapped < kAttempts && (pages[mapped] = map_page(base + 2u * kPage * mapped)) == base + 2u * kPage * mapped)
        mapped++;
    CHECK(mapped >= 400);
    CHECK(mapped < kAttempts);
    CHECK(pages[mapped] == MAP_FAILED);
    for (unsigned i = 0; i < mapped; i++) CHECK_EQ(munmap(pages[i], kPage), 0);
    void *again = map_page(nullptr);
    CHECK(again != MAP_FAILED);
    CHECK_EQ(munmap(again, kPage), 0);
}

// Releasing every other page of a long run splits it: once that would take
// too many pieces, munmap fails and the page stays mapped with its
// contents; nothing else is disturbed, and a released page faults no more
// than it reads back.
void check_releases_that_split_too_far_are_refused() {
    constexpr int kPages = 2000;
    static unsigned char *pages[kPages];
    for (int i = 0; i < kPages; i++) {
        pages[i] = static_cast<unsigned char *>(map_page(nullptr));
        CHECK(pages[i] != MAP_FAILED);
        pages[i][0] = 0xa5;
    }
    int refused_at = -1;
    for (int i = 1; i < kPages && refused_at < 0; i += 2) {
        if (munmap(pages[i], kPage) != 0) refused_at = i;
    }
    CHECK(refused_at > 0);
    CHECK_EQ(pages[refused_at][0], 0xa5);
    CHECK(map_page(pages[1]) == pages[1]);  // released pages are free again
    CHECK_EQ(pages[1][0], 0);
    for (int i = 0; i < kPages; i++) {
        if (i % 2 == 0 || i >= refused_at || i == 1) CHECK_EQ(munmap(pages[i], kPage), 0);
    }
}

// Two buffers 4 MiB apart share the emulator's TLB entries until the TLB
// grows, which it does while the program runs; every word must arrive, in
// every round, whatever happens to the TLB in between.
void check_copies_between_buffers_sharing_tlb_entries() {
    constexpr uint32_t kApart = 4u << 20, kWords = kApart / 4;
    auto *source = static_cast<uint32_t *>(mmap(nullptr, 2 * kApart, kReadWrite, kPrivateAnonymous, -1, 0));
    CHECK(source != MAP_FAILED);
    uint32_t *target = source + kWords;
    for (uint32_t round = 0; round < 4; round++) {
        for (uint32_t i = 0; i < kWords; i++) source[i] = i * 2654435761u + round;
        for (uint32_t i = 0; i < kWords; i++) target[i] = source[i] ^ round;
        uint32_t wrong = 0;
        for (uint32_t i = 0; i < kWords; i++) wrong += target[i] != ((i * 2654435761u + round) ^ round);
        CHECK_EQ(wrong, 0u);
    }
    CHECK_EQ(munmap(source, 2 * kApart), 0);
}

}  // namespace

extern "C" int main() {
    check_copies_between_buffers_sharing_tlb_entries();
    check_registers_survive();
    check_memory_is_usable();
    check_refusals();
    check_many_adjacent_mappings();
    check_scattered_mappings_are_refused_in_time();
    check_releases_that_split_too_far_are_refused();
    return check_done();
}
