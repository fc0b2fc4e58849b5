// Non-local jumps. setjmp records what a call must preserve (EBX, ESI, EDI,
// EBP), the stack pointer its caller has after the return, and the return
// address; longjmp restores them and returns there with a non-zero value.
// Written in assembly: compiled code could keep its own state in those
// registers. sigsetjmp and _setjmp are the same code (there are no signal
// masks), and so are siglongjmp and _longjmp.
#include "setjmp.h"

static_assert(sizeof(jmp_buf) == 24, "six saved 32-bit words");

asm(R"(
    .section .text.setjmp,"ax",@progbits
    .globl setjmp, _setjmp, sigsetjmp
    .type setjmp, @function
    .type _setjmp, @function
    .type sigsetjmp, @function
setjmp:
_setjmp:
sigsetjmp:
    movl 4(%esp), %eax
    movl %ebx, 0(%eax)
    movl %esi, 4(%eax)
    movl %edi, 8(%eax)
    movl %ebp, 12(%eax)
    leal 4(%esp), %ecx
    movl %ecx, 16(%eax)
    movl (%esp), %ecx
    movl %ecx, 20(%eax)
    xorl %eax, %eax
    ret
    .size setjmp, . - setjmp
    .size _setjmp, . - _setjmp
    .size sigsetjmp, . - sigsetjmp

    .section .text.longjmp,"ax",@progbits
    .globl longjmp, _longjmp, siglongjmp
    .type longjmp, @function
    .type _longjmp, @function
    .type siglongjmp, @function
longjmp:
_longjmp:
siglongjmp:
    movl 4(%esp), %edx
    movl 8(%esp), %eax
    testl %eax, %eax
    jnz 1f
    incl %eax
1:
    movl 0(%edx), %ebx
    movl 4(%edx), %esi
    movl 8(%edx), %edi
    movl 12(%edx), %ebp
    movl 16(%edx), %esp
    jmpl *20(%edx)
    .size longjmp, . - longjmp
    .size _longjmp, . - _longjmp
    .size siglongjmp, . - siglongjmp
)");
