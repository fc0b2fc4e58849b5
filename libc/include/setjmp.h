/* Non-local jumps (the kit's extension). A jmp_buf holds the registers a
 * call must preserve (EBX, ESI, EDI, EBP), the stack pointer and the return
 * address. There are no signals, so sigsetjmp and siglongjmp are setjmp and
 * longjmp and the mask argument is ignored. */
#ifndef KIV_SETJMP_H
#define KIV_SETJMP_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct kiv_jmp_record {
    unsigned long saved[6];
} jmp_buf[1];
typedef jmp_buf sigjmp_buf;

/* returns_twice: the compiler keeps nothing in registers across the call
 * that a later longjmp could find stale. */
int setjmp(jmp_buf env) __attribute__((returns_twice));
__attribute__((noreturn)) void longjmp(jmp_buf env, int value);
int sigsetjmp(sigjmp_buf env, int save_mask) __attribute__((returns_twice));
__attribute__((noreturn)) void siglongjmp(sigjmp_buf env, int value);
int _setjmp(jmp_buf env) __attribute__((returns_twice));
__attribute__((noreturn)) void _longjmp(jmp_buf env, int value);

#ifdef __cplusplus
}
#endif

#endif
