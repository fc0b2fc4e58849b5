#include "machine/fault_decoding.h"

#include <capstone/capstone.h>

#include <csignal>

#include "machine/memory_map.h"

namespace kiv {

namespace {

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

constexpr uint32_t kBreakpointVector = 3, kOverflowVector = 4;
constexpr uint32_t kFirstExternalVector = 32;

// Port I/O is privileged in user mode; the emulator does not check that
// itself.
constexpr char kPortIo[] = "general protection fault (port I/O is privileged)";

}  // namespace

Fault interrupt_fault(uint32_t vector, uint32_t instruction) {
    Fault fault{"interrupt " + std::to_string(vector), instruction, std::nullopt, kSignalStatusBase + SIGSEGV};
    for (const auto &info : kVectors) {
        if (info.vector == vector) {
            fault.what = info.what;
            fault.exit_code = kSignalStatusBase + info.signal;
        }
    }
    return fault;
}

// Software interrupts leave EIP after their instruction: int3 (cc), into
// (ce), int n (cd n). Vectors 3, 4 and 32 on come from nothing else; for
// the other CPU exceptions EIP is already the faulting instruction.
bool leaves_eip_after(uint32_t vector) {
    return vector == kBreakpointVector || vector == kOverflowVector || vector >= kFirstExternalVector;
}

uint32_t interrupt_instruction_start(uint32_t vector, uint32_t eip, std::array<uint8_t, 2> before) {
    constexpr uint8_t kInt = 0xcd, kInt3 = 0xcc, kInto = 0xce;
    if (before[0] == kInt && before[1] == vector) return eip - 2;
    if ((vector == kBreakpointVector && before[1] == kInt3) || (vector == kOverflowVector && before[1] == kInto))
        return eip - 1;
    return eip;
}

std::optional<uint32_t> find_instruction(std::span<const uint8_t> code, uint32_t address, unsigned instruction) {
    csh decoder;
    if (code.empty() || cs_open(CS_ARCH_X86, CS_MODE_32, &decoder) != CS_ERR_OK) return std::nullopt;
    cs_insn *decoded = cs_malloc(decoder);
    const uint8_t *cursor = code.data();
    size_t left = code.size();
    uint64_t next = address;
    std::optional<uint32_t> found;
    while (!found && cs_disasm_iter(decoder, &cursor, &left, &next, decoded))
        if (decoded->id == instruction) found = static_cast<uint32_t>(decoded->address);
    cs_free(decoded, 1);
    cs_close(&decoder);
    return found;
}

void Cpu::fault_by_interrupt(uint32_t vector) { fault(interrupt_fault(vector, interrupt_instruction(vector))); }

uint32_t Cpu::interrupt_instruction(uint32_t vector) const {
    uint32_t eip = reg(UC_X86_REG_EIP);
    std::array<uint8_t, 2> before{};
    if (!leaves_eip_after(vector) || eip < before.size() ||
        uc_mem_read(uc_, eip - before.size(), before.data(), before.size()) != UC_ERR_OK)
        return eip;
    return interrupt_instruction_start(vector, eip, before);
}

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
    return find_instruction(std::span(code, length), block, instruction);
}

}  // namespace kiv
