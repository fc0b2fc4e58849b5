// The program under gdb with reverse execution: forward it runs as with
// the plain target, and gdb's reverse commands go back through a Timeline.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "debug/machine_target.h"
#include "debug/timeline.h"

namespace kiv {

class ReverseTarget final : public MachineTarget {
public:
    ReverseTarget(Cpu &cpu, GuestMemory &memory, int cancel_fd, InputBookmark inputs)
        : MachineTarget(cpu, memory, cancel_fd), timeline_(cpu, memory, std::move(inputs)) {}

    // Before the program's first instruction; false when the run cannot
    // be recorded.
    bool start() { return timeline_.start(); }

    bool write_register(uint32_t number, std::span<const uint8_t> value) override;
    bool write_memory(uint32_t address, std::span<const uint8_t> data) override;
    bool add_breakpoint(BreakKind kind, uint32_t address) override;
    bool remove_breakpoint(BreakKind kind, uint32_t address) override;
    bool add_watchpoint(WatchKind kind, uint32_t address, uint32_t length) override;
    bool remove_watchpoint(WatchKind kind, uint32_t address, uint32_t length) override;
    DebugStop resume(bool step) override;
    bool reversible() const override { return true; }
    DebugStop reverse(bool step) override;
    void interrupt() override { timeline_.interrupt(); }
    bool release() override { return timeline_.release(); }

private:
    DebugStop step_back();
    DebugStop continue_back();
    // Where to look for the instruction before `here` one at a time: the
    // start of its block, or of the block before.
    std::optional<Position> scan_start(size_t checkpoint, Position here);

    Timeline timeline_;
};

}  // namespace kiv
