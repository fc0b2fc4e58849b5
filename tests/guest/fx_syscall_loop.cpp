// Makes N system calls, N given in decimal as the first argument (0 when
// absent): each a write of 0 bytes, which the kernel answers without any
// host I/O, so the time taken is the system-call path itself. Timed against
// N = 0 to leave out loading and start-up.
#include "unistd.h"

namespace {

unsigned parse_count(const char *text) {
    unsigned count = 0;
    for (; *text >= '0' && *text <= '9'; text++) count = count * 10 + static_cast<unsigned>(*text - '0');
    return count;
}

}  // namespace

extern "C" int main(int argc, char **argv) {
    static const char kNothing[1] = {0};
    unsigned count = argc > 1 ? parse_count(argv[1]) : 0;
    for (unsigned i = 0; i < count; i++) write(1, kNothing, 0);
    return 0;
}
