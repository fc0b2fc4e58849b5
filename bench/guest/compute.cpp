// The compute suite: one kind of work each, chosen by argv[1], ending in one
// line with a checksum of the result (both sides of a comparison must print
// the same). The same source runs as a kivos program and as its Linux twin,
// so both execute the same instructions; only the kernel below differs.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace {

// One arena for every kind of work, in the program's bss.
constexpr uint32_t kArenaBytes = 16u << 20;
alignas(16) uint8_t g_arena[kArenaBytes];

uint32_t next_random(uint32_t &state) {
    state = state * 1664525u + 1013904223u;
    return state;
}

void fill_random(uint32_t *words, uint32_t count) {
    uint32_t state = 1;
    for (uint32_t i = 0; i < count; i++) words[i] = next_random(state);
}

// Byte loads and table lookups.
uint32_t crc32_arena() {
    uint32_t table[256];
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; bit++) c = (c & 1) != 0 ? 0xedb88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    fill_random(reinterpret_cast<uint32_t *>(g_arena), kArenaBytes / 4);
    uint32_t crc = 0xffffffffu;
    for (uint32_t i = 0; i < kArenaBytes; i++) crc = table[(crc ^ g_arena[i]) & 0xff] ^ (crc >> 8);
    return ~crc;
}

// Strided byte stores.
uint32_t sieve() {
    constexpr uint32_t kLimit = 4u << 20;
    uint8_t *composite = g_arena;
    for (uint32_t p = 2; p * p < kLimit; p++) {
        if (composite[p] != 0) continue;
        for (uint32_t multiple = p * p; multiple < kLimit; multiple += p) composite[multiple] = 1;
    }
    uint32_t primes = 0;
    for (uint32_t n = 2; n < kLimit; n++) primes += composite[n] == 0;
    return primes;
}

void sift_down(uint32_t *heap, uint32_t root, uint32_t count) {
    for (uint32_t child; (child = 2 * root + 1) < count; root = child) {
        if (child + 1 < count && heap[child] < heap[child + 1]) child++;
        if (heap[root] >= heap[child]) return;
        uint32_t swapped = heap[root];
        heap[root] = heap[child];
        heap[child] = swapped;
    }
}

// Word loads and stores in a data-dependent order.
uint32_t heapsort() {
    constexpr uint32_t kWords = 512u << 10;
    auto *words = reinterpret_cast<uint32_t *>(g_arena);
    fill_random(words, kWords);
    for (uint32_t root = kWords / 2; root-- > 0;) sift_down(words, root, kWords);
    for (uint32_t end = kWords - 1; end > 0; end--) {
        uint32_t largest = words[0];
        words[0] = words[end];
        words[end] = largest;
        sift_down(words, 0, end);
    }
    uint32_t sum = 0;
    for (uint32_t i = 1; i < kWords; i++) sum += words[i - 1] <= words[i] ? words[i] ^ i : 0x80000000u;
    return sum;
}

// Calls and returns, kept as calls.
__attribute__((noipa)) uint32_t fibonacci(uint32_t n) { return n < 2 ? n : fibonacci(n - 1) + fibonacci(n - 2); }

volatile uint32_t g_fibonacci_of = 30;

uint32_t calls() { return fibonacci(g_fibonacci_of); }

constexpr uint32_t kCopyBytes = 4u << 20;
constexpr uint32_t kCopies = 8;

uint32_t copy_checksum(const uint8_t *copy) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kCopyBytes; i += 4093) sum = sum * 31 + copy[i];
    return sum;
}

// 32 MiB in all, a byte at a time by the string instruction.
uint32_t copy_by_movsb() {
    uint8_t *source = g_arena, *target = g_arena + kCopyBytes;
    fill_random(reinterpret_cast<uint32_t *>(source), kCopyBytes / 4);
    for (uint32_t round = 0; round < kCopies; round++) {
        source[round] = static_cast<uint8_t>(round);
        void *to = target;
        const void *from = source;
        uint32_t count = kCopyBytes;
        asm volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(count) : : "memory");
    }
    return copy_checksum(target);
}

// 32 MiB in all, by the library's memcpy.
uint32_t copy_by_memcpy() {
    uint8_t *source = g_arena, *target = g_arena + kCopyBytes;
    fill_random(reinterpret_cast<uint32_t *>(source), kCopyBytes / 4);
    for (uint32_t round = 0; round < kCopies; round++) {
        source[round] = static_cast<uint8_t>(round);
        memcpy(target, source, kCopyBytes);
    }
    return copy_checksum(target);
}

// Formatting onto the console: the library writes each piece of a line
// with a call of its own.
uint32_t formatted_lines() {
    constexpr uint32_t kLines = 20000;
    uint32_t state = 7;
    for (uint32_t line = 0; line < kLines; line++)
        printf("%6u %08x %s|%5d\n", line, next_random(state), line % 3 == 0 ? "abc" : "z", -static_cast<int>(line));
    return state;
}

// Empty writes: the cost of a round trip into the kernel and back.
uint32_t system_calls() {
    constexpr uint32_t kCalls = 200000;
    uint32_t answered = 0;
    for (uint32_t call = 0; call < kCalls; call++) answered += write(1, g_arena, 0) == 0;
    return answered;
}

struct Work {
    const char *name;
    uint32_t (*run)();
};

constexpr Work kWorks[] = {
    {"crc32", crc32_arena},   {"sieve", sieve},           {"heapsort", heapsort},      {"calls", calls},
    {"movsb", copy_by_movsb}, {"memcpy", copy_by_memcpy}, {"printf", formatted_lines}, {"syscalls", system_calls},
};

}  // namespace

extern "C" int main(int argc, char **argv) {
    for (const Work &work : kWorks) {
        if (argc < 2 || strcmp(argv[1], work.name) != 0) continue;
        printf("%s %08x\n", work.name, work.run());
        return 0;
    }
    printf("usage: compute crc32|sieve|heapsort|calls|movsb|memcpy|printf|syscalls\n");
    return 2;
}
