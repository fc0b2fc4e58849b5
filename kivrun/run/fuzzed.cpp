#include "run/fuzzed.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "coverage/edge_map.h"
#include "machine/snapshot.h"
#include "run/afl_map.h"
#include "run/fork_server.h"
#include "run/shared_translations.h"
#include "run/watchdog.h"

namespace kiv {

namespace {

// The kit's loop marker, and abort(), which ends a kivos program by
// exit(1): AFL++ would take that for an ordinary exit, not a crash.
constexpr std::string_view kLoopFunction = "kivos_fuzz_loop";
constexpr std::string_view kAbortFunction = "abort";
constexpr uint32_t kStackWord = 4;

std::optional<uint32_t> function_address(const SymbolTable &symbols, std::string_view name) {
    for (const SymbolTable::Function &function : symbols.functions())
        if (function.name == name) return function.start;
    return std::nullopt;
}

// The calls the driver answers itself, caught at the functions' first
// instruction: the CPU pauses with the call still to be answered.
class GuestCalls {
public:
    enum class Call { None, Loop, Abort };

    explicit GuestCalls(Cpu &cpu) : cpu_(cpu) {}
    bool catch_calls(uint32_t address, Call call) {
        uc_hook hook;
        Catch &slot = call == Call::Loop ? loop_ : abort_;
        slot = {this, call};
        return uc_hook_add(cpu_.engine(), &hook, UC_HOOK_CODE, reinterpret_cast<void *>(on_call), &slot, address,
                           address) == UC_ERR_OK;
    }
    // The call the CPU paused at, forgotten once told.
    Call take_caught() { return std::exchange(caught_, Call::None); }

    // Returns from the caught call with `value`, as a cdecl function does.
    bool answer(GuestMemory &memory, uint32_t value) {
        uint32_t esp = cpu_.reg(UC_X86_REG_ESP), back = 0;
        if (!memory.read(esp, &back, sizeof back)) return false;
        esp += kStackWord;
        uc_engine *uc = cpu_.engine();
        return uc_reg_write(uc, UC_X86_REG_EAX, &value) == UC_ERR_OK &&
               uc_reg_write(uc, UC_X86_REG_ESP, &esp) == UC_ERR_OK &&
               uc_reg_write(uc, UC_X86_REG_EIP, &back) == UC_ERR_OK;
    }
    // The caught call's first argument.
    std::optional<uint32_t> argument(const GuestMemory &memory) const {
        uint32_t value = 0;
        if (!memory.read(cpu_.reg(UC_X86_REG_ESP) + kStackWord, &value, sizeof value)) return std::nullopt;
        return value;
    }

private:
    struct Catch {
        GuestCalls *calls;
        Call call;
    };
    static void on_call(uc_engine *, uint64_t, uint32_t, void *slot_pointer) {
        auto *slot = static_cast<Catch *>(slot_pointer);
        slot->calls->caught_ = slot->call;
        slot->calls->cpu_.pause();
    }

    Cpu &cpu_;
    Catch loop_{}, abort_{};
    Call caught_ = Call::None;
};

// The time limit, started anew for each execution.
class ExecutionLimit {
public:
    ExecutionLimit(Cpu &cpu, int cancel_fd, std::optional<double> seconds)
        : cpu_(cpu), cancel_fd_(cancel_fd), seconds_(seconds) {}
    bool start() {
        if (!seconds_) return true;
        auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(*seconds_));
        cpu_.set_deadline(deadline);
        watchdog_.reset();
        return arm_time_limit(watchdog_, cpu_, cancel_fd_, deadline, -1);
    }

private:
    Cpu &cpu_;
    int cancel_fd_;
    std::optional<double> seconds_;
    std::optional<Watchdog> watchdog_;
};

Stop host_error(std::string detail) { return Stop{StopReason::EmulatorError, 0, std::nullopt, std::move(detail)}; }

Stop aborted(uint32_t eip) {
    return Stop{StopReason::Faulted, 0, Fault{"abort() called", eip, std::nullopt, kSignalStatusBase + SIGABRT}};
}

// A child shares the server's cancellation eventfd: one child's time-out
// must not cancel the waits of the next.
bool fresh_cancellation(int cancel_fd) {
    int fresh = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fresh < 0) return false;
    bool moved = dup3(fresh, cancel_fd, O_CLOEXEC) == cancel_fd;
    close(fresh);
    return moved;
}

