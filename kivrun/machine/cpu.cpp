#include "machine/cpu.h"

#include <setjmp.h>

#include <capstone/capstone.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "kiv_syscalls.h"
#include "machine/initial_state.h"
#include "machine/memory_map.h"
#include "machine/access_faults.h"

namespace kiv {

namespace {

// Emulation would stop silently on reaching its end address; a 32-bit EIP
// can never equal this one.
constexpr uint64_t kNeverReached = uint64_t{1} << 32;
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
    check_pages();
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

// From here until the emulator is next entered from outside, the pages the
// program touches are checked against its mappings: nothing the emulator
// learnt of them unchecked, or before they changed, may stay in its TLB.
void Cpu::check_pages() {
    if (tlb_stale_ || memory_changes_ != memory_->changes()) {
        uc_ctl_flush_tlb(uc_);
        tlb_fills_ = 0;
    }
    tlb_stale_ = false;
    memory_changes_ = memory_->changes();
    checking_pages_ = started_;
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
    uc_ctl_remove_cache(uc_, uint64_t{entry}, uint64_t{entry} + 1);
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
        {UC_HOOK_BLOCK, reinterpret_cast<void *>(on_block), 0, block_limit_ != 0 || block_counts_ != nullptr || counting_blocks_},
        {UC_HOOK_INSN, reinterpret_cast<void *>(on_port_in), UC_X86_INS_IN, true},
        {UC_HOOK_INSN, reinterpret_cast<void *>(on_port_out), UC_X86_INS_OUT, true},
        {UC_HOOK_INSN, reinterpret_cast<void *>(on_sysenter), UC_X86_INS_SYSENTER, true},
        {UC_HOOK_INSN, reinterpret_cast<void *>(on_syscall), UC_X86_INS_SYSCALL, true},
    };
    for (const Hook &hook : hooks) {
        uc_hook handle;
        if (hook.wanted && uc_hook_add(uc_, &handle, hook.type, hook.callback, this, 1, 0, hook.instruction) != UC_ERR_OK)
            return false;
    }
    return serve_cpuid(uc_);
}

std::optional<Stop> Cpu::stop_after(uc_err error) const {
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
                    "more than " + std::to_string(kMaxRdtscSites) + " places in its code spell rdtsc (--tsc, --record, --replay)"};
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
    std::optional<uint64_t> value = time_stamps_ != nullptr ? time_stamps_->read() : tsc_->at(tsc_reads_++);
    if (!value) {
        if (!stop_) stop_ = Stop{StopReason::Refused, 0, std::nullopt, "no time-stamp counter value"};
        uc_emu_stop(uc_);
        return;
    }
    uint32_t low = static_cast<uint32_t>(*value), high = static_cast<uint32_t>(*value >> 32);
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
    checking_pages_ = false;
    SyscallResult result = handler_->syscall(registers);
    check_pages();
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
    Fault fault{"interrupt " + std::to_string(vector), self->interrupt_instruction(vector), std::nullopt,
                kSignalStatusBase + SIGSEGV};
    for (const auto &info : kVectors) {
        if (info.vector == vector) {
            fault.what = info.what;
            fault.exit_code = kSignalStatusBase + info.signal;
        }
    }
    self->fault(std::move(fault));
}

// Refusing a page stops the program at the instruction that wanted it.
// The emulator also looks up code pages for itself (where a run is to
// end, which translations to drop, also while a system call maps memory),
// with no instruction to stop at: so only the program's own accesses are
// checked, and an unmapped code page is left to the emulator, which reports
// it at the jump that led there.
bool Cpu::on_tlb_fill(uc_engine *, uint64_t address, uc_mem_type type, uc_tlb_entry *entry, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    if (self->checking_pages_ && !self->pinpointing_) self->count_tlb_fill();
    uint32_t page = page_floor(static_cast<uint32_t>(address));
    entry->paddr = page;
    entry->perms = UC_PROT_ALL;
    if (self->pinpointing_ && self->refused_ && self->refused_->page == page) {
        entry->paddr = kPinpointPage;
        return true;
    }
    auto protection = self->memory_->protection_at(page);
    const AccessKind *kind = access_kind(type);
    if (!self->checking_pages_ || kind == nullptr) {
        // Whatever the emulator keeps of this answer must go before the
        // program's next instruction.
        self->tlb_stale_ = true;
        return true;
    }
    if (type == UC_MEM_FETCH && !protection) return true;
    if (protection && (*protection & kind->needs) != 0) {
        entry->perms = static_cast<uc_prot>(GuestMemory::emulator_protection(*protection));
        return true;
    }
    self->refused_ = RefusedAccess{page, type, protection.has_value()};
    return false;
}

// The emulator's TLB is direct-mapped and starts with 256 entries: pages a
// multiple of 1 MiB apart share an entry, so a program working on two
// buffers that far apart misses the TLB at every access, at some 30 times
// the cost of a hit. The emulator grows the TLB only when it is flushed
// while mostly in use, and nothing flushes it while a program computes. So
// once the program has filled twice as many entries as the TLB has (two
// buffers sharing entries fill it only half), the TLB is flushed, until it
// covers kTlbReach. A flush here is safe: the emulator looks the entry up
// again after every fill, since a fill may resize the TLB.
void Cpu::count_tlb_fill() {
    constexpr uint32_t kTlbReach = 64u << 20;
    if (++tlb_fills_ < 2 * tlb_entries_ || tlb_entries_ >= kTlbReach / kPageSize) return;
    uc_ctl_flush_tlb(uc_);
    tlb_fills_ = 0;
    tlb_entries_ *= 2;
}

