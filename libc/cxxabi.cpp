// What C++ code needs from the runtime beyond the C library: the global
// operator new and delete on the library's heap, the hooks the compiler
// calls for static objects with destructors, and the handler of a pure
// virtual call. Only C++ programs refer to these, so only they link them.
#include "stdlib.h"

namespace std {
// The tag of the non-throwing forms, as <new> declares it.
struct nothrow_t {
    explicit nothrow_t() = default;
};
extern const nothrow_t nothrow;
const nothrow_t nothrow{};
}  // namespace std

using kiv_size = __SIZE_TYPE__;

namespace {

void *allocate(kiv_size size) { return malloc(size == 0 ? 1 : size); }

// There are no exceptions to report a full heap with: the program stops on
// an invalid instruction (status 132) instead of going on with null.
void *allocate_or_stop(kiv_size size) {
    void *block = allocate(size);
    if (block == nullptr) __builtin_trap();
    return block;
}

}  // namespace

void *operator new(kiv_size size) { return allocate_or_stop(size); }
void *operator new[](kiv_size size) { return allocate_or_stop(size); }
void *operator new(kiv_size size, const std::nothrow_t &) noexcept { return allocate(size); }
void *operator new[](kiv_size size, const std::nothrow_t &) noexcept { return allocate(size); }

void operator delete(void *block) noexcept { free(block); }
void operator delete[](void *block) noexcept { free(block); }
void operator delete(void *block, kiv_size) noexcept { free(block); }
void operator delete[](void *block, kiv_size) noexcept { free(block); }
void operator delete(void *block, const std::nothrow_t &) noexcept { free(block); }
void operator delete[](void *block, const std::nothrow_t &) noexcept { free(block); }

extern "C" {

// Identifies the program to __cxa_atexit; there is only ever one.
void *__dso_handle = &__dso_handle;

// Like atexit: accepted, never recorded, since nothing runs when the process
// ends. Static objects' destructors therefore never run.
int __cxa_atexit(void (*)(void *), void *, void *) { return 0; }

// A call of a pure virtual function (through an object under construction
// or destruction) stops the program as an invalid instruction does.
void __cxa_pure_virtual() { __builtin_trap(); }

}  // extern "C"
