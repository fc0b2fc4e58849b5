// Misbehaves in the way argv[1] names, for the host to check that the
// stand-in stops it with a clean report.
#include "check.h"

namespace {

volatile int g_zero = 0;
const unsigned char kReturn[] = {0xc3};

void privileged() { asm volatile("hlt"); }
void interrupts_off() { asm volatile("cli"); }
void port_io() { asm volatile("inb $0x60, %%al" ::: "eax"); }
void null_read() { check_say_number(*reinterpret_cast<volatile int *>(g_zero)); }
void null_write() { *reinterpret_cast<volatile int *>(g_zero + 8) = 1; }
void divide() { check_say_number(100 / g_zero); }
void undefined() { asm volatile("ud2"); }
void breakpoint() { asm volatile("int3"); }
void other_interrupt() { asm volatile("int $0x21"); }
void kernel_memory() { check_say_number(*reinterpret_cast<volatile int *>(0xc0000800u)); }
void write_code() { *reinterpret_cast<volatile unsigned char *>(reinterpret_cast<uintptr_t>(&privileged)) = 0x90; }
void execute_data() { reinterpret_cast<void (*)()>(reinterpret_cast<uintptr_t>(kReturn))(); }
void jump_nowhere() { reinterpret_cast<void (*)()>(0x12345678u)(); }
void spin() {
    for (;;) asm volatile("" ::: "memory");
}
void unknown_call() {
    int32_t result;
    asm volatile("int $0x80" : "=a"(result) : "a"(77), "b"(1), "c"(2), "d"(3) : "memory");
    check_say_number(result);
    check_say("\n");
}

struct Misdeed {
    const char *name;
    void (*run)();
};

constexpr Misdeed kMisdeeds[] = {
    {"hlt", privileged},         {"cli", interrupts_off},     {"in", port_io},
    {"null-read", null_read},    {"null-write", null_write},  {"divide", divide},
    {"ud2", undefined},          {"int3", breakpoint},        {"int21", other_interrupt},
    {"kernel", kernel_memory},   {"write-code", write_code},  {"exec-data", execute_data},
    {"jump", jump_nowhere},      {"spin", spin},              {"unknown-call", unknown_call},
};

}  // namespace

extern "C" int main(int argc, char **argv) {
    if (argc < 2) return 100;
    for (const auto &misdeed : kMisdeeds) {
        if (check_text_equal(argv[1], misdeed.name)) {
            misdeed.run();
            return 0;
        }
    }
    return 101;
}