bool Cpu::on_invalid_memory(uc_engine *, uc_mem_type type, uint64_t address, int, int64_t, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    if (self->pinpointing_) {
        self->pinpointed_address_ = self->refused_->page | static_cast<uint32_t>(address % kPageSize);
        return false;
    }
    self->fault({memory_fault_what(type), self->reg(UC_X86_REG_EIP), static_cast<uint32_t>(address),
                 kSignalStatusBase + SIGSEGV});
    return false;
}

// Port I/O is privileged in user mode; the emulator does not check that
// itself.
constexpr char kPortIo[] = "general protection fault (port I/O is privileged)";

uint32_t Cpu::on_port_in(uc_engine *, uint32_t, int, void *self_pointer) {
    static_cast<Cpu *>(self_pointer)->hooked_fault(X86_INS_IN, kPortIo, SIGSEGV);
    return 0;
}

void Cpu::on_port_out(uc_engine *, uint32_t, int, uint32_t, void *self_pointer) {
    static_cast<Cpu *>(self_pointer)->hooked_fault(X86_INS_OUT, kPortIo, SIGSEGV);
}

// The kernel's only way in is interrupt 0x80; the emulator would skip
// these two silently.
void Cpu::on_sysenter(uc_engine *, void *self_pointer) {
    static_cast<Cpu *>(self_pointer)->hooked_fault(X86_INS_SYSENTER, "invalid instruction", SIGILL);
}

void Cpu::on_syscall(uc_engine *, void *self_pointer) {
    static_cast<Cpu *>(self_pointer)->hooked_fault(X86_INS_SYSCALL, "invalid instruction", SIGILL);
}

bool Cpu::on_invalid_instruction(uc_engine *, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    self->fault({"invalid instruction", self->reg(UC_X86_REG_EIP), std::nullopt, kSignalStatusBase + SIGILL});
    return false;
}

// Instruction hooks run with EIP at the start of the translated block. A
// block is straight-line code, so the first instruction of the hooked kind
// from there is the one that ran.
void Cpu::hooked_fault(unsigned instruction, const char *what, int signal) {
    uint32_t block = reg(UC_X86_REG_EIP);
    fault({what, first_instruction(block, instruction).value_or(block), std::nullopt, kSignalStatusBase + signal});
}

std::optional<uint32_t> Cpu::first_instruction(uint32_t block, unsigned instruction) const {
    // Further than any block reaches; the read shrinks to what is mapped.
    constexpr uint32_t kScanned = 2 * kPageSize;
    uint8_t code[kScanned];
    uint32_t length = kScanned - block % kPageSize;
    while (length > 0 && uc_mem_read(uc_, block, code, length) != UC_ERR_OK)
        length = length > kPageSize ? length - kPageSize : 0;
    csh decoder;
    if (length == 0 || cs_open(CS_ARCH_X86, CS_MODE_32, &decoder) != CS_ERR_OK) return std::nullopt;
    cs_insn *decoded = cs_malloc(decoder);
    const uint8_t *cursor = code;
    size_t left = length;
    uint64_t address = block;
    std::optional<uint32_t> found;
    while (!found && cs_disasm_iter(decoder, &cursor, &left, &address, decoded))
        if (decoded->id == instruction) found = static_cast<uint32_t>(decoded->address);
    cs_free(decoded, 1);
    cs_close(&decoder);
    return found;
}

// Software interrupts leave EIP after their instruction: int3 (cc), into
// (ce), int n (cd n). Vectors 3, 4 and 32 on come from nothing else; for
// the other CPU exceptions EIP is already the faulting instruction.
uint32_t Cpu::interrupt_instruction(uint32_t vector) const {
    constexpr uint8_t kInt = 0xcd, kInt3 = 0xcc, kInto = 0xce;
    constexpr uint32_t kFirstExternal = 32;
    uint32_t eip = reg(UC_X86_REG_EIP);
    uint8_t code[2] = {};
    bool software = vector == 3 || vector == 4 || vector >= kFirstExternal;
    if (!software || eip < sizeof code || uc_mem_read(uc_, eip - sizeof code, code, sizeof code) != UC_ERR_OK)
        return eip;
    if (code[0] == kInt && code[1] == vector) return eip - 2;
    if ((vector == 3 && code[1] == kInt3) || (vector == 4 && code[1] == kInto)) return eip - 1;
    return eip;
}

void Cpu::on_rdtsc(uc_engine *, uint64_t, uint32_t, void *self) { static_cast<Cpu *>(self)->emulate_rdtsc(); }

void Cpu::on_block(uc_engine *uc, uint64_t address, uint32_t size, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    // A block the limit stops does not run: it is not counted either.
    if (++self->blocks_ > self->block_limit_ && self->block_limit_ != 0) {
        if (!self->stop_) self->stop_ = Stop{StopReason::BlockLimit};
        uc_emu_stop(uc);
        return;
    }
    if (self->block_counts_ != nullptr) self->block_counts_->count(address, size);
}

}  // namespace kiv
