// A gdb remote-protocol server for one single-threaded i386 program, over
// one connected socket (or any channel of bytes). It knows nothing of the emulator: it drives a
// DebugTarget, which stops, reads, writes and resumes the program.
#pragma once

#include <cstdint>
#include <span>

#include "debug/gdb_packet.h"

namespace kiv {

enum class WatchKind { Write, Read, Access };
enum class BreakKind { Software, Hardware };

// Why the program stopped, in the terms a Linux debugger uses: signals are
// Linux numbers.
struct DebugStop {
    enum class Kind {
        Started,       // before the first instruction
        Breakpoint,    // before the instruction at a breakpoint
        Step,          // after one instruction
        Watchpoint,    // after an instruction touched a watched range
        Interrupted,   // the debugger asked
        Fault,         // a fault the program cannot go past
        Exited,        // the program ended itself
        Ended,         // a limit or a failure ended the program
        HistoryStart,  // going back reached the start of the run
    } kind;
    int signal = 0;      // Fault, Ended
    int32_t status = 0;  // Exited
    BreakKind breakpoint = BreakKind::Software;
    WatchKind watch = WatchKind::Write;
    // Watchpoint: the address inside the watched range. Fault: the address
    // Linux would put in si_addr (the data address of a memory fault, else
    // the instruction's).
    uint32_t data_address = 0;
    int signal_code = 0;  // Fault: si_code as Linux would set it
};

class DebugTarget {
public:
    virtual ~DebugTarget() = default;

    // Registers in gdb's i386 numbering (eax ecx edx ebx esp ebp esi edi eip
    // eflags cs ss ds es fs gs, st0-st7, the eight x87 control registers),
    // little-endian; false for a number outside it.
    virtual bool read_register(uint32_t number, std::span<uint8_t> out) = 0;
    virtual bool write_register(uint32_t number, std::span<const uint8_t> value) = 0;
    // False, with nothing done, unless the whole range is guest memory.
    virtual bool read_memory(uint32_t address, std::span<uint8_t> out) = 0;
    virtual bool write_memory(uint32_t address, std::span<const uint8_t> data) = 0;

    virtual bool add_breakpoint(BreakKind kind, uint32_t address) = 0;
    virtual bool remove_breakpoint(BreakKind kind, uint32_t address) = 0;
    virtual bool add_watchpoint(WatchKind kind, uint32_t address, uint32_t length) = 0;
    virtual bool remove_watchpoint(WatchKind kind, uint32_t address, uint32_t length) = 0;

    // Runs from the current EIP (one instruction when `step`) until the next
    // stop.
    virtual DebugStop resume(bool step) = 0;
    // Whether the program can also run backwards.
    virtual bool reversible() const { return false; }
    // Runs back from the current point (one instruction when `step`) to
    // the last stop a forward run would have made before it. Without a
    // history the program is at its start.
    virtual DebugStop reverse(bool /*step*/) { return {DebugStop::Kind::HistoryStart}; }
    // From another thread while resume() runs: stop soon as Interrupted.
    virtual void interrupt() = 0;
    // From another thread: the debugger is gone; also give up blocking
    // system calls.
    virtual void abandon() = 0;
};

// How a session ended.
enum class SessionEnd {
    ProgramEnded,  // the program exited, or ended after a fault or a limit
    Killed,        // by the debugger
    Detached,      // the program goes on without the debugger
    Disconnected,  // the peer vanished
    GivenUp,       // the run is being stopped (its time limit): gdb was told the program was killed
};

// Serves gdb on `channel` until the session ends (gdb_session.cpp); the
// socket transport is in gdb_socket.h.
SessionEnd serve_gdb(gdb::Channel &channel, DebugTarget &target);

}  // namespace kiv
