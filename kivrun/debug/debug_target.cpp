#include "debug/debug_target.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>
#include <vector>

#include "debug/gdb_socket.h"
#include "debug/gdb_stub.h"
#include "debug/registers.h"

namespace kiv {

namespace {

constexpr uint32_t kFirstSegment = 10, kLastSegment = 15;
// The emulator writes up to this many bytes for one register (an x87 one).
constexpr size_t kRegisterBuffer = 16;

struct Watchpoint {
    WatchKind kind;
    uint32_t address;
    uint32_t length;

    bool operator==(const Watchpoint &) const = default;
    bool sees(uc_mem_type type) const {
        return kind == WatchKind::Access || (kind == WatchKind::Write) == (type == UC_MEM_WRITE);
    }
};

class CpuTarget final : public DebugTarget {
public:
    CpuTarget(Cpu &cpu, GuestMemory &memory, int cancel_fd)
        : cpu_(cpu), memory_(memory), uc_(cpu.engine()), cancel_fd_(cancel_fd) {}
    // A hook that stayed cannot fire: the CPU runs no more once its
    // session is over.
    ~CpuTarget() override { (void)release(); }
    CpuTarget(const CpuTarget &) = delete;
    CpuTarget &operator=(const CpuTarget &) = delete;

    bool read_register(uint32_t number, std::span<uint8_t> out) override {
        if (number >= kRegisterCount || out.size() > kRegisterBuffer) return false;
        uint8_t value[kRegisterBuffer] = {};
        if (uc_reg_read(uc_, kRegisters[number].emulator, value) != UC_ERR_OK) return false;
        std::copy_n(value, out.size(), out.begin());
        return true;
    }

    // Segment registers hold the flat user segments the program cannot
    // change either; writing their own values back is no change.
    bool write_register(uint32_t number, std::span<const uint8_t> in) override {
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
    bool read_memory(uint32_t address, std::span<uint8_t> out) override {
        if (out.empty()) return true;
        if (!in_user_mappings(address, out.size())) return false;
        auto bytes = memory_.view(address, out.size(), 0);
        if (bytes) std::copy(bytes->begin(), bytes->end(), out.begin());
        return bytes.has_value();
    }

    // Code written here must not run from an older translation.
    bool write_memory(uint32_t address, std::span<const uint8_t> data) override {
        if (data.empty()) return true;
        if (!in_user_mappings(address, data.size())) return false;
        memory_.poke(address, data.data(), static_cast<uint32_t>(data.size()));
        return uc_ctl_remove_cache(uc_, uint64_t{address}, uint64_t{address} + data.size()) == UC_ERR_OK;
    }

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
            return debug_stop(*final_);
        }
        auto ended = cpu_.resume();
        stepping_ = false;
        if (!ended) return stop_.value_or(DebugStop{DebugStop::Kind::Interrupted});
        final_ = *ended;
        DebugStop stop = debug_stop(*ended);
        if (stop.kind == DebugStop::Kind::Fault) describe_fault(*ended->fault, stop);
        return stop;
    }

    void interrupt() override { cpu_.pause(); }

    void abandon() override {
        cpu_.pause();
        uint64_t one = 1;
        (void)!::write(cancel_fd_, &one, sizeof one);
    }

    // Drops every breakpoint and watchpoint, with their hooks; false when
    // a hook stays, which must then never run again.
    bool release() {
        breakpoints_.clear();
        watchpoints_.clear();
        stepping_ = false;
        return update_hooks();
    }

    // How the program ended, once it has.
    const std::optional<Stop> &final_stop() const { return final_; }

private:
    bool in_user_mappings(uint32_t address, uint64_t length) const {
        return uint64_t{address} + length <= kUserEnd && memory_.usable(address, length, 0);
    }

    static DebugStop debug_stop(const Stop &stop) {
        switch (stop.reason) {
        case StopReason::Exited: return {DebugStop::Kind::Exited, 0, stop.status};
        case StopReason::Faulted: return {DebugStop::Kind::Fault, stop.fault->exit_code - kSignalStatusBase};
        default: return {DebugStop::Kind::Ended, SIGKILL};
        }
    }

    // What a Linux process's siginfo would hold: si_addr, and for SIGSEGV
    // whether nothing was mapped there or the access was not allowed.
    void describe_fault(const Fault &fault, DebugStop &stop) const {
        stop.data_address = fault.address.value_or(fault.eip);
        if (stop.signal != SIGSEGV) return;
        stop.signal_code = memory_.usable(stop.data_address, 1, 0) ? SEGV_ACCERR : SEGV_MAPERR;
    }

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
        if (!any(HookChange::Made)) return true;
        for (const auto &mapping : memory_.mappings())
            if ((mapping.protection & kAccessExec) != 0 &&
                uc_ctl_remove_cache(uc_, uint64_t{mapping.start}, uint64_t{mapping.start} + mapping.size) != UC_ERR_OK)
                return false;
        return true;
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

    Cpu &cpu_;
    GuestMemory &memory_;
    uc_engine *uc_;
    int cancel_fd_;
    std::set<std::pair<uint32_t, BreakKind>> breakpoints_;
    std::vector<Watchpoint> watchpoints_;
    bool stepping_ = false;
    bool leaving_ = false;                  // the first instruction of a resume is still to come
    std::optional<DebugStop> stop_;         // why a hook paused the run
    std::optional<DebugStop> watch_hit_;    // a watched access, reported at the next instruction
    std::optional<uc_hook> code_hook_, read_hook_, write_hook_;
    std::optional<Stop> final_;
};

void announce(uint16_t port) { fprintf(stderr, "kivrun: waiting for gdb on 127.0.0.1:%u\n", port); }

}  // namespace

Stop run_with_gdb(Cpu &cpu, GuestMemory &memory, SyscallHandler &handler, uint32_t entry, uint32_t stack,
                  uint16_t port, int cancel_fd) {
    if (auto failed = cpu.start(memory, handler, entry, stack)) return *failed;
    std::string error;
    auto socket = accept_gdb(port, cancel_fd, announce, error);
    // Only the time limit cancels the wait.
    if (!socket) return error.empty() ? Stop{StopReason::TimedOut} : Stop{StopReason::EmulatorError, 0, {}, error};

    CpuTarget target(cpu, memory, cancel_fd);
    switch (serve_gdb(socket->get(), cancel_fd, target)) {
    case SessionEnd::ProgramEnded:
        return target.final_stop().value_or(Stop{StopReason::EmulatorError, 0, {}, "the debugger ended the run"});
    case SessionEnd::Killed:
        if (target.final_stop()) return *target.final_stop();
        return {StopReason::Faulted, 0,
                Fault{"killed by the debugger", cpu.reg(UC_X86_REG_EIP), std::nullopt, kSignalStatusBase + SIGKILL}};
    case SessionEnd::Detached: {
        if (!target.release()) return {StopReason::EmulatorError, 0, {}, "cannot remove the debugger's hooks"};
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
