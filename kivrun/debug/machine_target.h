// What every debugger target over the emulated machine shares, whichever
// way it runs the program: gdb's registers and the guest's memory, and how
// the end of a run looks to gdb.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "debug/gdb_stub.h"
#include "machine/cpu.h"
#include "machine/guest_memory.h"

namespace kiv {

class MachineTarget : public DebugTarget {
public:
    MachineTarget(Cpu &cpu, GuestMemory &memory, int cancel_fd)
        : cpu_(cpu), memory_(memory), uc_(cpu.engine()), cancel_fd_(cancel_fd) {}

    bool read_register(uint32_t number, std::span<uint8_t> out) override;
    bool write_register(uint32_t number, std::span<const uint8_t> value) override;
    bool read_memory(uint32_t address, std::span<uint8_t> out) override;
    bool write_memory(uint32_t address, std::span<const uint8_t> data) override;
    void abandon() override;

    // Drops every breakpoint and watchpoint, with their hooks; false when
    // a hook stays, which must then never run again.
    virtual bool release() = 0;
    // How the program ended, once it has.
    const std::optional<Stop> &final_stop() const { return final_; }

protected:
    // The stop gdb hears when the run ended with `stop`.
    DebugStop ended(const Stop &stop) const;

    Cpu &cpu_;
    GuestMemory &memory_;
    uc_engine *uc_;
    std::optional<Stop> final_;

private:
    bool in_user_mappings(uint32_t address, uint64_t length) const;

    int cancel_fd_;
};

}  // namespace kiv
