// A call's argument words seen through the call's row of the table: each
// accessor reads one kind of argument, and the compiler checks that the row
// gives the argument at that position that kind. So a handler cannot read a
// descriptor where the trace shows a path, and the checks every path or
// buffer needs (EFAULT, ENAMETOOLONG, the transfer limit) are written once.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "machine/guest_memory.h"
#include "os/syscalls.h"

namespace kiv {

// A value taken from the guest, or the errno that refuses the call.
template <class T> class Checked {
public:
    Checked(T value) : value_(std::move(value)) {}
    static Checked refused(int error) { return Checked(error); }

    explicit operator bool() const { return value_.has_value(); }
    T &operator*() { return *value_; }
    const T &operator*() const { return *value_; }
    const T *operator->() const { return &*value_; }
    int error() const { return error_; }
    SyscallResult refusal() const { return failure(error_); }

private:
    explicit Checked(int error) : error_(error) {}
    std::optional<T> value_;
    int error_ = 0;
};

// The guest path at `address`, refused with EFAULT when it is unreadable and
// ENAMETOOLONG when it is longer than the sandbox takes.
Checked<std::string> read_guest_path(const GuestMemory &memory, uint32_t address);

template <uint32_t Number> class CallArgs {
    static constexpr CallRow kRow = call_row(Number);

    // Whether the row gives argument `index` one of `kinds`.
    static constexpr bool reads(size_t index, std::initializer_list<ArgKind> kinds) {
        return index < kRow.arg_count && std::find(kinds.begin(), kinds.end(), kRow.kinds[index]) != kinds.end();
    }

    static constexpr const ArgProperties &argument(size_t index) { return properties(kRow.kinds[index]); }
    // Whether argument `index` names a record or text the kernel fills whole.
    static constexpr bool filled(size_t index) {
        return index < kRow.arg_count && argument(index).direction == Direction::Filled;
    }
    // Whether argument `index` names bytes moved through a buffer.
    static constexpr bool buffer(size_t index) {
        return index < kRow.arg_count && is_transfer_buffer(kRow.kinds[index]);
    }

    using enum ArgKind;

public:
    CallArgs(GuestMemory &memory, const SyscallArgs &words) : memory_(memory), words_(words) {}

    // The same words seen as another call with the same row of kinds: a
    // call that is another one under a second name.
    template <uint32_t Other> CallArgs<Other> as() const {
        static_assert(call_row(Other).kinds == kRow.kinds && call_row(Other).arg_count == kRow.arg_count);
        return CallArgs<Other>(memory_, words_);
    }

    template <size_t I> int32_t descriptor() const {
        static_assert(reads(I, {FD}));
        return static_cast<int32_t>(words_[I]);
    }
    template <size_t I> int32_t signed_number() const {
        static_assert(reads(I, {INT}));
        return static_cast<int32_t>(words_[I]);
    }
    template <size_t I> uint32_t number() const {
        static_assert(reads(I, {UINT, COUNT}));
        return words_[I];
    }
    template <size_t I> uint32_t flags() const {
        static_assert(reads(I, {HEX, OPEN_FLAGS, MMAP_PROT, MMAP_FLAGS, WHENCE}));
        return words_[I];
    }
    template <size_t I> uint32_t address() const {
        static_assert(reads(I, {PTR, ARGV, WAIT_STATUS}));
        return words_[I];
    }

    template <size_t I> Checked<std::string> path() const {
        static_assert(reads(I, {PATH}));
        return read_guest_path(memory_, words_[I]);
    }

    // The bytes a read fills or a write takes: the buffer at I, its count
    // at I + 1 (the table checks that the count is there).
    template <size_t I> Checked<std::span<uint8_t>> bytes() const {
        static_assert(buffer(I));
        uint32_t count = words_[I + 1];
        if (count > KIV_MAX_TRANSFER) return Checked<std::span<uint8_t>>::refused(EINVAL);
        auto view = memory_.view(words_[I], count, argument(I).access);
        if (!view) return Checked<std::span<uint8_t>>::refused(EFAULT);
        return *view;
    }

    // The record the argument points to, copied out of the guest.
    template <size_t I, class Record> Checked<Record> record() const {
        static_assert(reads(I, {SPAWN_BLOCK}));
        Record record;
        if (!memory_.read(words_[I], &record, sizeof record)) return Checked<Record>::refused(EFAULT);
        return record;
    }

    // Whether the kernel can fill `length` bytes where the argument points.
    template <size_t I> bool fillable(uint32_t length) const {
        static_assert(filled(I));
        return memory_.usable(words_[I], length, argument(I).access);
    }
    template <size_t I> bool fill(const void *data, uint32_t length) const {
        static_assert(filled(I));
        return memory_.write(words_[I], data, length);
    }

private:
    GuestMemory &memory_;
    const SyscallArgs &words_;
};

}  // namespace kiv
