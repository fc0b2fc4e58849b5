#include "debug/watch_hooks.h"

#include <algorithm>

namespace kiv {

namespace {

// An access of up to this many bytes may start before a watched range and
// still reach into it.
constexpr uint32_t kWidestAccess = 16;

}  // namespace

bool drop_translations(uc_engine *uc, const GuestMemory &memory) {
    for (const auto &mapping : memory.mappings())
        if ((mapping.protection & kAccessExec) != 0 &&
            uc_ctl_remove_cache(uc, uint64_t{mapping.start}, uint64_t{mapping.start} + mapping.size) != UC_ERR_OK)
            return false;
    return true;
}

WatchHooks::~WatchHooks() { (void)clear(); }

bool WatchHooks::clear() {
    bool removed = true;
    for (auto &watch : watches_) removed &= unhook(watch);
    watches_.clear();
    return removed && drop_translations(cpu_.engine(), memory_);
}

bool WatchHooks::sees(WatchKind kind, uc_mem_type type) {
    return kind == WatchKind::Access || (kind == WatchKind::Write) == (type == UC_MEM_WRITE);
}

bool WatchHooks::add(WatchKind kind, uint32_t address, uint32_t length) {
    if (length == 0 || uint64_t{address} + length > uint64_t{1} << 32) return false;
    Watch watch{kind, address, length, {}};
    uint64_t begin = address - std::min(address, kWidestAccess - 1), end = uint64_t{address} + length - 1;
    for (int type : {UC_HOOK_MEM_READ, UC_HOOK_MEM_WRITE}) {
        if (!sees(kind, type == UC_HOOK_MEM_READ ? UC_MEM_READ : UC_MEM_WRITE)) continue;
        uc_hook hook;
        if (uc_hook_add(cpu_.engine(), &hook, type, reinterpret_cast<void *>(on_access), this, begin, end) !=
            UC_ERR_OK) {
            (void)unhook(watch);
            return false;
        }
        watch.hooks.push_back(hook);
    }
    watches_.push_back(std::move(watch));
    return drop_translations(cpu_.engine(), memory_);
}

bool WatchHooks::remove(WatchKind kind, uint32_t address, uint32_t length) {
    auto found = std::find_if(watches_.begin(), watches_.end(), [&](const Watch &watch) {
        return watch.kind == kind && watch.address == address && watch.length == length;
    });
    if (found == watches_.end()) return false;
    bool removed = unhook(*found);
    watches_.erase(found);
    return drop_translations(cpu_.engine(), memory_) && removed;
}

bool WatchHooks::unhook(Watch &watch) {
    bool removed = true;
    for (uc_hook hook : watch.hooks) removed &= uc_hook_del(cpu_.engine(), hook) == UC_ERR_OK;
    watch.hooks.clear();
    return removed;
}

// Called before the access; the first watch it reaches into names it.
void WatchHooks::on_access(uc_engine *, uc_mem_type type, uint64_t address, int size, int64_t, void *self_pointer) {
    auto *self = static_cast<WatchHooks *>(self_pointer);
    if (self->cpu_.pinpointing()) return;
    uint64_t end = address + static_cast<uint64_t>(size);
    for (const auto &watch : self->watches_) {
        if (!sees(watch.kind, type) || end <= watch.address || address >= uint64_t{watch.address} + watch.length)
            continue;
        uint32_t inside = static_cast<uint32_t>(std::max<uint64_t>(address, watch.address));
        self->listener_(self->context_,
                        DebugStop{DebugStop::Kind::Watchpoint, 0, 0, BreakKind::Software, watch.kind, inside});
        return;
    }
}

}  // namespace kiv
