// Makes N system calls of one kind, N given in decimal as the first argument
// (0 when absent), timed against N = 0 to leave out loading and start-up.
// The second argument names the kind:
//   write            (the default) a write of 0 bytes, which the kernel
//                    answers without any host I/O: the system-call path
//   mmap             one-page mappings, each next to the last
//   mmap-scattered   one-page mappings with a free page between each two
// Mappings are never released, so the last call finds N - 1 of them.
#include <stdint.h>

#include "unistd.h"

namespace {

constexpr unsigned kPage = 4096;
constexpr int kReadWrite = 3;
constexpr int kPrivateAnonymous = 0x22;
constexpr uintptr_t kScatterBase = 0x50000000u;

unsigned parse_count(const char *text) {
    unsigned count = 0;
    for (; *text >= '0' && *text <= '9'; text++) count = count * 10 + static_cast<unsigned>(*text - '0');
    return count;
}

bool same(const char *a, const char *b) {
    while (*a != 0 && *a == *b) a++, b++;
    return *a == *b;
}

bool write_nothing(unsigned) {
    static const char kNothing[1] = {0};
    return write(1, kNothing, 0) == 0;
}

bool map_next(unsigned) { return mmap(nullptr, kPage, kReadWrite, kPrivateAnonymous, -1, 0) != MAP_FAILED; }

bool map_scattered(unsigned i) {
    void *hint = reinterpret_cast<void *>(kScatterBase + 2u * kPage * i);
    return mmap(hint, kPage, kReadWrite, kPrivateAnonymous, -1, 0) == hint;
}

struct Kind {
    const char *name;
    bool (*call)(unsigned i);
};
constexpr Kind kKinds[] = {{"write", write_nothing}, {"mmap", map_next}, {"mmap-scattered", map_scattered}};

}  // namespace

extern "C" int main(int argc, char **argv) {
    unsigned count = argc > 1 ? parse_count(argv[1]) : 0;
    const char *kind = argc > 2 ? argv[2] : "write";
    for (const Kind &each : kKinds) {
        if (!same(each.name, kind)) continue;
        for (unsigned i = 0; i < count; i++)
            if (!each.call(i)) return 1;
        return 0;
    }
    return 2;
}
