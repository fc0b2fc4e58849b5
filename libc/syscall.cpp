// A kernel call by number, for ported code that makes its own. The kernel
// reads at most five argument registers here (EBX, ECX, EDX, ESI, EDI).
#include "syscall.h"

#include <stdarg.h>
#include <stdint.h>

#include "errno.h"
#include "kiv_syscalls.h"

namespace {

constexpr int kArguments = 5;

}  // namespace

extern "C" long syscall(long number, ...) {
    if (number < 0) {
        errno = ENOSYS;
        return -1;
    }
    uint32_t a[kArguments];
    va_list args;
    va_start(args, number);
    for (uint32_t &argument : a) argument = va_arg(args, uint32_t);
    va_end(args);
    long result;
    asm volatile("int %[vector]"
                 : "=a"(result)
                 : [vector] "i"(KIV_SYSCALL_VECTOR), "a"(number), "b"(a[0]), "c"(a[1]), "d"(a[2]), "S"(a[3]), "D"(a[4])
                 : "memory");
    return result;
}
