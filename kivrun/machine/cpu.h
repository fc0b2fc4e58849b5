// The emulated i386 CPU: Unicorn in 32-bit protected mode, the guest running
// at privilege level 3 so that privileged instructions (hlt, cli, in, out)
// fault as they would under the real kernel. The system-call interrupt goes
// to the system-call handler; every other interrupt, an invalid instruction or
// an access to unusable memory stops the run with a fault report.
#pragma once

#include <unicorn/unicorn.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "machine/block_counts.h"
#include "machine/block_listener.h"
#include "machine/guest_memory.h"
#include "machine/syscall_types.h"
#include "machine/tsc.h"

namespace kiv {

class SyscallHandler {
public:
    virtual ~SyscallHandler() = default;
    // Services one call: its value goes to EAX, or the run ends with it as
    // the exit status.
    virtual SyscallResult syscall(const SyscallRegisters &registers) = 0;
};

// The emulator kivrun was built with, as "Unicorn 2.1.1".
std::string emulator_version();

// The emulator's buffer of translated code, per process (Unicorn's default
// is 1 GiB): a kivos program's code translates into a small part of it, and
// a program that fills it gets it flushed and translated again. Counted
// with the guest's memory against the run's limit.
inline constexpr uint32_t kTranslationCacheBytes = 32u << 20;

// Each hooked site costs the emulator memory and set-up time: a program
// with more places spelling rdtsc is refused under --tsc.
inline constexpr size_t kMaxRdtscSites = 4096;

struct Fault {
    std::string what;                 // "page fault (write to unmapped memory)"
    uint32_t eip;                     // the faulting instruction
    std::optional<uint32_t> address;  // the faulting data address, when known
    int exit_code;                    // kSignalStatusBase + the matching Linux signal
};

enum class StopReason { Exited, Faulted, TimedOut, BlockLimit, Refused, EmulatorError };

struct Stop {
    StopReason reason;
    int32_t status = 0;          // Exited
    std::optional<Fault> fault;  // Faulted
    std::string detail;          // Refused, EmulatorError
};

class Cpu {
public:
    Cpu();
    ~Cpu();
    Cpu(const Cpu &) = delete;
    Cpu &operator=(const Cpu &) = delete;

    uc_engine *engine() const { return uc_; }

    // Stop after this many executed basic blocks (0: no limit).
    void set_block_limit(uint64_t blocks) { block_limit_ = blocks; }
    // Count every executed block there (for coverage).
    void count_blocks(BlockCounts &counts) { block_counts_ = &counts; }
    // Tell `listener` of every block entered, in order.
    void listen_to_blocks(BlockListener &listener) { block_listener_ = &listener; }
    // Answer the guest's rdtsc from `sequence` instead of the host's counter.
    void set_time_stamps(const TscSequence &sequence) { tsc_ = sequence; }
    // Answer it from `source` (which outlives the run) instead.
    void set_time_stamp_source(TimeStamps &source) { time_stamps_ = &source; }
    // Count executed blocks even without a limit or coverage: a recording
    // places every outside value at its block.
    void count_executed_blocks() { counting_blocks_ = true; }
    // Basic blocks begun so far, when they are counted.
    uint64_t blocks() const { return blocks_; }
    // The run ends as timed out once `deadline` has passed. Besides the
    // watchdog's stop, the deadline is checked before the first instruction
    // and at every system call, so one that has already passed is never missed.
    void set_deadline(std::chrono::steady_clock::time_point deadline) { deadline_ = deadline; }

    // Enters the guest at `entry` with the stack pointer at `stack`, in user
    // mode, and runs until it exits, faults or is stopped.
    Stop run(GuestMemory &memory, SyscallHandler &handler, uint32_t entry, uint32_t stack);

    // run() in two halves, for a debugger: start() sets up user mode and
    // stops before the program's first instruction (a Stop only on
    // failure); resume() runs from the current EIP until the program ends
    // (a Stop, kept for every later call) or pause() (nullopt).
    std::optional<Stop> start(GuestMemory &memory, SyscallHandler &handler, uint32_t entry, uint32_t stack);
    std::optional<Stop> resume();
    // From a hook or any thread: resume() returns at the next instruction
    // boundary it checks, unless the program ends first.
    void pause();

    // From any thread: the run ends as timed out.
    void stop_for_timeout();
    // Whether the run has timed out, by a stop or by the deadline.
    bool timed_out();

    // While a faulting instruction runs again to find the address it
    // touched: its accesses and its code are not the program's.
    bool pinpointing() const { return pinpointing_; }

    uint32_t reg(int id) const;
    std::string register_dump() const;

