#include "debug/timeline.h"

#include <algorithm>

namespace kiv {

namespace {

// A hook range with its start past its end covers all code.
constexpr uint32_t kAllBegin = 1, kAllEnd = 0;

}  // namespace

Timeline::Timeline(Cpu &cpu, GuestMemory &memory, InputBookmark inputs)
    : cpu_(cpu),
      memory_(memory),
      uc_(cpu.engine()),
      inputs_(std::move(inputs)),
      watches_(
          cpu, memory, [](void *self, const DebugStop &stop) { static_cast<Timeline *>(self)->on_watched(stop); },
          this) {}

Timeline::~Timeline() { (void)release(); }

// A run that goes on without the debugger counts nothing and keeps nothing.
bool Timeline::release() {
    bool removed = watches_.clear();
    for (auto *hook : {&block_hook_, &instruction_hook_, &until_hook_}) {
        if (*hook) removed &= uc_hook_del(uc_, **hook) == UC_ERR_OK;
        hook->reset();
    }
    for (const auto &[address, hook] : breakpoint_hooks_) removed &= uc_hook_del(uc_, hook) == UC_ERR_OK;
    breakpoint_hooks_.clear();
    breakpoints_.clear();
    checkpoints_.clear();
    return drop_translations(uc_, memory_) && removed;
}

bool Timeline::start() {
    block_hook_ = add_hook(UC_HOOK_BLOCK, reinterpret_cast<void *>(on_block), kAllBegin, kAllEnd);
    if (!block_hook_) return false;
    capture();
    return !checkpoints_.empty();
}

Position Timeline::now() const { return {continuing_ ? block_ : block_ + 1, cpu_.reg(UC_X86_REG_EIP)}; }

// Taken at the start of a block, or where the debugger stopped the
// program: the next instruction is the one at EIP.
void Timeline::capture() {
    const Checkpoint *previous = checkpoints_.empty() ? nullptr : checkpoints_.back().state.get();
    auto state = Checkpoint::capture(cpu_, memory_, previous);
    if (!state) return;
    checkpoints_.push_back({now(), block_, continuing_, std::move(state), inputs_()});
    next_checkpoint_block_ = block_ + kCheckpointBlocks;
}

size_t Timeline::checkpoint_before(Position position) const {
    auto after = std::partition_point(checkpoints_.begin(), checkpoints_.end(),
                                      [&](const Saved &saved) { return saved.at < position; });
    return after == checkpoints_.begin() ? 0 : static_cast<size_t>(after - checkpoints_.begin()) - 1;
}

bool Timeline::go_to(Position position) {
    auto after = std::partition_point(checkpoints_.begin(), checkpoints_.end(),
                                      [&](const Saved &saved) { return saved.at <= position; });
    if (after == checkpoints_.begin() || !go_to_checkpoint(static_cast<size_t>(after - checkpoints_.begin()) - 1))
        return false;
    run({Goal::Direction::Back, false, position});
    return now() == position;
}

bool Timeline::go_to_checkpoint(size_t index) {
    const Saved &saved = checkpoints_[index];
    if (!saved.state->restore(cpu_, memory_)) return false;
    saved.inputs_back();
    block_ = saved.block;
    continuing_ = saved.continuing;
    return true;
}

// The first checkpoint stays: the run always starts the same.
void Timeline::rewrite_here() {
    Position here = now();
    auto first_later = std::partition_point(checkpoints_.begin() + 1, checkpoints_.end(),
                                            [&](const Saved &saved) { return saved.at < here; });
    checkpoints_.erase(first_later, checkpoints_.end());
    next_checkpoint_block_ = checkpoints_.back().block + kCheckpointBlocks;
    capture();
}

uint64_t Timeline::checkpoint_bytes() const {
    uint64_t bytes = 0;
    for (const auto &saved : checkpoints_) bytes += saved.state->own_bytes();
    return bytes;
}

Outcome Timeline::run(const Goal &goal) {
    goal_ = goal;
    start_ = now();
    outcome_ = {};
    watch_hit_.reset();
    entered_ = false;
    set_goal_hooks(goal);
    outcome_.ended = cpu_.resume();
    // Every stop and every end comes inside a block.
    continuing_ = continuing_ || entered_;
    return outcome_;
}

void Timeline::halt(std::optional<DebugStop> stop) {
    if (!outcome_.stop) outcome_.stop = stop;
    cpu_.pause();
}

// Each instruction is looked at for a step, for a watched access to be
// reported after it, or to find the one before a point.
void Timeline::set_goal_hooks(const Goal &goal) {
    bool each = goal.each_instruction || (goal.direction == Goal::Direction::Forward && !watches_.empty());
    if (each && !instruction_hook_)
        instruction_hook_ = add_hook(UC_HOOK_CODE, reinterpret_cast<void *>(on_instruction), kAllBegin, kAllEnd);
    if (!each && instruction_hook_) drop_hook(instruction_hook_, kAllBegin, kAllEnd);
    if (until_hook_ && (!goal.until || goal.until->eip != until_address_))
        drop_hook(until_hook_, until_address_, until_address_);
    if (goal.until && !until_hook_) {
        until_address_ = goal.until->eip;
        until_hook_ = add_hook(UC_HOOK_CODE, reinterpret_cast<void *>(on_until), until_address_, until_address_);
    }
}

// Hooks are compiled into translated code: the code they cover is
// translated again.
std::optional<uc_hook> Timeline::add_hook(int type, void *callback, uint32_t begin, uint32_t end) {
    uc_hook hook;
    if (uc_hook_add(uc_, &hook, type, callback, this, uint64_t{begin}, uint64_t{end}) != UC_ERR_OK) return std::nullopt;
    if (begin > end) drop_translations(uc_, memory_);
    else uc_ctl_remove_cache(uc_, begin, uint64_t{end} + 1);
    return hook;
}

void Timeline::drop_hook(std::optional<uc_hook> &hook, uint32_t begin, uint32_t end) {
    uc_hook_del(uc_, *hook);
    hook.reset();
    if (begin > end) drop_translations(uc_, memory_);
    else uc_ctl_remove_cache(uc_, begin, uint64_t{end} + 1);
}

void Timeline::add_breakpoint(BreakKind kind, uint32_t address) {
    breakpoints_.insert({address, kind});
    uc_hook hook;
    if (uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void *>(on_breakpoint), this, uint64_t{address},
                    uint64_t{address}) != UC_ERR_OK)
        return;
    breakpoint_hooks_.push_back({address, hook});
    uc_ctl_remove_cache(uc_, address, uint64_t{address} + 1);
}

