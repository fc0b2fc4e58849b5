// The heap suite: one kind of allocation work each, chosen by argv[1],
// ending in one line with a checksum. Built three ways: as a kivos program
// with the arena heap and with the mmap heap, and as a static Linux i386
// program with glibc's own malloc (this source then sees glibc's headers).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

uint32_t next_random(uint32_t &state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Mostly small blocks, one in 64 up to 64 KiB.
uint32_t random_size(uint32_t &state) {
    uint32_t r = next_random(state);
    return r % 64 == 0 ? 1024 + r % (64u << 10) : 8 + r % 500;
}

// 8,000 small blocks, none freed: about 0.5 MiB, within the arena.
uint32_t fill() {
    constexpr uint32_t kBlocks = 8000;
    uint32_t state = 1, sum = 0;
    for (uint32_t i = 0; i < kBlocks; i++) {
        uint32_t size = 8 + next_random(state) % 120;
        auto *block = static_cast<uint8_t *>(malloc(size));
        if (block == nullptr) return 0;
        block[0] = static_cast<uint8_t>(i);
        block[size - 1] = static_cast<uint8_t>(size);
        sum += block[0] + block[size - 1];
    }
    return sum;
}

// 1,000,000 random steps over 1,024 slots: an empty slot gets a block, a
// full one is freed. About 1 GB allocated in all, a few MiB live at once.
uint32_t churn() {
    constexpr uint32_t kSlots = 1024, kSteps = 1000000;
    static uint8_t *slots[kSlots];
    uint32_t state = 2, sum = 0;
    for (uint32_t step = 0; step < kSteps; step++) {
        uint32_t slot = next_random(state) % kSlots;
        if (slots[slot] != nullptr) {
            sum = sum * 31 + slots[slot][0];
            free(slots[slot]);
            slots[slot] = nullptr;
            continue;
        }
        uint32_t size = random_size(state);
        slots[slot] = static_cast<uint8_t *>(malloc(size));
        if (slots[slot] == nullptr) return 0;
        slots[slot][0] = static_cast<uint8_t>(step);
        slots[slot][size - 1] = 0;
    }
    return sum;
}

// 256 buffers, each grown by realloc in 64-byte steps to 16 KiB, in turn.
uint32_t grow() {
    constexpr uint32_t kBuffers = 256, kStep = 64, kFinal = 16u << 10;
    static uint8_t *buffers[kBuffers];
    uint32_t sum = 0;
    for (uint32_t size = kStep; size <= kFinal; size += kStep) {
        for (uint32_t i = 0; i < kBuffers; i++) {
            auto *grown = static_cast<uint8_t *>(realloc(buffers[i], size));
            if (grown == nullptr) return 0;
            grown[size - 1] = static_cast<uint8_t>(i + size);
            buffers[i] = grown;
        }
    }
    for (uint32_t i = 0; i < kBuffers; i++) {
        sum = sum * 31 + buffers[i][kStep - 1] + buffers[i][kFinal - 1];
        free(buffers[i]);
    }
    return sum;
}

struct Work {
    const char *name;
    uint32_t (*run)();
};

constexpr Work kWorks[] = {{"fill", fill}, {"churn", churn}, {"grow", grow}};

}  // namespace

int main(int argc, char **argv) {
    for (const Work &work : kWorks) {
        if (argc < 2 || strcmp(argv[1], work.name) != 0) continue;
        printf("%s %08x\n", work.name, static_cast<unsigned>(work.run()));
        return 0;
    }
    printf("usage: heap_work fill|churn|grow\n");
    return 2;
}
