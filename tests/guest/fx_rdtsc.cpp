// Reads the time-stamp counter four times and prints each EDX:EAX as
// sixteen hex digits on its own line, so a host test can see exactly what
// the CPU answered for each read (more than two reads, since the stand-in's
// way of answering them must hold up for every read, not just the first).
#include <stdint.h>

#include "unistd.h"

namespace {

constexpr int kReads = 4;

uint64_t read_time_stamp() {
    uint32_t low, high;
    asm volatile("rdtsc" : "=a"(low), "=d"(high));
    return (uint64_t{high} << 32) | low;
}

void say_hex64(uint64_t value) {
    constexpr int kDigits = 16;
    char line[kDigits + 1];
    for (int i = kDigits - 1; i >= 0; i--, value >>= 4) line[i] = "0123456789abcdef"[value & 0xf];
    line[kDigits] = '\n';
    write(1, line, sizeof line);
}

}  // namespace

extern "C" int main() {
    uint64_t reads[kReads];
    for (auto &read : reads) read = read_time_stamp();
    for (uint64_t read : reads) say_hex64(read);
    return 0;
}
