#include "debug/machine_target.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "debug/registers.h"

namespace kiv {

namespace {

constexpr uint32_t kFirstSegment = 10, kLastSegment = 15;
// The emulator writes up to this many bytes for one register (an x87 one).
constexpr size_t kRegisterBuffer = 16;

}  // namespace

bool MachineTarget::read_register(uint32_t number, std::span<uint8_t> out) {
    if (number >= kRegisterCount || out.size() > kRegisterBuffer) return false;
    uint8_t value[kRegisterBuffer] = {};
    if (uc_reg_read(uc_, kRegisters[number].emulator, value) != UC_ERR_OK) return false;
    std::copy_n(value, out.size(), out.begin());
    return true;
}

// Segment registers hold the flat user segments the program cannot
// change either; writing their own values back is no change.
bool MachineTarget::write_register(uint32_t number, std::span<const uint8_t> in) {
    if (number >= kRegisterCount || in.size() > kRegisterBuffer) return false;
    uint8_t value[kRegisterBuffer] = {};
    std::copy(in.begin(), in.end(), value);
    if (number >= kFirstSegment && number <= kLastSegment) {
        uint8_t current[kRegisterBuffer] = {};
        return read_register(number, std::span(current, in.size())) && std::equal(in.begin(), in.end(), current);
    }
    return uc_reg_write(uc_, kRegisters[number].emulator, value) == UC_ERR_OK;
}

// Any user mapping, whatever its protection, as ptrace sees it.
bool MachineTarget::read_memory(uint32_t address, std::span<uint8_t> out) {
    if (out.empty()) return true;
    if (!in_user_mappings(address, out.size())) return false;
    auto bytes = memory_.view(address, out.size(), 0);
    if (bytes) std::copy(bytes->begin(), bytes->end(), out.begin());
    return bytes.has_value();
}

// Code written here must not run from an older translation.
bool MachineTarget::write_memory(uint32_t address, std::span<const uint8_t> data) {
    if (data.empty()) return true;
    if (!in_user_mappings(address, data.size())) return false;
    memory_.poke(address, data.data(), static_cast<uint32_t>(data.size()));
    return uc_ctl_remove_cache(uc_, uint64_t{address}, uint64_t{address} + data.size()) == UC_ERR_OK;
}

void MachineTarget::abandon() {
    cpu_.pause();
    uint64_t one = 1;
    (void)!::write(cancel_fd_, &one, sizeof one);
}

bool MachineTarget::in_user_mappings(uint32_t address, uint64_t length) const {
    return uint64_t{address} + length <= kUserEnd && memory_.usable(address, length, 0);
}

// A fault tells what a Linux process's siginfo would hold: si_addr, and for
// SIGSEGV whether nothing was mapped there or the access was not allowed.
DebugStop MachineTarget::ended(const Stop &stop) const {
    switch (stop.reason) {
    case StopReason::Exited: return {DebugStop::Kind::Exited, 0, stop.status};
    case StopReason::Faulted: break;
    default: return {DebugStop::Kind::Ended, SIGKILL};
    }
    const Fault &fault = *stop.fault;
    DebugStop reply{DebugStop::Kind::Fault, fault.exit_code - kSignalStatusBase};
    reply.data_address = fault.address.value_or(fault.eip);
    if (reply.signal == SIGSEGV)
        reply.signal_code = memory_.usable(reply.data_address, 1, 0) ? SEGV_ACCERR : SEGV_MAPERR;
    return reply;
}

}  // namespace kiv