// A persistent loop's executions before the process starts over, as
// AFL++'s __AFL_LOOP(count) has it (0 counts as 1).
uint32_t loop_executions(std::optional<uint32_t> count) { return count.value_or(1) == 0 ? 1 : *count; }

// What a child runs: the program from its start, and in persistent mode
// one more execution from the snapshot at each later call of the loop,
// until its count is reached (the call then answers 0 and the program
// goes on to its end).
Stop run_executions(const FuzzedProgram &program, GuestCalls &calls, EdgeMap &edges) {
    Cpu &cpu = program.cpu;
    ExecutionLimit limit(cpu, program.cancel_fd, program.options.settings.timeout_seconds);
    Snapshot snapshot(cpu.engine(), program.memory);
    bool looping = false;
    uint32_t executions_left = 0;
    edges.start_over();
    if (!limit.start()) return host_error("cannot start the time limit's watchdog");
    for (;;) {
        if (auto stop = cpu.resume()) return *stop;
        GuestCalls::Call call = calls.take_caught();
        if (call == GuestCalls::Call::Abort) return aborted(cpu.reg(UC_X86_REG_EIP));
        if (call != GuestCalls::Call::Loop) return host_error("the program paused unasked");
        if (!looping) {
            executions_left = loop_executions(calls.argument(program.memory));
            if (!calls.answer(program.memory, 1) || !snapshot.take()) return host_error("cannot snapshot the machine");
            looping = true;
            continue;
        }
        // The count reached (or a call again after the loop ended): the
        // program goes on to its end.
        if (executions_left == 0 || --executions_left == 0) {
            if (!calls.answer(program.memory, 0)) return host_error("cannot return from the loop's call");
            continue;
        }
        ForkServer::end_execution();
        // A program that changed its mappings cannot go back: its
        // execution ended well, and the next one starts a new process.
        if (!snapshot.restore()) return Stop{StopReason::Exited, 0};
        edges.start_over();
        if (!limit.start()) return host_error("cannot start the time limit's watchdog");
    }
}

// Hooks what the program has of the calls the driver answers; the loop
// only under a fork server (run once, the program's own loop function runs
// its body once).
bool catch_calls(GuestCalls &calls, const SymbolTable &symbols, bool forking) {
    auto abort_address = function_address(symbols, kAbortFunction);
    if (abort_address && !calls.catch_calls(*abort_address, GuestCalls::Call::Abort)) return false;
    auto loop_address = function_address(symbols, kLoopFunction);
    return !forking || !loop_address || calls.catch_calls(*loop_address, GuestCalls::Call::Loop);
}

}  // namespace

Stop run_for_afl(const FuzzedProgram &program) {
    std::string error;
    auto map = AflMap::attach(*program.options.afl_shm_id, error);
    if (!map) return host_error(error);
    EdgeMap edges(map->bytes());
    ForkServer server;
    bool forking = server.greet(static_cast<uint32_t>(map->bytes().size()));
    // A persistent child keeps its translations from one input to the next.
    bool persistent = forking && function_address(program.image.symbols, kLoopFunction).has_value();
    std::optional<SharedTranslations> shared;
    if (forking && !persistent && shared.emplace(edges).opened()) program.cpu.listen_to_blocks(*shared);
    else program.cpu.listen_to_blocks(edges);
    if (auto failed = program.cpu.start(program.memory, program.handler, program.image.entry, program.stack))
        return *failed;
    GuestCalls calls(program.cpu);
    if (!catch_calls(calls, program.image.symbols, forking)) return host_error("cannot hook the program's calls");
    if (forking) {
        auto before_fork = [&] {
            if (shared) shared->translate(program.cpu.engine());
        };
        if (server.serve(before_fork) == ForkServer::Role::ServerDone) _exit(0);
        if (!fresh_cancellation(program.cancel_fd)) return host_error("cannot renew the cancellation eventfd");
    }
    Stop stop = run_executions(program, calls, edges);
    if (shared) shared->send();
    return stop;
}

}  // namespace kiv
