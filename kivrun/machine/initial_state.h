// The machine state a program starts in, as under Linux i386: user mode
// through an iret from the kernel's page, Linux's selectors, EFLAGS 0x202,
// the x87 unit as after fninit, MXCSR at its reset value, and a CPUID that
// names only what this machine runs.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>

#include "machine/guest_memory.h"
#include "machine/memory_map.h"

namespace kiv {

// Linux i386's selectors (a 64-bit kernel gives 32-bit programs 0x23 and 0x2b).
inline constexpr uint32_t kUserCodeSelector = 0x73;
inline constexpr uint32_t kUserDataSelector = 0x7b;
inline constexpr uint32_t kInitialEflags = 0x202;
inline constexpr uint16_t kInitialFpuControl = 0x037f;  // 64-bit significand, nearest, all masked
inline constexpr uint32_t kInitialMxcsr = 0x1f80;       // nearest, all masked

// Maps the kernel's page and the descriptor table, and leaves the CPU in
// the kernel ready to run the trampoline: an iret to `entry` in user mode
// with ESP at `stack`.
bool prepare_user_mode(uc_engine *uc, GuestMemory &memory, uint32_t entry, uint32_t stack);
inline constexpr uint32_t kUserModeTrampoline = kKernelPage;

// The x87 unit and SSE enabled as Linux enables them (CR0, CR4), and their
// registers as a new Linux process has them.
bool enable_floating_point(uc_engine *uc);
bool reset_floating_point(uc_engine *uc);

// CPUID answers from kivrun's own table (served_cpuid) from now on, for an
// engine without a Cpu; an answer the emulator refuses stops emulation.
bool serve_cpuid(uc_engine *uc);

// Within a CPUID hook: answers the leaf in EAX from the table; false when
// the emulator refuses the registers. The hook's return value then skips
// the emulator's own CPUID.
bool answer_cpuid(uc_engine *uc);
inline constexpr int kSkipEmulatorsCpuid = 1;

struct CpuidAnswer {
    uint32_t eax, ebx, ecx, edx;
};
CpuidAnswer served_cpuid(uint32_t leaf);

}  // namespace kiv
