// Where things lie in a guest's 4 GiB address space, and how much of it a
// program may take.
//
//   0x00000000  never mapped: null pointers fault
//   0x00001000  kUserStart: the program's segments (from its ELF file)
//   0x40000000  kMmapBase: mmap's ranges when the hint is unusable
//   0xbf800000  kStackBottom: the 8 MiB stack, growing down from kStackTop
//   0xc0000000  kUserEnd = kKernelPage: the kernel's page, no system call
//               reads or writes from here up
//   0xc0001000  kDescriptorTablePage: the descriptor table, read-only
#pragma once

#include <cstdint>

namespace kiv {

inline constexpr uint32_t kPageSize = 4096;

inline constexpr uint32_t kUserStart = kPageSize;  // past the null page
inline constexpr uint32_t kUserEnd = 0xc0000000;

inline constexpr uint32_t kStackSize = 8u << 20;
inline constexpr uint32_t kStackTop = kUserEnd;
inline constexpr uint32_t kStackBottom = kStackTop - kStackSize;

inline constexpr uint32_t kMmapBase = 0x40000000;

// The way into user mode, and the descriptor table.
inline constexpr uint32_t kKernelPage = kUserEnd;
inline constexpr uint32_t kDescriptorTablePage = kKernelPage + kPageSize;

// Memory the program's segments may take together (the stack aside), and
// anonymous memory it may hold at once through mmap.
inline constexpr uint64_t kMaxImageMemory = 1ull << 30;
inline constexpr uint64_t kMaxAnonymousMemory = 1ull << 30;
// What all processes of a run may hold together, unless told otherwise:
// every image with its stack, and every mmap'd range.
inline constexpr uint64_t kDefaultRunMemory = 4ull << 30;

constexpr uint32_t page_floor(uint32_t address) { return address & ~(kPageSize - 1); }
constexpr uint64_t page_ceil(uint64_t address) { return (address + kPageSize - 1) & ~uint64_t{kPageSize - 1}; }

}  // namespace kiv
