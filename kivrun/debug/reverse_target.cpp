#include "debug/reverse_target.h"

#include <algorithm>
#include <csignal>

namespace kiv {

namespace {

using Direction = Goal::Direction;

constexpr DebugStop kHistoryStart{DebugStop::Kind::HistoryStart};
// What gdb hears when the run cannot be brought back to a point (the
// address space could not be laid out again as it was): it cannot go on.
constexpr DebugStop kLost{DebugStop::Kind::Ended, SIGKILL};

}  // namespace

// What the debugger changes makes the run from here on another one.
bool ReverseTarget::write_register(uint32_t number, std::span<const uint8_t> value) {
    if (!MachineTarget::write_register(number, value)) return false;
    timeline_.rewrite_here();
    return true;
}

bool ReverseTarget::write_memory(uint32_t address, std::span<const uint8_t> data) {
    if (!MachineTarget::write_memory(address, data)) return false;
    if (!data.empty()) timeline_.rewrite_here();
    return true;
}

bool ReverseTarget::add_breakpoint(BreakKind kind, uint32_t address) {
    timeline_.add_breakpoint(kind, address);
    return true;
}

bool ReverseTarget::remove_breakpoint(BreakKind kind, uint32_t address) {
    return timeline_.remove_breakpoint(kind, address);
}

bool ReverseTarget::add_watchpoint(WatchKind kind, uint32_t address, uint32_t length) {
    return timeline_.watches().add(kind, address, length);
}

bool ReverseTarget::remove_watchpoint(WatchKind kind, uint32_t address, uint32_t length) {
    return timeline_.watches().remove(kind, address, length);
}

// An interrupted run is brought back to the block where the interrupt was
// seen, so that it stands where its position says. A fault leaves the
// program before the faulting instruction, where gdb shows it and where
// going back starts from.
DebugStop ReverseTarget::resume(bool step) {
    Outcome outcome = timeline_.run({Direction::Forward, step});
    if (outcome.interrupted_at && !outcome.ended)
        return timeline_.go_to(*outcome.interrupted_at) ? DebugStop{DebugStop::Kind::Interrupted} : kLost;
    if (!outcome.ended) return outcome.stop.value_or(DebugStop{DebugStop::Kind::Interrupted});
    final_ = outcome.ended;
    if (outcome.ended->fault) {
        uint32_t eip = outcome.ended->fault->eip;
        uc_reg_write(uc_, UC_X86_REG_EIP, &eip);
    }
    return ended(*outcome.ended);
}

DebugStop ReverseTarget::reverse(bool step) {
    final_.reset();
    return step ? step_back() : continue_back();
}

std::optional<Position> ReverseTarget::scan_start(size_t checkpoint, Position here) {
    if (!timeline_.go_to_checkpoint(checkpoint)) return std::nullopt;
    Goal goal{Direction::Back, false, std::nullopt, here, here.block - 1};
    std::vector<Position> starts = timeline_.run(goal).block_starts;
    starts.push_back(timeline_.checkpoint_position(checkpoint));
    std::erase_if(starts, [&](Position start) { return start >= here; });
    return *std::max_element(starts.begin(), starts.end());
}

// The instruction before this one: the run is brought to the start of its
// block (or of the one before), and goes on from there one instruction at
// a time.
DebugStop ReverseTarget::step_back() {
    Position here = timeline_.now();
    size_t checkpoint = timeline_.checkpoint_before(here);
    if (here <= timeline_.checkpoint_position(checkpoint)) return kHistoryStart;
    auto start = scan_start(checkpoint, here);
    if (!start || !timeline_.go_to(*start)) return kLost;
    auto previous = timeline_.run({Direction::Back, true, std::nullopt, here}).last_instruction;
    if (!previous || !timeline_.go_to(*previous)) return kLost;
    return {DebugStop::Kind::Step};
}

// Each stretch between two checkpoints is run once to find the last stop
// in it, from the latest stretch back, and once more to reach that stop.
DebugStop ReverseTarget::continue_back() {
    Position limit = timeline_.now();
    for (size_t checkpoint = timeline_.checkpoint_before(limit);; checkpoint--) {
        if (!timeline_.go_to_checkpoint(checkpoint)) return kLost;
        Position from = timeline_.checkpoint_position(checkpoint);
        if (from < limit) {
            auto last = timeline_.run({Direction::Back, false, std::nullopt, limit}).last_stop;
            if (last) return timeline_.go_to(last->first) ? last->second : kLost;
        }
        if (checkpoint == 0) return timeline_.go_to_checkpoint(0) ? kHistoryStart : kLost;
        limit = from;
    }
}

}  // namespace kiv
