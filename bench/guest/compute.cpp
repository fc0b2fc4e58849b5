// Compute kernels for timing the emulator's own work, one per run, picked
// by argv[1]: crc32 (byte-wise over 2 MiB), sieve (primes below 1 Mi, byte
// flags), heapsort (128 Ki words), fib (recursive, fib(31)). The result
// goes to a global, so the compiler keeps the work.
#include <stdint.h>
#include <string.h>

namespace {

constexpr uint32_t kCrcBytes = 2u << 20;
constexpr uint32_t kCrcPolynomial = 0xedb88320;
constexpr uint32_t kSieveLimit = 1u << 20;
constexpr uint32_t kSortWords = 128u << 10;
constexpr uint32_t kFibArgument = 31;

uint8_t g_bytes[kCrcBytes > kSieveLimit ? kCrcBytes : kSieveLimit];
uint32_t g_words[kSortWords];

uint32_t crc32() {
    for (uint32_t i = 0; i < kCrcBytes; i++) g_bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    uint32_t crc = 0xffffffff;
    for (uint32_t i = 0; i < kCrcBytes; i++) {
        crc ^= g_bytes[i];
        for (int bit = 0; bit < 8; bit++) crc = (crc >> 1) ^ (kCrcPolynomial & (0u - (crc & 1)));
    }
    return ~crc;
}

uint32_t sieve() {
    uint32_t primes = 0;
    for (uint32_t n = 2; n < kSieveLimit; n++) {
        if (g_bytes[n] != 0) continue;
        primes++;
        for (uint32_t multiple = n * 2; multiple < kSieveLimit; multiple += n) g_bytes[multiple] = 1;
    }
    return primes;
}

void sift_down(uint32_t *words, uint32_t at, uint32_t size) {
    for (uint32_t child; (child = 2 * at + 1) < size; at = child) {
        if (child + 1 < size && words[child + 1] > words[child]) child++;
        if (words[at] >= words[child]) return;
        uint32_t swapped = words[at];
        words[at] = words[child];
        words[child] = swapped;
    }
}

uint32_t heapsort() {
    uint32_t state = 12345;
    for (uint32_t &word : g_words) word = state = state * 1103515245 + 12345;
    for (uint32_t at = kSortWords / 2; at-- > 0;) sift_down(g_words, at, kSortWords);
    for (uint32_t end = kSortWords - 1; end > 0; end--) {
        uint32_t largest = g_words[0];
        g_words[0] = g_words[end];
        g_words[end] = largest;
        sift_down(g_words, 0, end);
    }
    return g_words[kSortWords / 2];
}

uint32_t fib(uint32_t n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); }

struct Kernel {
    const char *name;
    uint32_t (*run)();
};

constexpr Kernel kKernels[] = {
    {"crc32", crc32},
    {"sieve", sieve},
    {"heapsort", heapsort},
    {"fib", [] { return fib(kFibArgument); }},
};

}  // namespace

// Visible outside this unit, so the work cannot be dropped.
extern "C" uint32_t g_result;
uint32_t g_result;

extern "C" int main(int argc, char **argv) {
    for (const Kernel &kernel : kKernels) {
        if (argc > 1 && strcmp(argv[1], kernel.name) == 0) {
            g_result = kernel.run();
            return 0;
        }
    }
    return 2;
}
