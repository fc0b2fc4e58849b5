// gdb's watchpoints as emulator hooks on the watched ranges alone: a data
// access there is passed on as the stop it makes. The hooks exist only
// while something is watched, since any of them sends every access of the
// program down the emulator's slow path.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <vector>

#include "debug/gdb_stub.h"
#include "machine/cpu.h"
#include "machine/guest_memory.h"

namespace kiv {

class WatchHooks {
public:
    using Listener = void (*)(void *context, const DebugStop &stop);

    WatchHooks(Cpu &cpu, GuestMemory &memory, Listener listener, void *context)
        : cpu_(cpu), memory_(memory), listener_(listener), context_(context) {}
    ~WatchHooks();
    WatchHooks(const WatchHooks &) = delete;
    WatchHooks &operator=(const WatchHooks &) = delete;

    bool add(WatchKind kind, uint32_t address, uint32_t length);
    bool remove(WatchKind kind, uint32_t address, uint32_t length);
    bool empty() const { return watches_.empty(); }
    // Drops every watch; false when a hook stays.
    bool clear();

private:
    struct Watch {
        WatchKind kind;
        uint32_t address;
        uint32_t length;
        std::vector<uc_hook> hooks;
    };

    static void on_access(uc_engine *uc, uc_mem_type type, uint64_t address, int size, int64_t value, void *self);
    static bool sees(WatchKind kind, uc_mem_type type);
    bool unhook(Watch &watch);

    Cpu &cpu_;
    GuestMemory &memory_;
    Listener listener_;
    void *context_;
    std::vector<Watch> watches_;
};

// Translated code keeps the hooks it was translated with: after a hook
// change every executable mapping is translated again. False when the
// emulator refuses.
bool drop_translations(uc_engine *uc, const GuestMemory &memory);

}  // namespace kiv
