#include "cpu.h"

#include <setjmp.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "kiv_syscalls.h"
#include "memory_map.h"

namespace kiv {

namespace {

// Two pages above the user range, where no guest pointer is ever accepted.
// The kernel page holds the iret that drops into user mode; from the
// program's first instruction on it cannot be read, written or run. The
// descriptor table has a page of its own that stays readable, because the
// CPU reads it through guest memory whenever a segment register is loaded
// (even a user program reloading its own selectors). Guest instructions can
// read it too: it holds nothing but the five flat descriptors, and it is
// read-only, so no program can raise its own privilege through it.
constexpr uint32_t kTrampoline = kKernelPage;          // one iret instruction
constexpr uint32_t kIretFrame = kKernelPage + 0x100;   // EIP, CS, EFLAGS, ESP, SS
constexpr uint32_t kGdt = kDescriptorTablePage;

enum GdtSlot : uint32_t { kNull, kUserCode, kUserData, kKernelCode, kKernelData, kGdtSlots };

constexpr uint32_t selector(GdtSlot slot, uint32_t privilege) { return (slot << 3) | privilege; }

// A flat 4 GiB segment descriptor.
constexpr uint64_t flat_descriptor(bool code, uint32_t privilege) {
    constexpr uint64_t kLimitLow = 0xffff;
    constexpr uint64_t kLimitHigh = 0xfull << 48;
    constexpr uint64_t kPresent = 0x80;
    constexpr uint64_t kCodeOrData = 0x10;
    // Marked accessed already: the CPU would otherwise set the bit at the
    // first load, a write the read-only table refuses.
    constexpr uint64_t kExecuteRead = 0x0b;
    constexpr uint64_t kReadWrite = 0x03;
    constexpr uint64_t kPageGranular32Bit = 0xcull << 52;
    uint64_t access = kPresent | (uint64_t{privilege} << 5) | kCodeOrData | (code ? kExecuteRead : kReadWrite);
    return kLimitLow | (access << 40) | kLimitHigh | kPageGranular32Bit;
}

constexpr uint32_t kEflagsInterrupts = 0x202;
// Emulation would stop silently on reaching its end address; a 32-bit EIP
// can never equal this one.
constexpr uint64_t kNeverReached = uint64_t{1} << 32;
constexpr uint8_t kIret = 0xcf;
// A system call's number and argument words, in SyscallRegisters order.
constexpr int kSyscallRegisters[] = {UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX,
                                     UC_X86_REG_ESI, UC_X86_REG_EDI, UC_X86_REG_EBP};
constexpr uint8_t kRdtsc[] = {0x0f, 0x31};

struct VectorInfo {
    uint32_t vector;
    const char *what;
    int signal;
};

// CPU exceptions a user program can raise, and the signal a Linux process
// would get for each (the run's exit status is 128 + that signal).
constexpr VectorInfo kVectors[] = {
    {0, "divide error", SIGFPE},
    {1, "debug trap", SIGTRAP},
    {3, "breakpoint (int3)", SIGTRAP},
    {4, "overflow (into)", SIGSEGV},
    {5, "bound range exceeded", SIGSEGV},
    {6, "invalid instruction", SIGILL},
    {7, "floating-point unit not available", SIGFPE},
    {10, "invalid task state", SIGSEGV},
    {11, "segment not present", SIGBUS},
    {12, "stack segment fault", SIGBUS},
    {13, "general protection fault (privileged instruction, bad interrupt or selector)", SIGSEGV},
    {14, "page fault", SIGSEGV},
    {16, "floating-point error", SIGFPE},
    {17, "alignment check", SIGBUS},
    {19, "SIMD floating-point error", SIGFPE},
};

const char *memory_fault_what(uc_mem_type type) {
    switch (type) {
    case UC_MEM_READ_UNMAPPED: return "page fault (read from unmapped memory)";
    case UC_MEM_WRITE_UNMAPPED: return "page fault (write to unmapped memory)";
    case UC_MEM_FETCH_UNMAPPED: return "page fault (execution of unmapped memory)";
    case UC_MEM_WRITE_PROT: return "page fault (write to read-only memory)";
    case UC_MEM_READ_PROT: return "page fault (read from unreadable memory)";
    case UC_MEM_FETCH_PROT: return "page fault (execution of non-executable memory)";
    default: return "page fault";
    }
}

// Each hooked site costs the emulator memory and set-up time: a program
// with more places spelling rdtsc is refused under --tsc.
constexpr size_t kMaxRdtscSites = 4096;

// Addresses in executable memory whose bytes spell rdtsc, whether or not an
// instruction starts there; the search ends after one more than
// kMaxRdtscSites.
std::optional<std::vector<uint64_t>> rdtsc_sites(uc_engine *uc) {
    uc_mem_region *regions = nullptr;
    uint32_t count = 0;
    if (uc_mem_regions(uc, &regions, &count) != UC_ERR_OK) return std::nullopt;
    std::unique_ptr<uc_mem_region, uc_err (*)(void *)> owner(regions, uc_free);
    std::vector<uint64_t> sites;
    for (const uc_mem_region &region : std::span(regions, count)) {
        if ((region.perms & UC_PROT_EXEC) == 0) continue;
        std::vector<uint8_t> code(region.end - region.begin + 1);
        if (uc_mem_read(uc, region.begin, code.data(), code.size()) != UC_ERR_OK) return std::nullopt;
        auto site = code.begin();
        while (sites.size() <= kMaxRdtscSites &&
               (site = std::search(site, code.end(), std::begin(kRdtsc), std::end(kRdtsc))) != code.end())
            sites.push_back(region.begin + static_cast<uint64_t>(site++ - code.begin()));
    }
    return sites;
}

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

Cpu::Cpu() {
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc_) != UC_ERR_OK) uc_ = nullptr;
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
        if (!stop_)
            stop_ = Stop{StopReason::Faulted, 0,
                         Fault{"invalid instruction (one the emulator cannot translate)", reg(UC_X86_REG_EIP),
                               std::nullopt, kFaultBase + SIGILL}};
        return UC_ERR_OK;
    }
    t_translation_escape = &escape;
    set_in_guest_code(true);
    uc_err error = uc_emu_start(uc_, begin, until, 0, 0);
    set_in_guest_code(false);
    t_translation_escape = nullptr;
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
             reg(UC_X86_REG_EAX), reg(UC_X86_REG_EBX), reg(UC_X86_REG_ECX), reg(UC_X86_REG_EDX),
             reg(UC_X86_REG_ESI), reg(UC_X86_REG_EDI), reg(UC_X86_REG_EBP), reg(UC_X86_REG_ESP));
    return text;
}