bool Timeline::remove_breakpoint(BreakKind kind, uint32_t address) {
    if (breakpoints_.erase({address, kind}) == 0) return false;
    auto hook = std::find_if(breakpoint_hooks_.begin(), breakpoint_hooks_.end(),
                             [address](const auto &entry) { return entry.first == address; });
    if (hook != breakpoint_hooks_.end()) {
        uc_hook_del(uc_, hook->second);
        breakpoint_hooks_.erase(hook);
        uc_ctl_remove_cache(uc_, address, uint64_t{address} + 1);
    }
    return true;
}

// Counts the block and keeps a checkpoint now and then. The run cannot
// stop exactly here, and an interrupt does not need to.
void Timeline::on_block(uc_engine *, uint64_t address, uint32_t, void *self_pointer) {
    auto *self = static_cast<Timeline *>(self_pointer);
    if (self->cpu_.pinpointing()) return;
    self->entered_ = true;
    if (self->continuing_) {
        self->continuing_ = false;
    } else {
        self->enter_block(static_cast<uint32_t>(address));
    }
    if (self->goal_.limit && self->block_ > self->goal_.limit->block) self->halt(std::nullopt);
    if (self->interrupt_.load(std::memory_order_relaxed) && self->interrupt_.exchange(false)) {
        self->outcome_.interrupted_at = Position{self->block_, static_cast<uint32_t>(address)};
        self->halt(DebugStop{DebugStop::Kind::Interrupted});
    }
}

// The checkpoint's point is inside the block just entered.
void Timeline::enter_block(uint32_t address) {
    block_++;
    if (block_ >= goal_.note_blocks_from) outcome_.block_starts.push_back({block_, address});
    if (block_ < next_checkpoint_block_ || cpu_.reg(UC_X86_REG_EIP) != address) return;
    continuing_ = true;
    capture();
    continuing_ = false;
}

bool Timeline::before_limit(Position position) const { return !goal_.limit || position < *goal_.limit; }

void Timeline::on_instruction(uc_engine *, uint64_t address, uint32_t, void *self_pointer) {
    auto *self = static_cast<Timeline *>(self_pointer);
    if (self->cpu_.pinpointing()) return;
    Position here{self->block_, static_cast<uint32_t>(address)};
    if (self->goal_.direction == Goal::Direction::Back) {
        if (self->before_limit(here)) self->outcome_.last_instruction = here;
        return;
    }
    if (here == self->start_) return;  // the instruction the run leaves from
    if (self->watch_hit_) return self->halt(self->watch_hit_);
    if (self->goal_.each_instruction) self->halt(DebugStop{DebugStop::Kind::Step});
}

void Timeline::on_breakpoint(uc_engine *, uint64_t address, uint32_t, void *self_pointer) {
    auto *self = static_cast<Timeline *>(self_pointer);
    if (self->cpu_.pinpointing()) return;
    Position here{self->block_, static_cast<uint32_t>(address)};
    auto found = self->breakpoints_.lower_bound({here.eip, BreakKind::Software});
    if (found == self->breakpoints_.end() || found->first != here.eip) return;
    DebugStop stop{DebugStop::Kind::Breakpoint, 0, 0, found->second};
    if (self->goal_.direction == Goal::Direction::Forward) {
        if (here != self->start_) self->halt(stop);
    } else if (self->before_limit(here)) {
        self->outcome_.last_stop = {here, stop};
    }
}

void Timeline::on_until(uc_engine *, uint64_t address, uint32_t, void *self_pointer) {
    auto *self = static_cast<Timeline *>(self_pointer);
    if (self->cpu_.pinpointing() || !self->goal_.until) return;
    if (Position{self->block_, static_cast<uint32_t>(address)} == *self->goal_.until) self->halt(std::nullopt);
}

// Before the access: going forward it is reported once the instruction is
// done; going back, the instruction making it is where the run stops.
void Timeline::on_watched(const DebugStop &stop) {
    if (goal_.direction == Goal::Direction::Forward) {
        if (!watch_hit_) watch_hit_ = stop;
        return;
    }
    Position here{block_, cpu_.reg(UC_X86_REG_EIP)};
    if (before_limit(here)) outcome_.last_stop = {here, stop};
}

}  // namespace kiv
