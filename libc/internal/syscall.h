// Raw kernel entry: the system-call interrupt, number in EAX, arguments in EBX, ECX,
// EDX, result in EAX. Each arity loads exactly the registers it names, so a
// wrapper never hands the kernel a register it did not mean to set.
#pragma once

#include <stdint.h>

#include "kiv_syscalls.h"

namespace kiv::sys {

inline int32_t call0(uint32_t number) {
    int32_t result;
    asm volatile("int %[vector]" : "=a"(result) : [vector] "i"(KIV_SYSCALL_VECTOR), "a"(number) : "memory");
    return result;
}

inline int32_t call1(uint32_t number, uint32_t a) {
    int32_t result;
    asm volatile("int %[vector]" : "=a"(result) : [vector] "i"(KIV_SYSCALL_VECTOR), "a"(number), "b"(a) : "memory");
    return result;
}

inline int32_t call3(uint32_t number, uint32_t a, uint32_t b, uint32_t c) {
    int32_t result;
    asm volatile("int %[vector]"
                 : "=a"(result)
                 : [vector] "i"(KIV_SYSCALL_VECTOR), "a"(number), "b"(a), "c"(b), "d"(c)
                 : "memory");
    return result;
}

template <typename T> inline uint32_t word(T *pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

// Transfers larger than the kernel takes reach it clamped.
inline uint32_t clamp_count(uint32_t count) { return count > KIV_MAX_TRANSFER ? KIV_MAX_TRANSFER : count; }

inline uint32_t as_bool(int value) { return value != 0 ? 1u : 0u; }

}  // namespace kiv::sys
