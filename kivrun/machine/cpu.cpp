#include "machine/cpu.h"

#include <setjmp.h>

#include <csignal>
#include <cstdio>
#include <iterator>
#include <mutex>

#include "kiv_syscalls.h"
#include "machine/initial_state.h"
#include "machine/memory_map.h"

namespace kiv {

namespace {

// Emulation would stop silently on reaching its end address; a 32-bit EIP
// can never equal this one.
constexpr uint64_t kNeverReached = uint64_t{1} << 32;
// A system call's number and argument words, in SyscallRegisters order.
constexpr int kSyscallRegisters[] = {UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX,
                                     UC_X86_REG_ESI, UC_X86_REG_EDI, UC_X86_REG_EBP};

// Unicorn 2.0.1's code generator aborts the whole process on a few
// instructions it decodes but cannot translate (a far call or jump through a
// register operand, which the CPU itself refuses as invalid). While emulation
// runs, the abort is turned into a jump back to the caller, which ends the
// run with an invalid-instruction report instead.
thread_local sigjmp_buf *t_translation_escape = nullptr;

void on_abort(int signal) {
    if (t_translation_escape != nullptr) siglongjmp(*t_translation_escape, 1);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void catch_translation_aborts() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = on_abort;
        sigemptyset(&action.sa_mask);
        sigaction(SIGABRT, &action, nullptr);
    });
}

}  // namespace

// Unicorn 2.1 keeps one 32-byte array from uc_open that uc_close never
// frees: the emulator's leak, not kivrun's, and not to be reported as one
// by the checked builds.
#if defined(__SANITIZE_ADDRESS__)
#define KIV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KIV_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef KIV_ADDRESS_SANITIZER
extern "C" const char *__lsan_default_suppressions() { return "leak:g_array_new\n"; }
// Nothing on standard error but the program's and kivrun's own lines.
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }
#endif

std::string emulator_version() {
    return "Unicorn " + std::to_string(UC_VERSION_MAJOR) + "." + std::to_string(UC_VERSION_MINOR) + "." +
           std::to_string(UC_VERSION_PATCH);
}

// Page protections are checked when the emulator fills its TLB, through
// on_tlb_fill: a refusal there stops at the faulting instruction, where the
// emulator's own region checks would stop at the start of its block. The
// translation buffer's size is read when the emulator starts, before any
// other setting.
Cpu::Cpu() {
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc_) != UC_ERR_OK) {
        uc_ = nullptr;
    } else if (uc_ctl_set_tcg_buffer_size(uc_, kTranslationCacheBytes) != UC_ERR_OK ||
               uc_ctl_tlb_mode(uc_, UC_TLB_VIRTUAL) != UC_ERR_OK) {
        uc_close(uc_);
        uc_ = nullptr;
    }
}

Cpu::~Cpu() {
    if (uc_ != nullptr) uc_close(uc_);
}

uc_err Cpu::emulate(uint64_t begin, uint64_t until) {
    catch_translation_aborts();
    sigjmp_buf escape;
    if (sigsetjmp(escape, 1) != 0) {
        t_translation_escape = nullptr;
        set_in_guest_code(false);
        checking_pages_ = false;
        if (!stop_)
            stop_ = Stop{StopReason::Faulted, 0,
                         Fault{"invalid instruction (one the emulator cannot translate)", reg(UC_X86_REG_EIP),
                               std::nullopt, kSignalStatusBase + SIGILL}};
        return UC_ERR_OK;
    }
    t_translation_escape = &escape;
    if (!check_pages()) {
        t_translation_escape = nullptr;
        return UC_ERR_OK;
    }
    set_in_guest_code(true);
    uc_err error = uc_emu_start(uc_, begin, until, 0, 0);
    set_in_guest_code(false);
    checking_pages_ = false;
    t_translation_escape = nullptr;
    if (error == UC_ERR_EXCEPTION && refused_ && code_ahead_refused()) error = run_up_to_refused_code();
    if (error == UC_ERR_EXCEPTION && refused_) {
        Fault fault = pinpoint_memory_fault();
        if (!stop_) stop_ = Stop{StopReason::Faulted, 0, std::move(fault)};
        return UC_ERR_OK;
    }
    return error;
}

void Cpu::set_in_guest_code(bool inside) {
    std::lock_guard lock(stop_gate_);
    in_guest_code_ = inside;
}

