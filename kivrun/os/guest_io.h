// Helpers shared by the system-call handlers: new descriptors, opening
// guest paths, waiting that a stopping run can interrupt.
#pragma once

#include <cstdint>
#include <string>

#include "machine/syscall_types.h"
#include "os/process.h"

namespace kiv {

// A new host descriptor handed to the guest: its number, or EMFILE when the
// table is full (the descriptor is closed then).
SyscallResult add_descriptor(Process &process, int host_fd);

// Waits until the descriptor is ready for `events` (POLLIN, POLLOUT): 0,
// or the errno that stopped the wait: EINTR when the run is being stopped,
// EAGAIN at once when it is not ready and the guest made it non-blocking.
int wait_ready(const Process &process, const FdTable::Descriptor &descriptor, short events);

// Sleeps; false when it returned early because the run is being stopped.
bool interruptible_sleep(const Process &process, uint64_t microseconds);

// Opens a guest path for the guest with `flags`, never letting the host
// wait in the open itself: the descriptor comes back non-blocking (the I/O
// calls wait for it interruptibly), and a fifo opened for writing before it
// has a reader is tried again until one comes or the run is being stopped.
// -1 with errno set on failure.
int open_for_guest(const Process &process, const std::string &path, int flags);

}  // namespace kiv
