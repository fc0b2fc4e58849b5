// The system-call table: for each number the handler, the name, how the
// trace shows its result and arguments, and the classes that choose it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <span>
#include <string_view>

#include "kiv_syscalls.h"
#include "machine/syscall_types.h"
#include "os/call_columns.h"
#include "os/process.h"

namespace kiv {

enum class ResultKind : uint8_t {
    SIGNED,   // signed decimal
    ADDRESS,  // hex, unless the call failed
};

// What the table says of one call: its number and name, how the trace shows
// its result, its classes, and the kind of each argument it reads.
struct CallRow {
    uint32_t number;
    const char *name;
    ResultKind result;
    CallClasses classes;
    std::array<ArgKind, 6> kinds;
    uint8_t arg_count;

    constexpr std::span<const ArgKind> arg_kinds() const { return std::span(kinds).first(arg_count); }
    constexpr bool in(CallClass call_class) const { return (classes & class_bit(call_class)) != 0; }
};

namespace call_rows {

using enum ArgKind;
using enum ResultKind;
using enum CallClass;

// The class column, "(file, process)", read as the call `classes(file, process)`.
template <class... Classes> constexpr CallClasses classes(Classes... named) {
    return static_cast<CallClasses>((CallClasses{0} | ... | class_bit(named)));
}

constexpr CallRow make_row(uint32_t number, const char *name, ResultKind result, CallClasses call_classes,
                           std::initializer_list<ArgKind> kinds) {
    CallRow row{number, name, result, call_classes, {}, static_cast<uint8_t>(kinds.size())};
    std::copy(kinds.begin(), kinds.end(), row.kinds.begin());
    return row;
}

#define KIV_CALL_ROW(number, name, result, call_classes, ...) \
    make_row(number, #name, result, classes call_classes, {__VA_ARGS__}),
inline constexpr CallRow kRows[] = {KIV_SYSCALLS(KIV_CALL_ROW)};
#undef KIV_CALL_ROW

// A counted argument has its count after it, within the row.
constexpr bool counts_follow(const CallRow &row) {
    for (size_t i = 0; i < row.arg_count; i++)
        if (properties(row.kinds[i]).counted && (i + 1 >= row.arg_count || row.kinds[i + 1] != COUNT)) return false;
    return true;
}
// %desc is strace's: the calls that take a descriptor, and no other.
constexpr bool desc_means_a_descriptor(const CallRow &row) {
    auto kinds = row.arg_kinds();
    return row.in(desc) == (std::find(kinds.begin(), kinds.end(), FD) != kinds.end());
}
static_assert(std::all_of(std::begin(kRows), std::end(kRows), counts_follow));
static_assert(std::all_of(std::begin(kRows), std::end(kRows), desc_means_a_descriptor));

}  // namespace call_rows

// The row of a call the table has, for use in constant expressions only:
// for a number the table lacks it is not a constant, so asking fails to
// compile.
constexpr const CallRow &call_row(uint32_t number) {
    const CallRow *found = std::find_if(std::begin(call_rows::kRows), std::end(call_rows::kRows),
                                        [number](const CallRow &row) { return row.number == number; });
    return *found;
}

template <uint32_t Number> class CallArgs;

using SyscallFunction = SyscallResult (*)(Process &, const SyscallArgs &);

struct SyscallEntry : CallRow {
    SyscallFunction handler;
};

// The entry for `number`, or nullptr for a number the kernel does not know.
const SyscallEntry *find_syscall(uint32_t number);
// The entry called `name`, or nullptr.
const SyscallEntry *find_syscall_named(std::string_view name);
// Every entry, in the table's order.
std::span<const SyscallEntry> all_syscalls();

// Handlers, one per call, named after the calls.
#define KIV_DECLARE_HANDLER(number, name, ...) SyscallResult sys_##name(Process &, const CallArgs<number> &);
KIV_SYSCALLS(KIV_DECLARE_HANDLER)
#undef KIV_DECLARE_HANDLER

}  // namespace kiv
