/* The native side of the differential test: a static Linux i386 program
 * that reads cases (struct fid_case) from standard input until its end,
 * runs each on this CPU and writes one struct fid_result for each to
 * standard output. A fault ends a case with the signal, the faulting EIP and
 * the general registers at the fault. */
#define _GNU_SOURCE
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include "fidelity_layout.h"

/* Saves the C code's registers where the code page's tail finds them, and
 * enters the code page with the x87 unit as after fninit. */
void fid_enter(void);
__asm__(
    ".globl fid_enter\n"
    "fid_enter:\n\t"
    "pushal\n\t"
    "movl %esp, "
    "0x30000800"
    "\n\t"
    "fninit\n\t"
    "movl $0x31000000, %eax\n\t"
    "jmp *%eax\n");

static sigjmp_buf g_escape;
static struct fid_output *const g_output = (struct fid_output *)FID_OUTPUT;

/* pushal's order against ucontext's. */
static const int kContextRegister[FID_GPRS] = {REG_EDI, REG_ESI, REG_EBP, REG_ESP, REG_EBX, REG_EDX, REG_ECX, REG_EAX};

static void on_fault(int signal, siginfo_t *info, void *context_pointer) {
    (void)info;
    const greg_t *registers = ((ucontext_t *)context_pointer)->uc_mcontext.gregs;
    for (int i = 0; i < FID_GPRS; i++) g_output->gpr[i] = (uint32_t)registers[kContextRegister[i]];
    g_output->eflags = (uint32_t)registers[REG_EFL];
    g_output->signal = signal;
    g_output->fault_eip = (uint32_t)registers[REG_EIP];
    siglongjmp(g_escape, 1);
}

static int catch_faults(void) {
    static char alternate_stack[1 << 16];
    stack_t stack = {.ss_sp = alternate_stack, .ss_size = sizeof alternate_stack};
    if (sigaltstack(&stack, NULL) != 0) return 0;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = on_fault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    const int signals[] = {SIGFPE, SIGSEGV, SIGILL, SIGBUS, SIGTRAP};
    for (unsigned i = 0; i < sizeof signals / sizeof signals[0]; i++)
        if (sigaction(signals[i], &action, NULL) != 0) return 0;
    return 1;
}

static int map_fixed(uint32_t address, int protection) {
    void *page = mmap((void *)address, FID_PAGE_BYTES, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE,
                      -1, 0);
    return page == (void *)address;
}

static void run_case(const struct fid_case *test, struct fid_result *result) {
    memcpy((void *)FID_CODE_PAGE, test->code, test->code_bytes);
    memcpy((void *)FID_INPUT, &test->input, sizeof test->input);
    memcpy((void *)FID_MEMORY, test->memory, FID_MEMORY_BYTES);
    memset(g_output, 0, sizeof *g_output);
    if (sigsetjmp(g_escape, 1) == 0) fid_enter();
    /* The C code's own floating-point state. */
    const uint32_t mxcsr = 0x1f80;
    __asm__ volatile("fninit\n\tldmxcsr %0\n\tcld" : : "m"(mxcsr));
    memcpy(&result->output, g_output, sizeof result->output);
    memcpy(result->memory, (void *)FID_MEMORY, FID_MEMORY_BYTES);
}

int main(void) {
    if (!map_fixed(FID_DATA_PAGE, PROT_READ | PROT_WRITE) ||
        !map_fixed(FID_CODE_PAGE, PROT_READ | PROT_WRITE | PROT_EXEC) || !catch_faults()) {
        fprintf(stderr, "fidelity_native: cannot set up the pages or the fault handlers\n");
        return 1;
    }
    static struct fid_case test;
    static struct fid_result result;
    while (fread(&test, sizeof test, 1, stdin) == 1) {
        if (test.code_bytes > FID_CODE_BYTES) return 1;
        run_case(&test, &result);
        if (fwrite(&result, sizeof result, 1, stdout) != 1) return 1;
    }
    return fflush(stdout) == 0 ? 0 : 1;
}
