// Process entry. The loader enters _start with the argument count in the
// word at the stack pointer and the argument vector in place right after it.
// Nothing runs before main and nothing after it: main's status goes straight
// to _exit.
asm(R"(
    .section .text.entry,"ax",@progbits
    .globl _start
    .type _start, @function
_start:
    movl (%esp), %eax
    leal 4(%esp), %ecx
    andl $-16, %esp
    subl $4, %esp
    pushl %ecx
    pushl %eax
    call main
    pushl %eax
    call _exit
.hang:
    jmp .hang
    .size _start, . - _start
)");
