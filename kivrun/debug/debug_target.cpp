#include "debug/debug_target.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <set>
#include <vector>

#include "debug/gdb_socket.h"
#include "debug/gdb_stub.h"
#include "debug/machine_target.h"
#include "debug/reverse_target.h"
#include "debug/watch_hooks.h"

namespace kiv {

namespace {

struct Watchpoint {
    WatchKind kind;
    uint32_t address;
    uint32_t length;

    bool operator==(const Watchpoint &) const = default;
    bool sees(uc_mem_type type) const {
        return kind == WatchKind::Access || (kind == WatchKind::Write) == (type == UC_MEM_WRITE);
    }
};

class CpuTarget final : public MachineTarget {
public:
    CpuTarget(Cpu &cpu, GuestMemory &memory, int cancel_fd) : MachineTarget(cpu, memory, cancel_fd) {}
    // A hook that stayed cannot fire: the CPU runs no more once its
    // session is over.
    ~CpuTarget() override { (void)release(); }
    CpuTarget(const CpuTarget &) = delete;
    CpuTarget &operator=(const CpuTarget &) = delete;

    bool add_breakpoint(BreakKind kind, uint32_t address) override {
        breakpoints_.insert({address, kind});
        return true;
    }

    bool remove_breakpoint(BreakKind kind, uint32_t address) override {
        return breakpoints_.erase({address, kind}) != 0;
    }

    bool add_watchpoint(WatchKind kind, uint32_t address, uint32_t length) override {
        if (length == 0 || uint64_t{address} + length > uint64_t{1} << 32) return false;
        watchpoints_.push_back({kind, address, length});
        return true;
    }

    bool remove_watchpoint(WatchKind kind, uint32_t address, uint32_t length) override {
        auto found = std::find(watchpoints_.begin(), watchpoints_.end(), Watchpoint{kind, address, length});
        if (found == watchpoints_.end()) return false;
        watchpoints_.erase(found);
        return true;
    }

    DebugStop resume(bool step) override {
        stepping_ = step;
        leaving_ = true;
        stop_.reset();
        watch_hit_.reset();
        if (!update_hooks()) {
            final_ = Stop{StopReason::EmulatorError, 0, {}, "cannot change the debugger's hooks"};
            return ended(*final_);
        }
        auto ended = cpu_.resume();
        stepping_ = false;
        if (!ended) return stop_.value_or(DebugStop{DebugStop::Kind::Interrupted});
        final_ = *ended;
        return this->ended(*ended);
    }

    void interrupt() override { cpu_.pause(); }

    bool release() override {
        breakpoints_.clear();
        watchpoints_.clear();
        stepping_ = false;
        return update_hooks();
    }

private:
    bool watching(uc_mem_type type) const {
        return std::any_of(watchpoints_.begin(), watchpoints_.end(), [type](auto &w) { return w.sees(type); });
    }

    // Hooks are compiled into translated code: changing them drops every
    // translation, at once (a whole flush would wait for the running block
    // to come back to the emulator's loop). False when the emulator refuses
    // a change: a missing hook misses points, a stale one outlives them.
    bool update_hooks() {
        const HookChange changes[] = {
            set_hook(code_hook_, stepping_ || !breakpoints_.empty() || !watchpoints_.empty(), UC_HOOK_CODE,
                     reinterpret_cast<void *>(on_code)),
            set_hook(read_hook_, watching(UC_MEM_READ), UC_HOOK_MEM_READ, reinterpret_cast<void *>(on_access)),
            set_hook(write_hook_, watching(UC_MEM_WRITE), UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(on_access)),
        };
        auto any = [&changes](HookChange change) {
            return std::find(std::begin(changes), std::end(changes), change) != std::end(changes);
        };
        if (any(HookChange::Refused)) return false;
        return !any(HookChange::Made) || drop_translations(uc_, memory_);
    }

    enum class HookChange { None, Made, Refused };

    HookChange set_hook(std::optional<uc_hook> &hook, bool wanted, int type, void *callback) {
        if (wanted == hook.has_value()) return HookChange::None;
        if (hook) {
            if (uc_hook_del(uc_, *hook) != UC_ERR_OK) return HookChange::Refused;
            hook.reset();
            return HookChange::Made;
        }
        uc_hook added;
        if (uc_hook_add(uc_, &added, type, callback, this, 1, 0) != UC_ERR_OK) return HookChange::Refused;
        hook = added;
        return HookChange::Made;
    }

    void stop_with(DebugStop stop) {
        stop_ = stop;
        cpu_.pause();
    }