void Cpu::request_stop() {
    std::lock_guard lock(stop_gate_);
    if (in_guest_code_) uc_emu_stop(uc_);
}

bool Cpu::timed_out() {
    if (!timed_out_ && deadline_ && std::chrono::steady_clock::now() >= *deadline_) timed_out_ = true;
    return timed_out_;
}

uint32_t Cpu::reg(int id) const {
    uint32_t value = 0;
    uc_reg_read(uc_, id, &value);
    return value;
}

std::string Cpu::register_dump() const {
    char text[160];
    snprintf(text, sizeof text, "eax=%08x ebx=%08x ecx=%08x edx=%08x esi=%08x edi=%08x ebp=%08x esp=%08x",
             reg(UC_X86_REG_EAX), reg(UC_X86_REG_EBX), reg(UC_X86_REG_ECX), reg(UC_X86_REG_EDX), reg(UC_X86_REG_ESI),
             reg(UC_X86_REG_EDI), reg(UC_X86_REG_EBP), reg(UC_X86_REG_ESP));
    return text;
}

Stop Cpu::run(GuestMemory &memory, SyscallHandler &handler, uint32_t entry, uint32_t stack) {
    if (auto failed = start(memory, handler, entry, stack)) return *failed;
    return resume().value_or(Stop{StopReason::EmulatorError, 0, std::nullopt, "emulation paused"});
}

std::optional<Stop> Cpu::start(GuestMemory &memory, SyscallHandler &handler, uint32_t entry, uint32_t stack) {
    if (uc_ == nullptr) return Stop{StopReason::EmulatorError, 0, std::nullopt, "cannot start the CPU emulator"};
    if (timed_out()) return Stop{StopReason::TimedOut};
    if (!prepare_user_mode(uc_, memory, entry, stack))
        return Stop{StopReason::EmulatorError, 0, std::nullopt, "cannot set up user mode"};
    if (tsc_ || time_stamps_ != nullptr) {
        if (auto refusal = hook_rdtsc_sites()) return *refusal;
    }
    handler_ = &handler;
    memory_ = &memory;
    if (!add_hooks()) return Stop{StopReason::EmulatorError, 0, std::nullopt, "cannot install the emulator's hooks"};

    // The iret into user mode needs the kernel page; from the program's
    // first instruction on, nothing of it may be read, written or run.
    if (auto ended = stop_after(emulate(kUserModeTrampoline, entry))) return ended;
    if (!memory.protect(kKernelPage, 0))
        return Stop{StopReason::EmulatorError, 0, std::nullopt, "cannot protect the kernel page"};
    // The block at the entry was translated to stop there: drop it.
    if (!drop_translation(entry)) return stop_;
    started_ = true;
    return std::nullopt;
}

std::optional<Stop> Cpu::resume() {
    paused_ = false;
    timed_out();
    if (auto ended = stop_after(UC_ERR_OK)) return ended;
    if (auto ended = stop_after(emulate(reg(UC_X86_REG_EIP), kNeverReached))) return ended;
    if (paused_) return std::nullopt;
    return Stop{StopReason::EmulatorError, 0, std::nullopt, "emulation ended without an exit"};
}

// Each hook guards something: a missing one would leave port I/O, sysenter
// or a fault unguarded, so the run does not start without all of them.
bool Cpu::add_hooks() {
    struct Hook {
        int type;
        void *callback;
        int instruction;  // for UC_HOOK_INSN only
        bool wanted;
    };
    const Hook hooks[] = {
        {UC_HOOK_TLB_FILL, reinterpret_cast<void *>(on_tlb_fill), 0, true},
        {UC_HOOK_INTR, reinterpret_cast<void *>(on_interrupt), 0, true},
        {UC_HOOK_MEM_INVALID, reinterpret_cast<void *>(on_invalid_memory), 0, true},
        {UC_HOOK_INSN_INVALID, reinterpret_cast<void *>(on_invalid_instruction), 0, true},
        // Counting blocks costs a little per block: only when a limit or
        // coverage is asked for.
        {UC_HOOK_BLOCK, reinterpret_cast<void *>(on_block), 0,
         block_limit_ != 0 || block_counts_ != nullptr || block_listener_ != nullptr || counting_blocks_},
        {UC_HOOK_INSN, reinterpret_cast<void *>(on_port_in), UC_X86_INS_IN, true},
        {UC_HOOK_INSN, reinterpret_cast<void *>(on_port_out), UC_X86_INS_OUT, true},
        {UC_HOOK_INSN, reinterpret_cast<void *>(on_sysenter), UC_X86_INS_SYSENTER, true},
        {UC_HOOK_INSN, reinterpret_cast<void *>(on_syscall), UC_X86_INS_SYSCALL, true},
        {UC_HOOK_INSN, reinterpret_cast<void *>(on_cpuid), UC_X86_INS_CPUID, true},
    };
    for (const Hook &hook : hooks) {
        uc_hook handle;
        if (hook.wanted &&
            uc_hook_add(uc_, &handle, hook.type, hook.callback, this, 1, 0, hook.instruction) != UC_ERR_OK)
            return false;
    }
    return true;
}

