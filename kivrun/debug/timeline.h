// A run that can go back: it counts the program's blocks as it goes, keeps
// a checkpoint every kCheckpointBlocks blocks, and brings back any earlier
// point by restoring the checkpoint before it and running the program again
// from there, which the emulated CPU does exactly as the first time.
//
// A point of the run is a Position: the number of the block being run
// (counted from 1 at the program's entry) and the EIP of the next
// instruction. A block is straight-line code, so inside one block EIP only
// grows, and positions order as the run meets them. The emulator leaves a
// block only at its end or when kivrun stops it; a block it enters again
// where it stopped is the same block, not a new one.
//
// Only an instruction hook stops the emulator exactly where it is asked
// to; a stop asked for at the start of a block comes a block or more later.
// So every exact stop is made by a hook on the instruction's address, and a
// block number is only ever checked there.
#pragma once

#include <atomic>
#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "debug/checkpoint.h"
#include "debug/gdb_stub.h"
#include "debug/watch_hooks.h"
#include "machine/cpu.h"
#include "machine/guest_memory.h"

namespace kiv {

struct Position {
    uint64_t block;
    uint32_t eip;
    auto operator<=>(const Position &) const = default;
};

// Notes where the program's inputs from outside the machine stand (a
// replay's place in its recording), and gives what brings them back there.
using InputBookmark = std::function<std::function<void()>()>;

// About 2.5 million instructions of compiled code, some tens of
// milliseconds of running: going back to any point re-runs at most this far.
inline constexpr uint64_t kCheckpointBlocks = 1u << 19;

// How far a run goes.
struct Goal {
    enum class Direction {
        Forward,  // stops at breakpoints and watched accesses, as gdb's continue
        Back,     // stops at none of them: notes the last of them before `limit`
    } direction = Direction::Forward;
    // Forward: stop before the next instruction. Back: note every
    // instruction before `limit`.
    bool each_instruction = false;
    std::optional<Position> until;  // stop exactly here
    // Back: what it notes comes before this point; the run stops somewhere
    // after it, which costs less than an exact stop.
    std::optional<Position> limit;
    // Note where each block from this one on starts.
    uint64_t note_blocks_from = UINT64_MAX;
};

struct Outcome {
    std::optional<Stop> ended;      // the program ended
    std::optional<DebugStop> stop;  // Forward: why it stopped
    // Back: the last stop Forward would have made before `limit`, and
    // where (a watched access stops before the instruction making it).
    std::optional<std::pair<Position, DebugStop>> last_stop;
    std::optional<Position> last_instruction;  // Back, each_instruction
    std::vector<Position> block_starts;        // as the goal asked
    // Interrupted: the start of the block where it was (the emulator
    // stops for it only somewhat later).
    std::optional<Position> interrupted_at;
};

class Timeline {
public:
    Timeline(Cpu &cpu, GuestMemory &memory, InputBookmark inputs);
    ~Timeline();
    Timeline(const Timeline &) = delete;
    Timeline &operator=(const Timeline &) = delete;

    // Starts counting before the program's first instruction, the first
    // checkpoint; false when the emulator refuses.
    bool start();
    Position now() const;
    Outcome run(const Goal &goal);
    // From another thread: a Forward run stops soon, as Interrupted.
    void interrupt() { interrupt_ = true; }

    // The last checkpoint before `position` (the first one at least).
    size_t checkpoint_before(Position position) const;
    // Back to the last checkpoint up to `position`, then on to it.
    bool go_to(Position position);
    Position checkpoint_position(size_t index) const { return checkpoints_[index].at; }
    bool go_to_checkpoint(size_t index);
    // The debugger changed the program: the checkpoints after this point
    // tell of a run that will not happen any more; this point becomes one.
    void rewrite_here();
    uint64_t checkpoint_bytes() const;

    // Drops every hook, breakpoint, watchpoint and checkpoint; false when
    // a hook stays.
    bool release();

    void add_breakpoint(BreakKind kind, uint32_t address);
    bool remove_breakpoint(BreakKind kind, uint32_t address);
    WatchHooks &watches() { return watches_; }

private:
    struct Saved {
        Position at;
        uint64_t block;  // block_ and continuing_ there
        bool continuing;
        std::unique_ptr<Checkpoint> state;
        std::function<void()> inputs_back;
    };

    static void on_block(uc_engine *uc, uint64_t address, uint32_t size, void *self);
    void enter_block(uint32_t address);
    static void on_instruction(uc_engine *uc, uint64_t address, uint32_t size, void *self);
    static void on_breakpoint(uc_engine *uc, uint64_t address, uint32_t size, void *self);
    static void on_until(uc_engine *uc, uint64_t address, uint32_t size, void *self);
    void on_watched(const DebugStop &stop);

    void capture();
    bool before_limit(Position position) const;
    void halt(std::optional<DebugStop> stop);
    // A hook on the code at [begin, end], or on all of it when begin > end.
    std::optional<uc_hook> add_hook(int type, void *callback, uint32_t begin, uint32_t end);
    void drop_hook(std::optional<uc_hook> &hook, uint32_t begin, uint32_t end);
    void set_goal_hooks(const Goal &goal);

    Cpu &cpu_;
    GuestMemory &memory_;
    uc_engine *uc_;
    InputBookmark inputs_;
    WatchHooks watches_;
    std::vector<Saved> checkpoints_;
    uint64_t block_ = 0;       // blocks entered so far
    bool continuing_ = false;  // the emulator stopped inside block_: entering it again is no new block
    bool entered_ = false;     // the current run entered a block
    std::atomic<bool> interrupt_{false};
    uint64_t next_checkpoint_block_ = 0;
    std::optional<uc_hook> block_hook_, instruction_hook_, until_hook_;
    uint32_t until_address_ = 0;  // where until_hook_ is
    std::set<std::pair<uint32_t, BreakKind>> breakpoints_;
    std::vector<std::pair<uint32_t, uc_hook>> breakpoint_hooks_;
    Goal goal_;
    Position start_{};  // where the current run started
    Outcome outcome_;
    std::optional<DebugStop> watch_hit_;  // Forward: reported at the next instruction
};

}  // namespace kiv
