// Going back to a snapshot after a round that writes N pages (one word
// each), two ways on the same CPU: kivrun's Snapshot (registers, and a copy
// of each page taken at its first write, put back at restore) and Unicorn's
// own context with memory (UC_CTL_CONTEXT_MEMORY: copy-on-write regions).
// Each iteration is one round of guest code plus one restore.
#include <benchmark/benchmark.h>

#include <vector>

#include "machine/cpu.h"
#include "machine/guest_memory.h"
#include "machine/snapshot.h"

namespace {

using namespace kiv;

constexpr uint32_t kCode = 0x08048000;
constexpr uint32_t kTable = 0x08100000;
constexpr uint32_t kData = 0x40000000;
constexpr uint32_t kStack = 0x50000000;
constexpr uint32_t kMaxPages = 256;

// pause; for each address in the table: store to it; and again from the top.
constexpr uint8_t kProgram[] = {
    0xb8, 1,    0,    0,    0,           // mov eax, 1
    0xcd, 0x80,                          // int 0x80 (pauses)
    0xbe, 0x00, 0x00, 0x10, 0x08,        // mov esi, kTable
    0x8b, 0x3e,                          // mov edi, [esi]
    0x85, 0xff,                          // test edi, edi
    0x74, 0x0b,                          // jz +11 (to the top)
    0xc7, 0x07, 0xef, 0xbe, 0xad, 0xde,  // mov dword [edi], 0xdeadbeef
    0x83, 0xc6, 0x04,                    // add esi, 4
    0xeb, 0xef,                          // jmp (the load)
    0xeb, 0xe1,                          // jmp 0
};

class Pauser : public SyscallHandler {
public:
    explicit Pauser(Cpu &cpu) : cpu_(cpu) {}
    SyscallResult syscall(const SyscallRegisters &) override {
        cpu_.pause();
        return success(0);
    }

private:
    Cpu &cpu_;
};

// A machine paused before its first round, which writes `pages` pages.
struct Machine {
    Cpu cpu;
    GuestMemory memory{cpu.engine()};
    Pauser pauser{cpu};

    explicit Machine(uint32_t pages) {
        std::vector<uint32_t> table;
        for (uint32_t page = 0; page < pages; page++) table.push_back(kData + page * kPageSize);
        table.push_back(0);
        memory.map(kCode, kPageSize, kAccessRead | kAccessExec);
        memory.map(kTable, 2 * kPageSize, kAccessRead);
        memory.map(kData, kMaxPages * kPageSize, kAccessRead | kAccessWrite);
        memory.map(kStack - kPageSize, kPageSize, kAccessRead | kAccessWrite);
        memory.poke(kCode, kProgram, sizeof kProgram);
        memory.poke(kTable, table.data(), static_cast<uint32_t>(table.size() * sizeof(uint32_t)));
        cpu.start(memory, pauser, kCode, kStack);
        cpu.resume();
    }
};

void BM_KivrunSnapshot(benchmark::State &state) {
    Machine machine(static_cast<uint32_t>(state.range(0)));
    Snapshot snapshot(machine.cpu.engine(), machine.memory);
    if (!snapshot.take()) state.SkipWithError("cannot take the snapshot");
    for (auto _ : state) {
        machine.cpu.resume();
        if (!snapshot.restore()) state.SkipWithError("cannot restore");
    }
}

void BM_UnicornContextWithMemory(benchmark::State &state) {
    Machine machine(static_cast<uint32_t>(state.range(0)));
    uc_engine *uc = machine.cpu.engine();
    uc_context *context = nullptr;
    if (uc_ctl_context_mode(uc, UC_CTL_CONTEXT_CPU | UC_CTL_CONTEXT_MEMORY) != UC_ERR_OK ||
        uc_context_alloc(uc, &context) != UC_ERR_OK || uc_context_save(uc, context) != UC_ERR_OK) {
        state.SkipWithError("Unicorn refused the memory snapshot");
        return;
    }
    for (auto _ : state) {
        machine.cpu.resume();
        uc_context_restore(uc, context);
    }
    uc_context_free(context);
}

BENCHMARK(BM_KivrunSnapshot)->Arg(1)->Arg(16)->Arg(256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UnicornContextWithMemory)->Arg(1)->Arg(16)->Arg(256)->Unit(benchmark::kMicrosecond);

}  // namespace
