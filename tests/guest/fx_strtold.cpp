// Converts each argument with strtold and strtod and prints one line per
// argument: the ten bytes of the extended result in memory order (hex), the
// eight bytes of the double, and each one's end position as an offset.
#include <stdint.h>

#include "stdlib.h"
#include "unistd.h"

namespace {

constexpr int kExtendedBytes = 10;
constexpr char kHexDigits[] = "0123456789abcdef";

char *put_hex(char *out, const void *value, int bytes) {
    const unsigned char *p = static_cast<const unsigned char *>(value);
    for (int i = 0; i < bytes; i++) {
        *out++ = kHexDigits[p[i] >> 4];
        *out++ = kHexDigits[p[i] & 0xf];
    }
    return out;
}

char *put_decimal(char *out, uint32_t value) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) *out++ = digits[--n];
    return out;
}

void report(const char *text) {
    char *extended_end = nullptr;
    char *narrowed_end = nullptr;
    long double extended = strtold(text, &extended_end);
    double narrowed = strtod(text, &narrowed_end);
    char line[64];
    char *out = put_hex(line, &extended, kExtendedBytes);
    *out++ = ' ';
    out = put_hex(out, &narrowed, sizeof narrowed);
    *out++ = ' ';
    out = put_decimal(out, static_cast<uint32_t>(extended_end - text));
    *out++ = ' ';
    out = put_decimal(out, static_cast<uint32_t>(narrowed_end - text));
    *out++ = '\n';
    write(1, line, static_cast<size_t>(out - line));
}

}  // namespace

extern "C" int main(int argc, char **argv) {
    for (int i = 1; i < argc; i++) report(argv[i]);
    return 0;
}
