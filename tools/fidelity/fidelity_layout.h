/* The memory both sides of the differential test run in, at the same
 * addresses natively and in the emulator. Valid C and C++: the native
 * harness is a static Linux i386 C program. The code page holds the entry
 * stub, the sequence under test and the exit stub; the data page holds the
 * sequence's memory, its inputs and what the exit stub saves. */
#ifndef FIDELITY_LAYOUT_H
#define FIDELITY_LAYOUT_H

#include <stdint.h>

#define FID_CODE_PAGE 0x31000000u
#define FID_DATA_PAGE 0x30000000u
#define FID_PAGE_BYTES 0x2000u

#define FID_MEMORY FID_DATA_PAGE /* the sequence's memory, EBX points here */
#define FID_MEMORY_BYTES 256u
#define FID_INPUT (FID_DATA_PAGE + 0x100u)     /* struct fid_input */
#define FID_OUTPUT (FID_DATA_PAGE + 0x400u)    /* struct fid_output */
#define FID_SAVED_ESP (FID_DATA_PAGE + 0x800u) /* the harness's stack pointer, natively */
#define FID_STACK_TOP (FID_DATA_PAGE + 0x1000u)

#define FID_CODE_BYTES 512u

/* pushal's order, lowest address first. */
enum { FID_EDI, FID_ESI, FID_EBP, FID_ESP, FID_EBX, FID_EDX, FID_ECX, FID_EAX, FID_GPRS };

struct fid_input {
    uint32_t gpr[FID_GPRS]; /* popal loads them */
    uint32_t eflags;        /* popfl loads it */
    uint32_t mxcsr;
    uint32_t reserved[6];
    uint8_t xmm[8][16];
};

struct fid_output {
    uint32_t gpr[FID_GPRS]; /* pushal stores them */
    uint32_t eflags;
    int32_t signal; /* 0, or the signal a fault raised */
    uint32_t fault_eip;
    uint32_t reserved;
    uint8_t fxsave[512]; /* 16-byte aligned: offset 0x30 */
};

/* One case as the host hands it to the native harness (the code page's
 * bytes, stubs included), and its result. */
struct fid_case {
    uint8_t code[FID_CODE_BYTES];
    uint32_t code_bytes;
    struct fid_input input;
    uint8_t memory[FID_MEMORY_BYTES];
};

struct fid_result {
    struct fid_output output;
    uint8_t memory[FID_MEMORY_BYTES];
};

#ifdef __cplusplus
static_assert(sizeof(fid_input) == 192 && sizeof(fid_output) == 560);
static_assert(__builtin_offsetof(fid_output, fxsave) % 16 == 0);
#else
_Static_assert(sizeof(struct fid_input) == 192 && sizeof(struct fid_output) == 560, "layout");
#endif

#endif