bool Cpu::enter_user_mode(GuestMemory &memory, uint32_t entry, uint32_t stack) {
    if (!memory.map(kKernelPage, kPageSize, kAccessRead | kAccessExec) || !memory.map(kGdt, kPageSize, kAccessRead))
        return false;
    uint64_t gdt[kGdtSlots] = {0, flat_descriptor(true, 3), flat_descriptor(false, 3), flat_descriptor(true, 0),
                               flat_descriptor(false, 0)};
    uint32_t frame[5] = {entry, selector(kUserCode, 3), kEflagsInterrupts, stack, selector(kUserData, 3)};
    if (!memory.poke(kGdt, gdt, sizeof gdt) || !memory.poke(kIretFrame, frame, sizeof frame) ||
        !memory.poke(kTrampoline, &kIret, 1))
        return false;

    uc_x86_mmr gdtr{};
    gdtr.base = kGdt;
    gdtr.limit = sizeof gdt - 1;
    uint32_t kernel_code = selector(kKernelCode, 0);
    uint32_t kernel_data = selector(kKernelData, 0);
    uint32_t user_data = selector(kUserData, 3);
    uint32_t frame_pointer = kIretFrame;
    return uc_reg_write(uc_, UC_X86_REG_GDTR, &gdtr) == UC_ERR_OK &&
           uc_reg_write(uc_, UC_X86_REG_SS, &kernel_data) == UC_ERR_OK &&
           uc_reg_write(uc_, UC_X86_REG_CS, &kernel_code) == UC_ERR_OK &&
           uc_reg_write(uc_, UC_X86_REG_DS, &user_data) == UC_ERR_OK &&
           uc_reg_write(uc_, UC_X86_REG_ES, &user_data) == UC_ERR_OK &&
           uc_reg_write(uc_, UC_X86_REG_FS, &user_data) == UC_ERR_OK &&
           uc_reg_write(uc_, UC_X86_REG_GS, &user_data) == UC_ERR_OK &&
           uc_reg_write(uc_, UC_X86_REG_ESP, &frame_pointer) == UC_ERR_OK;
}

Stop Cpu::run(GuestMemory &memory, SyscallHandler &handler, uint32_t entry, uint32_t stack) {
    if (auto failed = start(memory, handler, entry, stack)) return *failed;
    return resume().value_or(Stop{StopReason::EmulatorError, 0, std::nullopt, "emulation paused"});
}

