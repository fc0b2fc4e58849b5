// Prints the machine state the program started in, before anything of its
// own touched the x87 unit or SSE: with "spawn" it first has /fx_machine
// (the host copies it there) print its own, as a spawned child. The
// arithmetic flags are left out of EFLAGS: start-up code changes them.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "unistd.h"

namespace {

constexpr uint32_t kArithmeticFlags = 0x8d5;

struct Cpuid {
    uint32_t eax, ebx, ecx, edx;
};

Cpuid cpuid(uint32_t leaf) {
    Cpuid answer;
    asm volatile("cpuid" : "=a"(answer.eax), "=b"(answer.ebx), "=c"(answer.ecx), "=d"(answer.edx) : "a"(leaf), "c"(0));
    return answer;
}

uint16_t selector_cs() {
    uint16_t value;
    asm volatile("movw %%cs, %0" : "=r"(value));
    return value;
}
#define SELECTOR_READER(name)                               \
    uint16_t selector_##name() {                            \
        uint16_t value;                                     \
        asm volatile("movw %%" #name ", %0" : "=r"(value)); \
        return value;                                       \
    }
SELECTOR_READER(ds)
SELECTOR_READER(es)
SELECTOR_READER(fs)
SELECTOR_READER(gs)
SELECTOR_READER(ss)

void print_state(const char *who) {
    uint16_t control, status, tags;
    uint32_t mxcsr, eflags;
    // fnstenv's third word is the whole tag word (0xffff: all registers empty).
    uint32_t environment[7];
    asm volatile("fnstcw %0\n\tfnstsw %1\n\tstmxcsr %2\n\tfnstenv %3\n\tfldcw %0"
                 : "=m"(control), "=m"(status), "=m"(mxcsr), "=m"(environment));
    tags = static_cast<uint16_t>(environment[2]);
    asm volatile("pushfl\n\tpopl %0" : "=r"(eflags));
    Cpuid vendor = cpuid(0), features = cpuid(1), extended = cpuid(0x80000000u);
    printf(
        "%s: fcw=%04x fsw=%04x ftw=%04x mxcsr=%08x eflags=%08x cs=%04x ds=%04x es=%04x fs=%04x gs=%04x ss=%04x"
        " cpuid0=%08x cpuid1=%08x:%08x:%08x ext=%08x\n",
        who, control, status, tags, mxcsr, eflags & ~kArithmeticFlags, selector_cs(), selector_ds(), selector_es(),
        selector_fs(), selector_gs(), selector_ss(), vendor.eax, features.eax, features.ecx, features.edx,
        extended.eax);
}

}  // namespace

// argv[1]: "spawn" (spawn a child first) or the name to print the state under.
extern "C" int main(int argc, char **argv) {
    const char *role = argc > 1 ? argv[1] : "first";
    if (strcmp(role, "spawn") == 0) {
        char *child[] = {const_cast<char *>("fx_machine"), const_cast<char *>("spawned")};
        int status = -1;
        int pid = spawn_ex("/fx_machine", child, 2, -1, -1, -1, 0);
        if (pid <= 0 || waitpid(pid, &status, 0) != pid || status != 0) return 1;
        role = "first";
    }
    print_state(role);
    return 0;
}
