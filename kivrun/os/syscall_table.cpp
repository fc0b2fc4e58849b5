#include "kiv_syscalls.h"
#include "os/call_args.h"
#include "os/syscalls.h"

namespace kiv {

namespace {

// A handler called with its call's typed view of the argument words.
template <uint32_t Number, SyscallResult (*Handler)(Process &, const CallArgs<Number> &)>
SyscallResult handle(Process &process, const SyscallArgs &words) {
    return Handler(process, CallArgs<Number>(process.memory, words));
}

#define KIV_TABLE_ROW(number, name, ...) SyscallEntry{call_row(number), handle<number, sys_##name>},
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
