// Process entry. The loader enters _start with the argument count in the
// word at the stack pointer and the argument vector in place right after it.
// main's status goes straight to _exit; nothing runs after it.
//
// Built twice: as crt0.o, where nothing runs before main, and with
// KIVOS_RUN_CONSTRUCTORS as crt0_init.o, which first calls the static
// constructors (.init_array) in order. The linker script refuses a program
// with constructors linked with crt0.o, and the kit's drivers then link it
// with crt0_init.o: programs without constructors carry no code for them.
#ifdef KIVOS_RUN_CONSTRUCTORS
#define KIV_CALL_CONSTRUCTORS "    call kivos_run_constructors\n"

using KivConstructor = void (*)();
// Bounds of the array, set by the linker script.
extern "C" const KivConstructor __init_array_start[];
extern "C" const KivConstructor __init_array_end[];

// argc and argv stay in their slots above: a function without parameters
// never writes there.
extern "C" void kivos_run_constructors() {
    for (const KivConstructor *constructor = __init_array_start; constructor != __init_array_end; ++constructor) {
        (*constructor)();
    }
}
#else
#define KIV_CALL_CONSTRUCTORS ""
#endif

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
)" KIV_CALL_CONSTRUCTORS R"(    call main
    pushl %eax
    call _exit
.hang:
    jmp .hang
    .size _start, . - _start
)");