std::optional<Stop> Cpu::start(GuestMemory &memory, SyscallHandler &handler, uint32_t entry, uint32_t stack) {
    if (uc_ == nullptr) return Stop{StopReason::EmulatorError, 0, std::nullopt, "cannot start the CPU emulator"};
    if (timed_out()) return Stop{StopReason::TimedOut};
    if (!enter_user_mode(memory, entry, stack))
        return Stop{StopReason::EmulatorError, 0, std::nullopt, "cannot set up user mode"};
    if (tsc_) {
        if (auto refusal = hook_rdtsc_sites()) return *refusal;
    }
    handler_ = &handler;
    uc_hook interrupt_hook, memory_hook, instruction_hook, block_hook;
    uc_hook_add(uc_, &interrupt_hook, UC_HOOK_INTR, reinterpret_cast<void *>(on_interrupt), this, 1, 0);
    uc_hook_add(uc_, &memory_hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void *>(on_invalid_memory), this, 1, 0);
    uc_hook_add(uc_, &instruction_hook, UC_HOOK_INSN_INVALID, reinterpret_cast<void *>(on_invalid_instruction),
                this, 1, 0);
    // Counting blocks costs a little per block: only when a limit is asked for.
    if (block_limit_ != 0)
        uc_hook_add(uc_, &block_hook, UC_HOOK_BLOCK, reinterpret_cast<void *>(on_block), this, 1, 0);

    uc_hook in_hook, out_hook, sysenter_hook, syscall_hook;
    uc_hook_add(uc_, &in_hook, UC_HOOK_INSN, reinterpret_cast<void *>(on_port_in), this, 1, 0, UC_X86_INS_IN);
    uc_hook_add(uc_, &out_hook, UC_HOOK_INSN, reinterpret_cast<void *>(on_port_out), this, 1, 0, UC_X86_INS_OUT);
    // The kernel's only way in is interrupt 0x80; the emulator would skip
    // these two silently.
    uc_hook_add(uc_, &sysenter_hook, UC_HOOK_INSN, reinterpret_cast<void *>(on_invalid_instruction), this, 1, 0,
                UC_X86_INS_SYSENTER);
    uc_hook_add(uc_, &syscall_hook, UC_HOOK_INSN, reinterpret_cast<void *>(on_invalid_instruction), this, 1, 0,
                UC_X86_INS_SYSCALL);

    // The iret into user mode needs the kernel page; from the program's
    // first instruction on, nothing of it may be read, written or run.
    if (auto ended = ending(emulate(kTrampoline, entry))) return ended;
    if (!memory.protect(kKernelPage, 0))
        return Stop{StopReason::EmulatorError, 0, std::nullopt, "cannot protect the kernel page"};
    // The block at the entry was translated to stop there: drop it.
    uc_ctl_remove_cache(uc_, uint64_t{entry}, uint64_t{entry} + 1);
    return std::nullopt;
}

std::optional<Stop> Cpu::resume() {
    paused_ = false;
    timed_out();
    if (auto ended = ending(UC_ERR_OK)) return ended;
    if (auto ended = ending(emulate(reg(UC_X86_REG_EIP), kNeverReached))) return ended;
    if (paused_) return std::nullopt;
    return Stop{StopReason::EmulatorError, 0, std::nullopt, "emulation ended without an exit"};
}

std::optional<Stop> Cpu::ending(uc_err error) const {
    if (timed_out_) return Stop{StopReason::TimedOut};
    if (stop_) return *stop_;
    if (error != UC_ERR_OK)
        return Stop{StopReason::EmulatorError, 0, std::nullopt, std::string("emulator stopped: ") + uc_strerror(error)};
    return std::nullopt;
}

// This Unicorn has no rdtsc hook, and a trap through CR4.TSD breaks down
// from the second read on (the emulator keeps the first caught fault pending
// and escalates the next ones to double and triple faults). A code hook on
// every instruction would slow the whole run, so each place in executable
// memory whose bytes spell rdtsc gets a hook of its own: it fires only when an
// instruction starts there, and then that instruction is rdtsc. Code the
// guest makes executable later is not covered.
std::optional<Stop> Cpu::hook_rdtsc_sites() {
    Stop failed{StopReason::EmulatorError, 0, std::nullopt, "cannot take over the time-stamp counter"};
    auto sites = rdtsc_sites(uc_);
    if (!sites) return failed;
    if (sites->size() > kMaxRdtscSites)
        return Stop{StopReason::Refused, 0, std::nullopt,
                    "more than " + std::to_string(kMaxRdtscSites) + " places in its code spell rdtsc (--tsc)"};
    for (uint64_t address : *sites) {
        uc_hook hook;
        if (uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void *>(on_rdtsc), this, address, address) !=
            UC_ERR_OK)
            return failed;
    }
    return std::nullopt;
}

