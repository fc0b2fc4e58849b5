// The over-aligned forms of operator new and delete (for types aligned
// beyond __STDCPP_DEFAULT_NEW_ALIGNMENT__), over malloc and free like the
// plain forms: the block is allocated larger, the aligned address handed
// out, and the address malloc gave kept in the word before it for delete.
// As the plain operator new, the throwing forms stop the program on an
// invalid instruction when the heap is full.
#include <stdint.h>
#include <stdlib.h>

#include <new>

namespace {

using Address = uintptr_t;

void *allocate_aligned(size_t size, std::align_val_t alignment) {
    const auto align = static_cast<size_t>(alignment);
    const size_t extra = align - 1 + sizeof(void *);
    if (size > SIZE_MAX - extra) return nullptr;
    void *block = malloc(size + extra);
    if (block == nullptr) return nullptr;
    const Address aligned = (reinterpret_cast<Address>(block) + extra) & ~static_cast<Address>(align - 1);
    reinterpret_cast<void **>(aligned)[-1] = block;
    return reinterpret_cast<void *>(aligned);
}

void *allocate_aligned_or_stop(size_t size, std::align_val_t alignment) {
    void *block = allocate_aligned(size, alignment);
    if (block == nullptr) __builtin_trap();
    return block;
}

void release_aligned(void *block) {
    if (block != nullptr) free(static_cast<void **>(block)[-1]);
}

}  // namespace

void *operator new(size_t size, std::align_val_t alignment) { return allocate_aligned_or_stop(size, alignment); }
void *operator new[](size_t size, std::align_val_t alignment) { return allocate_aligned_or_stop(size, alignment); }
void *operator new(size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
    return allocate_aligned(size, alignment);
}
void *operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
    return allocate_aligned(size, alignment);
}

void operator delete(void *block, std::align_val_t) noexcept { release_aligned(block); }
void operator delete[](void *block, std::align_val_t) noexcept { release_aligned(block); }
void operator delete(void *block, size_t, std::align_val_t) noexcept { release_aligned(block); }
void operator delete[](void *block, size_t, std::align_val_t) noexcept { release_aligned(block); }
void operator delete(void *block, std::align_val_t, const std::nothrow_t &) noexcept { release_aligned(block); }
void operator delete[](void *block, std::align_val_t, const std::nothrow_t &) noexcept { release_aligned(block); }
