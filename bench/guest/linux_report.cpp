// nicsounder's report as a Linux i386 program, for timing the same work under
// qemu-i386: the same five lines from the same formats and the simulated
// controller's fields, written the way the kivos runtime writes them (each
// ordinary or padding character in a write of its own, a number's digits or a
// text in one), so both make the same 64 writes.
#include <stdarg.h>
#include <stdint.h>

#include "linux_i386.h"

namespace {

struct Nic {
    uint8_t bus, device, function;
    uint32_t mmio_base;
    uint8_t mac[6];
    bool link;
};
constexpr Nic kSimulatedNic = {0x00, 0x03, 0, 0xfebc0000, {0x52, 0x54, 0x00, 0x12, 0x34, 0x56}, true};
constexpr int kStdout = 1;
constexpr uint32_t kMaxDigits = 10;

void put(const char *bytes, uint32_t length) { linux_write(kStdout, bytes, length); }

uint32_t text_length(const char *text) {
    uint32_t length = 0;
    while (text[length] != '\0') length++;
    return length;
}

void put_text(const char *text) { put(text, text_length(text)); }

void put_line(const char *text) {
    put_text(text);
    put("\n", 1);
}

void put_number(uint32_t value, uint32_t base, uint32_t width) {
    char digits[kMaxDigits];
    char *first = digits + kMaxDigits;
    do {
        *--first = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    uint32_t count = static_cast<uint32_t>(digits + kMaxDigits - first);
    for (; width > count; width--) put("0", 1);
    put(first, count);
}

// The directives the report uses: %s, %d and %0Nx.
void print(const char *format, ...) {
    va_list args;
    va_start(args, format);
    for (const char *p = format; *p != '\0'; p++) {
        if (*p != '%') {
            put(p, 1);
            continue;
        }
        uint32_t width = 0;
        for (p++; *p >= '0' && *p <= '9'; p++) width = width * 10 + static_cast<uint32_t>(*p - '0');
        if (*p == 's') put_text(va_arg(args, const char *));
        else put_number(va_arg(args, uint32_t), *p == 'x' ? 16 : 10, width);
    }
    va_end(args);
}

}  // namespace

extern "C" int main() {
    const Nic &nic = kSimulatedNic;
    put_line("E1000 Probe Results:");
    print("  PCI: %02x:%02x.%d\n", unsigned{nic.bus}, unsigned{nic.device}, unsigned{nic.function});
    print("  MMIO Base: 0x%08x\n", nic.mmio_base);
    print("  MAC: %02x:%02x:%02x:%02x:%02x:%02x\n", unsigned{nic.mac[0]}, unsigned{nic.mac[1]}, unsigned{nic.mac[2]},
          unsigned{nic.mac[3]}, unsigned{nic.mac[4]}, unsigned{nic.mac[5]});
    print("  Link: %s\n", nic.link ? "UP" : "DOWN");
    return 0;
}
