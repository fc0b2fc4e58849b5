#include <algorithm>
#include <initializer_list>

#include "kiv_syscalls.h"
#include "syscalls.h"

namespace kiv {

namespace {

constexpr SyscallEntry make_entry(uint32_t number, const char *name, SyscallFunction handler, ResultKind result_kind,
                                  std::initializer_list<ArgKind> kinds) {
    SyscallEntry result{number, name, handler, result_kind, {}, static_cast<uint8_t>(kinds.size())};
    std::copy(kinds.begin(), kinds.end(), result.kinds.begin());
    return result;
}

using enum ArgKind;
using enum ResultKind;

#define KIV_TABLE_ROW(number, name, result, ...) make_entry(number, #name, sys_##name, result, {__VA_ARGS__}),
constexpr SyscallEntry kSyscalls[] = {KIV_SYSCALLS(KIV_TABLE_ROW)};
#undef KIV_TABLE_ROW

// Dense lookup by number: the numbers are small.
constexpr uint32_t kMaxNumber = 256;

struct Index {
    std::array<int16_t, kMaxNumber> slot{};
    constexpr Index() {
        slot.fill(-1);
        for (size_t i = 0; i < std::size(kSyscalls); i++) slot[kSyscalls[i].number] = static_cast<int16_t>(i);
    }
};
constexpr Index kIndex;

}  // namespace

const SyscallEntry *find_syscall(uint32_t number) {
    if (number >= kMaxNumber || kIndex.slot[number] < 0) return nullptr;
    return &kSyscalls[kIndex.slot[number]];
}

std::span<const SyscallEntry> all_syscalls() { return kSyscalls; }

const SyscallEntry *find_syscall_named(std::string_view name) {
    for (const auto &entry : kSyscalls)
        if (name == entry.name) return &entry;
    return nullptr;
}

}  // namespace kiv