    // Before each instruction. The first one after resume() runs even at a
    // breakpoint: it is where the program stopped last.
    static void on_code(uc_engine *, uint64_t address, uint32_t, void *self_pointer) {
        auto *self = static_cast<CpuTarget *>(self_pointer);
        if (self->cpu_.pinpointing()) return;
        if (self->watch_hit_) return self->stop_with(*self->watch_hit_);
        if (self->leaving_) {
            self->leaving_ = false;
            return;
        }
        auto breakpoint = self->breakpoints_.lower_bound({static_cast<uint32_t>(address), BreakKind::Software});
        if (breakpoint != self->breakpoints_.end() && breakpoint->first == address)
            return self->stop_with({DebugStop::Kind::Breakpoint, 0, 0, breakpoint->second});
        if (self->stepping_) self->stop_with({DebugStop::Kind::Step});
    }

    // Before a data access; the stop follows at the next instruction, as a
    // hardware watchpoint traps after the instruction.
    static void on_access(uc_engine *, uc_mem_type type, uint64_t address, int size, int64_t, void *self_pointer) {
        auto *self = static_cast<CpuTarget *>(self_pointer);
        if (self->watch_hit_ || self->cpu_.pinpointing()) return;
        uint64_t end = address + static_cast<uint64_t>(size);
        for (const auto &watch : self->watchpoints_) {
            if (!watch.sees(type) || end <= watch.address || address >= uint64_t{watch.address} + watch.length)
                continue;
            uint32_t inside = static_cast<uint32_t>(std::max<uint64_t>(address, watch.address));
            self->watch_hit_ = DebugStop{DebugStop::Kind::Watchpoint, 0, 0, BreakKind::Software, watch.kind, inside};
            return;
        }
    }

    std::set<std::pair<uint32_t, BreakKind>> breakpoints_;
    std::vector<Watchpoint> watchpoints_;
    bool stepping_ = false;
    bool leaving_ = false;                // the first instruction of a resume is still to come
    std::optional<DebugStop> stop_;       // why a hook paused the run
    std::optional<DebugStop> watch_hit_;  // a watched access, reported at the next instruction
    std::optional<uc_hook> code_hook_, read_hook_, write_hook_;
};

void announce(uint16_t port) { fprintf(stderr, "kivrun: waiting for gdb on 127.0.0.1:%u\n", port); }

}  // namespace

Stop run_with_gdb(Cpu &cpu, GuestMemory &memory, SyscallHandler &handler, uint32_t entry, uint32_t stack,
                  const GdbSettings &settings, int cancel_fd) {
    if (auto failed = cpu.start(memory, handler, entry, stack)) return *failed;
    std::unique_ptr<MachineTarget> target;
    if (settings.inputs) {
        auto reversible = std::make_unique<ReverseTarget>(cpu, memory, cancel_fd, settings.inputs);
        if (!reversible->start()) return Stop{StopReason::EmulatorError, 0, {}, "cannot keep checkpoints of the run"};
        target = std::move(reversible);
    } else {
        target = std::make_unique<CpuTarget>(cpu, memory, cancel_fd);
    }
    std::string error;
    auto socket = accept_gdb(settings.port, cancel_fd, announce, error);
    // Only the time limit cancels the wait.
    if (!socket) return error.empty() ? Stop{StopReason::TimedOut} : Stop{StopReason::EmulatorError, 0, {}, error};

    switch (serve_gdb(socket->get(), cancel_fd, *target)) {
    case SessionEnd::ProgramEnded:
        return target->final_stop().value_or(Stop{StopReason::EmulatorError, 0, {}, "the debugger ended the run"});
    case SessionEnd::Killed:
        if (target->final_stop()) return *target->final_stop();
        return {StopReason::Faulted, 0,
                Fault{"killed by the debugger", cpu.reg(UC_X86_REG_EIP), std::nullopt, kSignalStatusBase + SIGKILL}};
    case SessionEnd::Detached: {
        if (!target->release()) return {StopReason::EmulatorError, 0, {}, "cannot remove the debugger's hooks"};
        // Nothing is left to pause it; a request still on its way just lets it go on.
        std::optional<Stop> ended;
        while (!(ended = cpu.resume())) {
        }
        return *ended;
    }
    case SessionEnd::GivenUp:
        if (cpu.timed_out()) return {StopReason::TimedOut};
        break;
    case SessionEnd::Disconnected: break;
    }
    return {StopReason::EmulatorError, 0, {}, "the debugger disconnected"};
}

}  // namespace kiv
