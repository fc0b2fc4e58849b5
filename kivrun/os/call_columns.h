// What the columns of the call table (abi/kiv_syscalls.h) mean to the host:
// the classes a call can be chosen by, and for each kind of argument one
// row of properties that the handlers' typed view of the arguments, the
// trace and injection all read. A new kind or class is added here once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "machine/guest_memory.h"

namespace kiv {

// strace's classes and this kernel's own; each a name of the table's class
// column, shown with a leading '%'.
#define KIV_CALL_CLASSES(X) X(file) X(process) X(memory) X(desc) X(console) X(nic)

#define KIV_CLASS_ENUMERATOR(name) name,
enum class CallClass : uint8_t { KIV_CALL_CLASSES(KIV_CLASS_ENUMERATOR) };
#undef KIV_CLASS_ENUMERATOR

#define KIV_CLASS_NAME(name) "%" #name,
inline constexpr const char *kCallClassNames[] = {KIV_CALL_CLASSES(KIV_CLASS_NAME)};
#undef KIV_CLASS_NAME

// A set of classes, one bit each.
using CallClasses = uint8_t;

constexpr CallClasses class_bit(CallClass call_class) {
    return static_cast<CallClasses>(1u << static_cast<unsigned>(call_class));
}

enum class ArgKind : uint8_t {
    FD,           // descriptor, decimal
    INT,          // signed decimal
    UINT,         // unsigned decimal
    HEX,          // flags words
    PTR,          // a guest address
    COUNT,        // byte count (unsigned)
    PATH,         // NUL-terminated text the kernel reads
    BUF_IN,       // bytes the kernel reads
    BUF_OUT,      // bytes the kernel fills; the result is how many
    BUF_OUT_STR,  // text the kernel fills
    OPEN_FLAGS,   // open() flags, decoded by name
    OPEN_THIRD,   // open()'s third word: the wrapper passes the flags again, no mode
    MMAP_PROT,    // mmap protection bits, by name
    MMAP_FLAGS,   // mmap flags, by name
    WHENCE,       // lseek's origin, by name
    NIC_INFO,     // the NIC record the kernel fills
    FD_PAIR,      // int[2] the kernel fills
    ARGV,         // argument vector; the count of its elements is the next argument
    SPAWN_BLOCK,  // spawn_ex's argument block
    WAIT_STATUS,  // waitpid's status word, filled when a child was reaped
};

// Which way an argument's value goes. A trace can show only what goes in
// before the call ends.
enum class Direction : uint8_t {
    In,      // the kernel takes it: the word, or what it points to
    Out,     // bytes the kernel stores, as many as the result says
    Filled,  // a record or text the kernel stores whole
};

// No guest memory is reached through the argument: it is a plain word.
inline constexpr uint32_t kAccessNone = 0;

struct ArgProperties {
    ArgKind kind;
    Direction direction;
    uint32_t access;  // what the kernel does where it points (kAccess*)
    bool counted;     // the next argument (a COUNT) is its length in bytes
};

namespace arg_rows {

using enum ArgKind;
using enum Direction;

inline constexpr ArgProperties kRows[] = {
    {FD, In, kAccessNone, false},           {INT, In, kAccessNone, false},
    {UINT, In, kAccessNone, false},         {HEX, In, kAccessNone, false},
    {PTR, In, kAccessNone, false},          {COUNT, In, kAccessNone, false},
    {PATH, In, kAccessRead, false},         {BUF_IN, In, kAccessRead, true},
    {BUF_OUT, Out, kAccessWrite, true},     {BUF_OUT_STR, Filled, kAccessWrite, true},
    {OPEN_FLAGS, In, kAccessNone, false},   {OPEN_THIRD, In, kAccessNone, false},
    {MMAP_PROT, In, kAccessNone, false},    {MMAP_FLAGS, In, kAccessNone, false},
    {WHENCE, In, kAccessNone, false},       {NIC_INFO, Filled, kAccessWrite, false},
    {FD_PAIR, Filled, kAccessWrite, false}, {ARGV, In, kAccessRead, false},
    {SPAWN_BLOCK, In, kAccessRead, false},  {WAIT_STATUS, Filled, kAccessWrite, false},
};

constexpr bool each_row_at_its_kind() {
    for (size_t i = 0; i < std::size(kRows); i++)
        if (static_cast<size_t>(kRows[i].kind) != i) return false;
    return true;
}
static_assert(each_row_at_its_kind(), "the rows follow the order of ArgKind");

}  // namespace arg_rows

constexpr const ArgProperties &properties(ArgKind kind) { return arg_rows::kRows[static_cast<size_t>(kind)]; }

// Bytes moved through a buffer, counted by the next argument (not text the
// kernel fills whole within a capacity).
constexpr bool is_transfer_buffer(ArgKind kind) {
    return properties(kind).counted && properties(kind).direction != Direction::Filled;
}

}  // namespace kiv
