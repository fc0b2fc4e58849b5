#include "fcntl.h"

#include "internal/syscall.h"

namespace {

constexpr int kCreatFlags = O_WRONLY | O_CREAT | O_TRUNC;
static_assert(kCreatFlags == 0x241);

}  // namespace

extern "C" int open(const char *path, int flags, ...) {
    if (path == nullptr) return -1;
    uint32_t third = (flags & O_CREAT) != 0 ? static_cast<uint32_t>(flags) : 0u;
    return kiv::sys::call3(KIV_SYS_open, kiv::sys::word(path), static_cast<uint32_t>(flags), third);
}

extern "C" int creat(const char *path) {
    if (path == nullptr) return -1;
    return kiv::sys::call3(KIV_SYS_open, kiv::sys::word(path), kCreatFlags, 0);
}
