// Misbehaves in the way argv[1] names, for the host to check that the
// stand-in stops it with a clean report.
#include "check.h"
#include "fcntl.h"

namespace {

volatile int g_zero = 0;
const unsigned char kReturn[] = {0xc3};

int privileged() {
    asm volatile("hlt");
    return 0;
}
int interrupts_off() {
    asm volatile("cli");
    return 0;
}
int port_io() {
    asm volatile("inb $0x60, %%al" ::: "eax");
    return 0;
}
int null_read() {
    check_say_number(*reinterpret_cast<volatile int *>(g_zero));
    return 0;
}
int null_write() {
    *reinterpret_cast<volatile int *>(g_zero + 8) = 1;
    return 0;
}
int divide() {
    check_say_number(100 / g_zero);
    return 0;
}
int undefined() {
    asm volatile("ud2");
    return 0;
}
// A far jump through a register: invalid on the CPU, and an instruction
// the emulator's code generator cannot translate.
int far_jump_through_register() {
    asm volatile(".byte 0xff, 0xef");
    return 0;
}
int fast_system_call() {
    asm volatile("sysenter");
    return 0;
}
int long_mode_system_call() {
    asm volatile("syscall");
    return 0;
}
int breakpoint() {
    asm volatile("int3");
    return 0;
}
int other_interrupt() {
    asm volatile("int $0x21");
    return 0;
}
int kernel_memory() {
    check_say_number(*reinterpret_cast<volatile int *>(0xc0000800u));
    return 0;
}
// Loads the kernel's data selector (privilege 0) into DS.
int kernel_selector() {
    asm volatile("movw $0x20, %%ax\n\tmovw %%ax, %%ds" ::: "eax");
    return 0;
}
// Reloads the program's own selectors in every way user code may: legal,
// the run goes on.
int own_selectors() {
    asm volatile(
        "movl %%ds, %%eax\n\t"
        "movl %%eax, %%ds\n\t"
        "pushl %%ds\n\t"
        "popl %%es\n\t"
        "pushl %%cs\n\t"
        "pushl $1f\n\t"
        "lret\n"
        "1:\n\t"
        "pushfl\n\t"
        "pushl %%cs\n\t"
        "pushl $2f\n\t"
        "iret\n"
        "2:" ::: "eax", "memory");
    check_say("reloaded\n");
    return 0;
}
int write_code() {
    *reinterpret_cast<volatile unsigned char *>(reinterpret_cast<uintptr_t>(&privileged)) = 0x90;
    return 0;
}
int execute_data() {
    reinterpret_cast<void (*)()>(reinterpret_cast<uintptr_t>(kReturn))();
    return 0;
}
int call_null() {
    reinterpret_cast<void (*)()>(g_zero)();
    return 0;
}
int jump_nowhere() {
    reinterpret_cast<void (*)()>(0x12345678u)();
    return 0;
}
// Three adjacent pages share one piece of the kernel's memory; the middle
// one, once released, must fault like any unmapped page.
int freed_page() {
    constexpr unsigned kPage = 4096;
    unsigned char *pages[3];
    for (auto &page : pages) page = static_cast<unsigned char *>(mmap(nullptr, kPage, 3, 0x22, -1, 0));
    munmap(pages[1], kPage);
    pages[2][0] = 1;
    check_say_number(*reinterpret_cast<volatile unsigned char *>(pages[1]));
    return 0;
}
int spin() {
    for (;;) asm volatile("" ::: "memory");
}
// Writes until a write fails; a write the host cannot finish must still
// give way to the time limit.
int fill(int fd) {
    static char block[4096];
    while (write(fd, block, sizeof block) > 0) {
    }
    return 1;
}
int fill_own_pipe() {
    int ends[2];
    return pipe(ends) == 0 ? fill(ends[1]) : 2;
}
int fill_console() { return fill(1); }
int open_fifo_without_reader() {
    mkfifo("fifo");
    return open("fifo", O_WRONLY) < 0 ? 1 : 2;
}
int stream_to_fifo_without_reader() {
    mkfifo("fifo");
    return kivfs_stream_begin("fifo") < 0 ? 1 : 2;
}
// More places spelling rdtsc than the stand-in hooks under --tsc.
int rdtsc_everywhere() {
    asm volatile(".rept 4097\n\trdtsc\n\t.endr" ::: "eax", "edx");
    return 0;
}
int unknown_call() {
    check_say_number(check_raw_call(77, 1, 2, 3));
    check_say("\n");
    return 0;
}

constexpr check_scenario kMisdeeds[] = {
    {"hlt", privileged},
    {"cli", interrupts_off},
    {"in", port_io},
    {"null-read", null_read},
    {"null-write", null_write},
    {"divide", divide},
    {"ud2", undefined},
    {"sysenter", fast_system_call},
    {"far-jump-register", far_jump_through_register},
    {"syscall", long_mode_system_call},
    {"int3", breakpoint},
    {"int21", other_interrupt},
    {"kernel", kernel_memory},
    {"kernel-selector", kernel_selector},
    {"own-selectors", own_selectors},
    {"write-code", write_code},
    {"exec-data", execute_data},
    {"jump", jump_nowhere},
    {"call-null", call_null},
    {"freed-page", freed_page},
    {"spin", spin},
    {"fill-own-pipe", fill_own_pipe},
    {"fill-console", fill_console},
    {"open-fifo", open_fifo_without_reader},
    {"stream-fifo", stream_to_fifo_without_reader},
    {"unknown-call", unknown_call},
    {"rdtsc-everywhere", rdtsc_everywhere},
};

}  // namespace

extern "C" int main(int argc, char **argv) {
    return check_run_scenario(argc, argv, kMisdeeds, CHECK_SCENARIO_COUNT(kMisdeeds));
}