// Performs the rdtsc at EIP with the next value of the sequence, unless the
// code there has changed since the hook was placed.
void Cpu::emulate_rdtsc() {
    uint32_t eip = reg(UC_X86_REG_EIP);
    uint8_t code[sizeof kRdtsc];
    if (uc_mem_read(uc_, eip, code, sizeof code) != UC_ERR_OK || !std::equal(code, code + sizeof code, kRdtsc))
        return;
    uint64_t value = tsc_->at(tsc_reads_++);
    uint32_t low = static_cast<uint32_t>(value), high = static_cast<uint32_t>(value >> 32);
    uint32_t next = eip + sizeof kRdtsc;
    uc_reg_write(uc_, UC_X86_REG_EAX, &low);
    uc_reg_write(uc_, UC_X86_REG_EDX, &high);
    uc_reg_write(uc_, UC_X86_REG_EIP, &next);
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

// The number and the six argument words, read in one batch: the
// emulator's per-call overhead shows at every system call.
void Cpu::serve_syscall() {
    SyscallRegisters registers{};
    void *values[] = {&registers.number, &registers.args[0], &registers.args[1], &registers.args[2],
                      &registers.args[3], &registers.args[4], &registers.args[5]};
    static_assert(std::size(kSyscallRegisters) == std::size(values));
    if (uc_reg_read_batch(uc_, const_cast<int *>(kSyscallRegisters), values,
                          static_cast<int>(std::size(values))) != UC_ERR_OK) {
        if (!stop_) stop_ = Stop{StopReason::EmulatorError, 0, std::nullopt, "cannot read the system-call registers"};
        uc_emu_stop(uc_);
        return;
    }
    if (timed_out()) {
        uc_emu_stop(uc_);
        return;
    }
    // The call may map memory: no other thread's stop may reach the
    // emulator meanwhile; one that came is made here instead.
    set_in_guest_code(false);
    SyscallResult result = handler_->syscall(registers);
    set_in_guest_code(true);
    if (result.ends_process) {
        stop_ = Stop{StopReason::Exited, result.value};
        uc_emu_stop(uc_);
        return;
    }
    uc_reg_write(uc_, UC_X86_REG_EAX, &result.value);
    if (timed_out_ || paused_) uc_emu_stop(uc_);
}

void Cpu::on_interrupt(uc_engine *, uint32_t vector, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    if (vector == KIV_SYSCALL_VECTOR) {
        self->serve_syscall();
        return;
    }
    Fault fault{"interrupt " + std::to_string(vector), self->reg(UC_X86_REG_EIP), std::nullopt,
                kFaultBase + SIGSEGV};
    for (const auto &info : kVectors) {
        if (info.vector == vector) {
            fault.what = info.what;
            fault.exit_code = kFaultBase + info.signal;
        }
    }
    self->fault(std::move(fault));
}

bool Cpu::on_invalid_memory(uc_engine *, uc_mem_type type, uint64_t address, int, int64_t, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    self->fault({memory_fault_what(type), self->reg(UC_X86_REG_EIP), static_cast<uint32_t>(address),
                 kFaultBase + SIGSEGV});
    return false;
}

uint32_t Cpu::on_port_in(uc_engine *, uint32_t, int, void *self_pointer) {
    static_cast<Cpu *>(self_pointer)->port_access();
    return 0;
}

void Cpu::on_port_out(uc_engine *, uint32_t, int, uint32_t, void *self_pointer) {
    static_cast<Cpu *>(self_pointer)->port_access();
}

// Port I/O is privileged in user mode; the emulator does not check that
// itself.
void Cpu::port_access() {
    fault({"general protection fault (port I/O is privileged)", reg(UC_X86_REG_EIP), std::nullopt,
           kFaultBase + SIGSEGV});
}

bool Cpu::on_invalid_instruction(uc_engine *, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    self->fault({"invalid instruction", self->reg(UC_X86_REG_EIP), std::nullopt, kFaultBase + SIGILL});
    return false;
}

void Cpu::on_rdtsc(uc_engine *, uint64_t, uint32_t, void *self) { static_cast<Cpu *>(self)->emulate_rdtsc(); }

void Cpu::on_block(uc_engine *uc, uint64_t, uint32_t, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    if (++self->blocks_ > self->block_limit_) {
        if (!self->stop_) self->stop_ = Stop{StopReason::BlockLimit};
        uc_emu_stop(uc);
    }
}

}  // namespace kiv
