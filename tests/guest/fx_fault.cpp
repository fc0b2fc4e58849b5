// Misbehaves in the way argv[1] names, for the host to check that the
// stand-in stops it with a clean report.
#include "check.h"
#include "fcntl.h"

namespace {

volatile int g_zero = 0;
const unsigned char kReturn[] = {0xc3};

// FAULT_SITE(name) labels the next instruction fault_site_<name>: the host
// finds it in the symbol table and expects the report to name it. The
// instructions before each site run in the same block and change registers
// and memory, so a report at the block's start, or one that repeated them,
// would show.
#define FAULT_SITE(name) ".globl fault_site_" #name "\nfault_site_" #name ":\n\t"
// Functions holding a site must exist exactly once.
#define ONE_COPY __attribute__((noipa))

volatile unsigned g_before;

ONE_COPY int privileged() {
    asm volatile("incl %0\n\t" FAULT_SITE(hlt) "hlt" : "+m"(g_before));
    return 0;
}
ONE_COPY int interrupts_off() {
    asm volatile("incl %0\n\t" FAULT_SITE(cli) "cli" : "+m"(g_before));
    return 0;
}
ONE_COPY int port_io() {
    asm volatile("incl %0\n\t" FAULT_SITE(in) "inb $0x60, %%al" : "+m"(g_before)::"eax");
    return 0;
}
ONE_COPY int null_read() {
    asm volatile("movl %1, %%ecx\n\tincl %0\n\t" FAULT_SITE(null_read) "movl (%%ecx), %%eax"
                 : "+m"(g_before)
                 : "m"(g_zero)
                 : "eax", "ecx");
    return 0;
}
ONE_COPY int null_write() {
    asm volatile("movl %1, %%ecx\n\tincl %0\n\t" FAULT_SITE(null_write) "movl %%eax, 8(%%ecx)"
                 : "+m"(g_before)
                 : "m"(g_zero)
                 : "ecx", "memory");
    return 0;
}
ONE_COPY int divide() {
    asm volatile("movl $100, %%eax\n\txorl %%edx, %%edx\n\tincl %0\n\t" FAULT_SITE(divide) "divl %1"
                 : "+m"(g_before)
                 : "m"(g_zero)
                 : "eax", "edx");
    return 0;
}
ONE_COPY int undefined() {
    asm volatile("incl %0\n\t" FAULT_SITE(ud2) "ud2" : "+m"(g_before));
    return 0;
}
// A far jump through a register: invalid on the CPU, and an instruction
// some versions of the emulator's code generator cannot translate.
ONE_COPY int far_jump_through_register() {
    asm volatile("incl %0\n\t" FAULT_SITE(far_jump_register) ".byte 0xff, 0xef" : "+m"(g_before));
    return 0;
}
ONE_COPY int fast_system_call() {
    asm volatile("incl %0\n\t" FAULT_SITE(sysenter) "sysenter" : "+m"(g_before));
    return 0;
}
ONE_COPY int long_mode_system_call() {
    asm volatile("incl %0\n\t" FAULT_SITE(syscall) "syscall" : "+m"(g_before));
    return 0;
}
ONE_COPY int breakpoint() {
    asm volatile("incl %0\n\t" FAULT_SITE(int3) "int3" : "+m"(g_before));
    return 0;
}
ONE_COPY int other_interrupt() {
    asm volatile("incl %0\n\t" FAULT_SITE(int21) "int $0x21" : "+m"(g_before));
    return 0;
}
ONE_COPY int kernel_memory() {
    asm volatile("movl $0xc0000800, %%ecx\n\tincl %0\n\t" FAULT_SITE(kernel) "movl (%%ecx), %%eax"
                 : "+m"(g_before)::"eax", "ecx");
    return 0;
}
// Loads the kernel's data selector (Linux's, privilege 0) into DS.
ONE_COPY int kernel_selector() {
    asm volatile("movw $0x68, %%ax\n\tincl %0\n\t" FAULT_SITE(kernel_selector) "movw %%ax, %%ds"
                 : "+m"(g_before)::"eax");
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
        "2:" ::
            : "eax", "memory");
    check_say("reloaded\n");
    return 0;
}
ONE_COPY int write_code() {
    asm volatile("incl %0\n\t" FAULT_SITE(write_code) "movb $0x90, (%1)"
                 : "+m"(g_before)
                 : "r"(reinterpret_cast<uintptr_t>(&privileged))
                 : "memory");
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
constexpr unsigned kPage = 4096;
void *map_pages(unsigned count, int protection) { return mmap(nullptr, count * kPage, protection, 0x22, -1, 0); }
// Three adjacent pages share one piece of the kernel's memory; the middle
// one, once released, must fault like any unmapped page, even after it was
// read while mapped.
ONE_COPY int freed_page() {
    unsigned char *pages[3];
    for (auto &page : pages) page = static_cast<unsigned char *>(map_pages(1, 3));
    check_say_number(*reinterpret_cast<volatile unsigned char *>(pages[1]));
    munmap(pages[1], kPage);
    pages[2][0] = 1;
    asm volatile("incl %0\n\t" FAULT_SITE(freed_page) "movzbl (%1), %%eax" : "+m"(g_before) : "r"(pages[1]) : "eax");
    return 0;
}
// Memory mapped for reading and writing only must not run, even once
// written through.
int execute_mapped_data() {
    auto *page = static_cast<unsigned char *>(map_pages(1, 3));
    page[0] = kReturn[0];
    reinterpret_cast<void (*)()>(reinterpret_cast<uintptr_t>(page))();
    return 0;
}
// A string copy whose destination runs off its page: the copy stops at the
// first byte past it, having copied the ones before.
ONE_COPY int copy_off_the_page() {
    auto *page = static_cast<char *>(map_pages(1, 3));
    char *destination = page + kPage - 3;
    asm volatile("incl %0\n\t" FAULT_SITE(copy_off_the_page) "rep movsb"
                 : "+m"(g_before), "+D"(destination)
                 : "S"("abcdefgh"), "c"(8)
                 : "memory");
    return 0;
}
// A push onto a stack moved below every mapping.
ONE_COPY int push_off_the_stack() {
    asm volatile("movl %%esp, %%ebx\n\tmovl $0x10000, %%esp\n\tincl %0\n\t" FAULT_SITE(push) "pushl %%ebx\n\t"
                 "movl %%ebx, %%esp"
                 : "+m"(g_before)::"ebx", "memory");
    return 0;
}
// Two adjacent pages, the second with `protection`: the first page
// (readable, writable, executable) or nullptr. Prints the address the
// report must name ("site N"), `from_end` bytes before the second page.
unsigned char *page_before(int protection, unsigned from_end) {
    constexpr int kAll = 7;
    auto *first = static_cast<unsigned char *>(map_pages(1, kAll));
    if (mmap(first + kPage, kPage, protection, 0x22, -1, 0) != first + kPage) return nullptr;
    check_say("site ");
    check_say_number(reinterpret_cast<uintptr_t>(first + kPage - from_end));
    check_say("\n");
    return first;
}
// Straight-line code that ends where a page the program may not execute
// begins: what comes before that page runs, and the fault names the
// instruction that faulted (`from_end` bytes before the page).
int run_before_data(const unsigned char *code, unsigned length, unsigned from_end) {
    constexpr int kReadWrite = 3;
    unsigned char *page = page_before(kReadWrite, from_end);
    if (page == nullptr) return 2;
    unsigned char *start = page + kPage - length;
    for (unsigned i = 0; i < length; i++) start[i] = code[i];
    reinterpret_cast<void (*)()>(reinterpret_cast<uintptr_t>(start))();
    return 0;
}
// xor %edx,%edx; mov $100,%eax; xor %ecx,%ecx; div %ecx
int divide_before_data() {
    const unsigned char kCode[] = {0x31, 0xd2, 0xb8, 100, 0, 0, 0, 0x31, 0xc9, 0xf7, 0xf1};
    return run_before_data(kCode, sizeof kCode, 2);
}
// xor %ecx,%ecx; mov %eax,8(%ecx)
int store_before_data() {
    const unsigned char kCode[] = {0x31, 0xc9, 0x89, 0x41, 0x08};
    return run_before_data(kCode, sizeof kCode, 3);
}
int nops_before_data() {
    const unsigned char kCode[] = {0x90, 0x90, 0x90, 0x90};
    return run_before_data(kCode, sizeof kCode, 0);
}
// A four-byte store whose last two bytes fall on a read-only page: the
// report names the first of them.
int store_into_read_only() {
    constexpr int kRead = 1;
    unsigned char *page = page_before(kRead, 0);
    if (page == nullptr) return 2;
    *reinterpret_cast<volatile uint32_t *>(page + kPage - 2) = 0x01020304;
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
    {"exec-mapped-data", execute_mapped_data},
    {"copy-off-the-page", copy_off_the_page},
    {"push", push_off_the_stack},
    {"divide-before-data", divide_before_data},
    {"store-before-data", store_before_data},
    {"nops-before-data", nops_before_data},
    {"store-into-read-only", store_into_read_only},
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
