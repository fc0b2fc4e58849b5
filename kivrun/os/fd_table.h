// The guest's descriptors. Each guest descriptor names a host descriptor;
// 0, 1 and 2 start as the run's console (standard input, output and error;
// a negative one leaves the descriptor closed) and are not closed by the
// stand-in, everything else it opened belongs to the table.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kiv {

class FdTable {
public:
    FdTable(int console_in, int console_out, int console_err);
    ~FdTable();
    FdTable(const FdTable &) = delete;
    FdTable &operator=(const FdTable &) = delete;

    struct Descriptor {
        int host_fd;
        // Whether the stand-in opened it (the console descriptors are borrowed).
        bool owned;
        // A pipe, fifo, terminal or socket: I/O on it can wait for ever,
        // so the calls wait for it themselves, interruptibly.
        bool may_wait;
        bool readable;
        bool writable;
        // The host's console or a copy of it: its mode is the user's.
        bool console = false;
        // Set by the guest: I/O that would wait fails with EAGAIN instead.
        // Kept here, never on the host descriptor, whose open file may be
        // shared with other programs.
        bool nonblocking = false;
    };

    // The guest descriptor's entry, or nullptr when it is not open.
    const Descriptor *find(int32_t guest_fd) const;
    Descriptor *find(int32_t guest_fd);
    // The host descriptor behind a guest descriptor, or -1.
    int host(int32_t guest_fd) const;
    // Takes ownership of `host_fd`; the lowest free guest descriptor, or -1
    // (with the host descriptor closed) when the table is full.
    int32_t add(int host_fd);
    // Puts `host_fd` at `guest_fd` (0 <= guest_fd < kMaxDescriptors),
    // closing what was there. A console descriptor stays the caller's;
    // any other now belongs to the table.
    void install(int32_t guest_fd, int host_fd, bool console);
    // One past the highest descriptor that may be open.
    int32_t capacity() const { return static_cast<int32_t>(entries_.size()); }
    // Closes the guest descriptor; false when it was not open.
    bool close(int32_t guest_fd);
    // POSIX dup and dup2 over the table.
    int32_t dup(int32_t guest_fd);
    int32_t dup2(int32_t old_fd, int32_t new_fd);

    static constexpr int32_t kMaxDescriptors = 256;

private:
    static Descriptor describe(int host_fd, bool owned);
    // Places the entry at the lowest free guest descriptor (closing its host
    // descriptor when the table is full).
    int32_t place(const Descriptor &entry);
    // Puts the entry at `guest_fd`, closing what was there.
    void put(int32_t guest_fd, const Descriptor &entry);
    // The entry with a new host descriptor for the same open file.
    std::optional<Descriptor> copy(int32_t guest_fd) const;
    void release(Descriptor &entry);

    std::vector<std::optional<Descriptor>> entries_;
};

}  // namespace kiv