std::optional<Stop> Cpu::stop_after(uc_err error) const {
    if (timed_out_) return Stop{StopReason::TimedOut};
    if (stop_) return *stop_;
    if (error != UC_ERR_OK)
        return Stop{StopReason::EmulatorError, 0, std::nullopt, std::string("emulator stopped: ") + uc_strerror(error)};
    return std::nullopt;
}

void Cpu::pause() {
    paused_ = true;
    request_stop();
}

void Cpu::stop_for_timeout() {
    timed_out_ = true;
    request_stop();
}

void Cpu::fault(Fault fault) {
    if (!stop_) stop_ = Stop{StopReason::Faulted, 0, std::move(fault)};
    uc_emu_stop(uc_);
}

void Cpu::emulator_failed(std::string what) {
    if (!stop_) stop_ = Stop{StopReason::EmulatorError, 0, std::nullopt, std::move(what)};
    uc_emu_stop(uc_);
}

// The number and the six argument words, read in one batch: the
// emulator's per-call overhead shows at every system call.
void Cpu::serve_syscall() {
    SyscallRegisters registers{};
    void *values[] = {&registers.number,  &registers.args[0], &registers.args[1], &registers.args[2],
                      &registers.args[3], &registers.args[4], &registers.args[5]};
    static_assert(std::size(kSyscallRegisters) == std::size(values));
    if (uc_reg_read_batch(uc_, const_cast<int *>(kSyscallRegisters), values, static_cast<int>(std::size(values))) !=
        UC_ERR_OK) {
        emulator_failed("cannot read the system-call registers");
        return;
    }
    if (timed_out()) {
        uc_emu_stop(uc_);
        return;
    }
    // The call may map memory: no other thread's stop may reach the
    // emulator meanwhile; one that came is made here instead.
    set_in_guest_code(false);
    checking_pages_ = false;
    SyscallResult result = handler_->syscall(registers);
    bool checking = check_pages();
    set_in_guest_code(true);
    if (!checking) return;
    if (result.ends_process) {
        stop_ = Stop{StopReason::Exited, result.value};
        uc_emu_stop(uc_);
        return;
    }
    if (uc_reg_write(uc_, UC_X86_REG_EAX, &result.value) != UC_ERR_OK)
        emulator_failed("cannot return the system call's value");
    if (timed_out_ || paused_) uc_emu_stop(uc_);
}

void Cpu::on_interrupt(uc_engine *, uint32_t vector, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    if (vector == KIV_SYSCALL_VECTOR) {
        self->serve_syscall();
        return;
    }
    self->fault_by_interrupt(vector);
}

// CPUID answers from kivrun's own table (served_cpuid).
int Cpu::on_cpuid(uc_engine *uc, void *self_pointer) {
    if (!answer_cpuid(uc)) static_cast<Cpu *>(self_pointer)->emulator_failed("cannot answer cpuid");
    return kSkipEmulatorsCpuid;
}

void Cpu::on_block(uc_engine *uc, uint64_t address, uint32_t size, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    // A block the limit stops does not run: it is not counted either.
    if (++self->blocks_ > self->block_limit_ && self->block_limit_ != 0) {
        if (!self->stop_) self->stop_ = Stop{StopReason::BlockLimit};
        uc_emu_stop(uc);
        return;
    }
    if (self->block_counts_ != nullptr) self->block_counts_->count(address, size);
    if (self->block_listener_ != nullptr) self->block_listener_->entered(static_cast<uint32_t>(address));
}

}  // namespace kiv
