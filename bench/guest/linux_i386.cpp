// The Linux side of the kivos start-up code's contract (_exit) and the one
// output call the Linux programs need. Linux i386 enters the kernel the way
// kivos does (interrupt 0x80, EAX, EBX, ECX, EDX); only the numbers differ.
// The programs link with `--wrap` for both (see CMakeLists.txt), so the
// start-up code and the runtime library reach these instead of the kivos
// wrappers.
#include "linux_i386.h"

#include "internal/syscall.h"

namespace {

constexpr uint32_t kLinuxExit = 1;
constexpr uint32_t kLinuxWrite = 4;

}  // namespace

extern "C" __attribute__((noreturn)) void __wrap__exit(int status) {
    kiv::sys::call1(kLinuxExit, static_cast<uint32_t>(status));
    __builtin_unreachable();
}

extern "C" int32_t linux_write(int fd, const void *bytes, uint32_t length) {
    return kiv::sys::call3(kLinuxWrite, static_cast<uint32_t>(fd), kiv::sys::word(bytes), length);
}

extern "C" int __wrap_write(int fd, const void *bytes, uint32_t length) { return linux_write(fd, bytes, length); }
