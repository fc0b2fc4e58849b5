/* A small record parser with a planted out-of-bounds store, fuzzed under
 * kivrun as AFL++'s target (the AFL++ host test, `make fuzz-example`) and
 * built natively with afl-clang-fast for comparison: plain C that both
 * systems compile.
 *
 * fx_fuzz_parser [--once] [FILE]: parses FILE, or standard input; without
 * --once, inside the persistent fuzzing loop (KIVOS_FUZZ_LOOP, or AFL++'s
 * own __AFL_LOOP when afl-clang-fast builds it).
 *
 * The input is records: a type byte, a length byte, that many payload bytes.
 *   'A'  adds the payload's bytes to a sum
 *   'S'  slot, value: sets one of the slots (checked)
 *   'G'  slot: counts again when the slot is set (what an execution left
 *        behind shows in the next one's coverage)
 *   0xb7 index (4 bytes, little-endian), value, spare: sets the byte at
 *        index from the slots, unchecked: the planted fault
 *   'H'  "ang": never ends
 *   'X'  "bort": abort() */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#ifdef __AFL_LOOP
#define FUZZ_LOOP(count) __AFL_LOOP(count)
#else
#include <kivos/fuzz.h>
#define FUZZ_LOOP(count) KIVOS_FUZZ_LOOP(count)
#endif

enum { kMaxInput = 4096, kSlots = 64, kLoopCount = 10000, kPlantedType = 0xb7, kPlantedLength = 6 };

static unsigned char g_input[kMaxInput];
static unsigned char g_slots[kSlots];
static volatile unsigned g_sum;

static unsigned little_endian_word(const unsigned char *bytes) {
    return bytes[0] | (unsigned)bytes[1] << 8 | (unsigned)bytes[2] << 16 | (unsigned)bytes[3] << 24;
}

static void handle(unsigned type, const unsigned char *payload, unsigned length) {
    switch (type) {
    case 'A':
        for (unsigned i = 0; i < length; i++) g_sum += payload[i];
        break;
    case 'S':
        if (length == 2 && payload[0] < kSlots) g_slots[payload[0]] = payload[1];
        break;
    case 'G':
        if (length == 1 && payload[0] < kSlots && g_slots[payload[0]] != 0) g_sum += 2;
        break;
    case kPlantedType:
        if (length == kPlantedLength) g_slots[little_endian_word(payload)] = payload[4];
        break;
    case 'H':
        if (length == 3 && memcmp(payload, "ang", 3) == 0)
            for (;;) g_sum++;
        break;
    case 'X':
        if (length == 4 && memcmp(payload, "bort", 4) == 0) abort();
        break;
    }
}

static void parse(const unsigned char *input, unsigned size) {
    unsigned at = 0;
    while (at + 2 <= size) {
        unsigned type = input[at], length = input[at + 1];
        if (length > size - at - 2) return;
        handle(type, input + at + 2, length);
        at += 2 + length;
    }
}

static unsigned read_input(int fd) {
    unsigned total = 0;
    while (total < kMaxInput) {
        int got = (int)read(fd, g_input + total, kMaxInput - total);
        if (got <= 0) break;
        total += (unsigned)got;
    }
    return total;
}

static int parse_one(const char *path) {
    int fd = path != 0 ? open(path, O_RDONLY) : 0;
    if (fd < 0) return 2;
    unsigned size = read_input(fd);
    if (path != 0) close(fd);
    parse(g_input, size);
    return 0;
}

int main(int argc, char **argv) {
    int once = argc > 1 && strcmp(argv[1], "--once") == 0;
    const char *path = argc > 1 + once ? argv[1 + once] : 0;
    if (once) return parse_one(path);
    int status = 0;
    while (FUZZ_LOOP(kLoopCount)) status = parse_one(path);
    return status;
}