    // What the run has counted and whether it has ended: a debugger that
    // brings back an earlier point of the run brings this back with it.
    struct Progress {
        uint64_t blocks;
        uint64_t tsc_reads;
        std::optional<Stop> stop;
    };
    Progress progress() const { return {blocks_, tsc_reads_, stop_}; }
    void rewind(const Progress &progress) {
        blocks_ = progress.blocks;
        tsc_reads_ = progress.tsc_reads;
        stop_ = progress.stop;
    }

private:
    static void on_interrupt(uc_engine *uc, uint32_t vector, void *self);
    static bool on_invalid_memory(uc_engine *uc, uc_mem_type type, uint64_t address, int size, int64_t value,
                                  void *self);
    static bool on_invalid_instruction(uc_engine *uc, void *self);
    static bool on_tlb_fill(uc_engine *uc, uint64_t address, uc_mem_type type, uc_tlb_entry *entry, void *self);
    static uint32_t on_port_in(uc_engine *uc, uint32_t port, int size, void *self);
    static void on_port_out(uc_engine *uc, uint32_t port, int size, uint32_t value, void *self);
    static void on_sysenter(uc_engine *uc, void *self);
    static void on_syscall(uc_engine *uc, void *self);
    static int on_cpuid(uc_engine *uc, void *self);
    // Fault decoding (fault_decoding.cpp): the fault of any interrupt but
    // the system call's, and of an instruction an instruction hook caught.
    void fault_by_interrupt(uint32_t vector);
    void hooked_fault(unsigned instruction, const char *what, int signal);
    // The first instruction of a kind (a Capstone id) from `block` on.
    std::optional<uint32_t> first_instruction(uint32_t block, unsigned instruction) const;
    // The instruction that raised a software interrupt.
    uint32_t interrupt_instruction(uint32_t vector) const;
    static void on_block(uc_engine *uc, uint64_t address, uint32_t size, void *self);
    static void on_rdtsc(uc_engine *uc, uint64_t address, uint32_t size, void *self);

    // uc_emu_start from `begin`, or the run's end as a fault when the
    // emulator gives up translating the code.
    uc_err emulate(uint64_t begin, uint64_t until);
    // Why emulation returned with `error`, when the program cannot go on.
    std::optional<Stop> stop_after(uc_err error) const;
    bool add_hooks();
    // The time-stamp counter (rdtsc.cpp). How the run ends instead when the
    // sites cannot be hooked.
    std::optional<Stop> hook_rdtsc_sites();
    void emulate_rdtsc();
    void serve_syscall();
    void fault(Fault fault);
    // The run ends with an emulator error, unless it has already ended:
    // every emulator call whose failure would leave the program running
    // wrongly ends here, named by `what`.
    void emulator_failed(std::string what);
    // Another thread's stop reaches the emulator only while guest code runs:
    // before the emulator is set up, during a map or a hook change (all made
    // outside guest code) it would corrupt the engine. Outside guest code the
    // main thread sees the request itself (resume(), each system call).
    void request_stop();
    void set_in_guest_code(bool inside);
    // The fault of the access the page check refused, at the instruction
    // that made it and with the exact address it touched.
    Fault pinpoint_memory_fault();
    void rerun_refused_instruction(uint32_t eip);
    // Drops the code translated at `address`; false when the run ended with
    // the emulator failing it.
    bool drop_translation(uint32_t address);
    // Whether the refused access is the fetch of code after the block's
    // start, and the run up to it (pinpoint.cpp).
    bool code_ahead_refused() const;
    uc_err run_up_to_refused_code();
    static void on_pinpointed_access(uc_engine *uc, uc_mem_type type, uint64_t address, int size, int64_t value,
                                     void *self);
    // The page check (page_check.cpp, with on_tlb_fill and on_invalid_memory);
    // false when the run ended with the emulator failing it.
    bool check_pages();
    void journal_fill(uint32_t page, uc_mem_type type, uc_tlb_entry &entry);
    void count_tlb_fill();
    bool flush_tlb();

    // An access refused by the page check, the only place where guest
    // instructions meet page protections: the emulator then stops at the
    // instruction itself, not at the start of its translated block.
    struct RefusedAccess {
        uint32_t page;
        uc_mem_type type;  // UC_MEM_READ, UC_MEM_WRITE or UC_MEM_FETCH
        bool mapped;
    };

    uc_engine *uc_ = nullptr;
    GuestMemory *memory_ = nullptr;
    SyscallHandler *handler_ = nullptr;
    std::optional<RefusedAccess> refused_;
    bool started_ = false;         // the program's first instruction is next or behind
    bool checking_pages_ = false;  // the program's instructions run
    bool pinpointing_ = false;
    std::optional<uint32_t> pinpointed_address_;
    std::optional<uint32_t> first_refused_byte_;  // of the accesses the pinpointed instruction made
    bool tlb_stale_ = false;                      // the TLB holds answers given unchecked
    uint32_t tlb_entries_ = 256;                  // the emulator's TLB size for user code, as far as it grew here
    uint32_t tlb_fills_ = 0;                      // since the last flush
    uint64_t memory_changes_ = 0;                 // memory_->changes() when the TLB was last flushed
    uint64_t block_limit_ = 0;
    uint64_t blocks_ = 0;
    BlockCounts *block_counts_ = nullptr;
    BlockListener *block_listener_ = nullptr;
    std::optional<TscSequence> tsc_;
    TimeStamps *time_stamps_ = nullptr;
    bool counting_blocks_ = false;
    uint64_t tsc_reads_ = 0;
    std::optional<Stop> stop_;
    std::atomic<bool> timed_out_{false};
    std::atomic<bool> paused_{false};
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    std::mutex stop_gate_;        // held while a stop reaches the emulator, or the window changes
    bool in_guest_code_ = false;  // under stop_gate_
};

}  // namespace kiv
