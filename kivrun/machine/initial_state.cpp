#include "machine/initial_state.h"

#include <algorithm>
#include <iterator>

namespace kiv {

namespace {

// Two pages above the user range, where no guest pointer is ever accepted.
// The kernel page holds the iret that drops into user mode; from the
// program's first instruction on it cannot be read, written or run. The
// descriptor table has a page of its own that stays readable, because the
// CPU reads it through guest memory whenever a segment register is loaded
// (even a user program reloading its own selectors). Guest instructions can
// read it too: it holds nothing but the flat descriptors, and it is
// read-only, so no program can raise its own privilege through it.
constexpr uint32_t kIretFrame = kKernelPage + 0x100;  // EIP, CS, EFLAGS, ESP, SS
constexpr uint32_t kGdt = kDescriptorTablePage;
constexpr uint8_t kIret = 0xcf;

// Linux i386's slots, so that the selectors read the same as there.
enum GdtSlot : uint32_t { kKernelCode = 12, kKernelData = 13, kUserCode = 14, kUserData = 15, kGdtSlots };

constexpr uint32_t selector(GdtSlot slot, uint32_t privilege) { return (slot << 3) | privilege; }
static_assert(selector(kUserCode, 3) == kUserCodeSelector && selector(kUserData, 3) == kUserDataSelector);

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

// What a program can use of the CPU: the x87 unit, rdtsc, cmpxchg8b, cmov,
// MMX, fxsave, SSE, SSE2 and SSE3. The emulator's own model would also name
// sysenter and syscall (refused here), long mode and virtualisation.
constexpr uint32_t kFeaturesEdx = 1u << 0 | 1u << 4 | 1u << 8 | 1u << 15 | 1u << 23 | 1u << 24 | 1u << 25 | 1u << 26;
constexpr uint32_t kFeaturesEcx = 1u << 0;
constexpr uint32_t kFamilyModelStepping = 0x663;
constexpr uint32_t kLastExtendedLeaf = 0x80000000;
// "GenuineIntel" in EBX, EDX, ECX order.
constexpr uint32_t kVendorEbx = 0x756e6547, kVendorEdx = 0x49656e69, kVendorEcx = 0x6c65746e;

struct CpuidLeaf {
    uint32_t leaf;
    CpuidAnswer answer;
};
constexpr CpuidLeaf kCpuidLeaves[] = {
    {0, {1, kVendorEbx, kVendorEcx, kVendorEdx}},
    {1, {kFamilyModelStepping, 0, kFeaturesEcx, kFeaturesEdx}},
    {kLastExtendedLeaf, {kLastExtendedLeaf, 0, 0, 0}},
};

constexpr int kCpuidRegisters[] = {UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX};

// An answer the emulator does not take ends the emulation early.
int on_cpuid(uc_engine *uc, void *) {
    if (!answer_cpuid(uc)) uc_emu_stop(uc);
    return kSkipEmulatorsCpuid;
}

}  // namespace

bool answer_cpuid(uc_engine *uc) {
    uint32_t leaf = 0;
    if (uc_reg_read(uc, UC_X86_REG_EAX, &leaf) != UC_ERR_OK) return false;
    CpuidAnswer answer = served_cpuid(leaf);
    void *values[] = {&answer.eax, &answer.ebx, &answer.ecx, &answer.edx};
    return uc_reg_write_batch(uc, const_cast<int *>(kCpuidRegisters), values, static_cast<int>(std::size(values))) ==
           UC_ERR_OK;
}

CpuidAnswer served_cpuid(uint32_t leaf) {
    auto found = std::find_if(std::begin(kCpuidLeaves), std::end(kCpuidLeaves),
                              [leaf](const CpuidLeaf &entry) { return entry.leaf == leaf; });
    return found != std::end(kCpuidLeaves) ? found->answer : CpuidAnswer{};
}

bool serve_cpuid(uc_engine *uc) {
    uc_hook hook;
    return uc_hook_add(uc, &hook, UC_HOOK_INSN, reinterpret_cast<void *>(on_cpuid), nullptr, 1, 0, UC_X86_INS_CPUID) ==
           UC_ERR_OK;
}

// Linux enables the x87 unit's own error reporting (CR0.NE, CR0.MP), and
// SSE with its exceptions (CR4.OSFXSR, CR4.OSXMMEXCPT): without them
// fxsave leaves out the SSE state and an unmasked SIMD exception would be
// an invalid instruction.
bool enable_floating_point(uc_engine *uc) {
    constexpr uint64_t kMonitorCoprocessor = 1u << 1, kNumericError = 1u << 5;
    constexpr uint64_t kOsFxsr = 1u << 9, kOsXmmExceptions = 1u << 10;
    uint64_t cr0 = 0, cr4 = 0;
    if (uc_reg_read(uc, UC_X86_REG_CR0, &cr0) != UC_ERR_OK || uc_reg_read(uc, UC_X86_REG_CR4, &cr4) != UC_ERR_OK)
        return false;
    cr0 |= kMonitorCoprocessor | kNumericError;
    cr4 |= kOsFxsr | kOsXmmExceptions;
    return uc_reg_write(uc, UC_X86_REG_CR0, &cr0) == UC_ERR_OK && uc_reg_write(uc, UC_X86_REG_CR4, &cr4) == UC_ERR_OK;
}

bool reset_floating_point(uc_engine *uc) {
    constexpr uint32_t kAllEmpty = 0xffff;
    uint32_t control = kInitialFpuControl, status = 0, tags = kAllEmpty, mxcsr = kInitialMxcsr;
    return uc_reg_write(uc, UC_X86_REG_FPCW, &control) == UC_ERR_OK &&
           uc_reg_write(uc, UC_X86_REG_FPSW, &status) == UC_ERR_OK &&
           uc_reg_write(uc, UC_X86_REG_FPTAG, &tags) == UC_ERR_OK &&
           uc_reg_write(uc, UC_X86_REG_MXCSR, &mxcsr) == UC_ERR_OK;
}

bool prepare_user_mode(uc_engine *uc, GuestMemory &memory, uint32_t entry, uint32_t stack) {
    if (!memory.map(kKernelPage, kPageSize, kAccessRead | kAccessExec) || !memory.map(kGdt, kPageSize, kAccessRead))
        return false;
    uint64_t gdt[kGdtSlots] = {};
    gdt[kUserCode] = flat_descriptor(true, 3);
    gdt[kUserData] = flat_descriptor(false, 3);
    gdt[kKernelCode] = flat_descriptor(true, 0);
    gdt[kKernelData] = flat_descriptor(false, 0);
    uint32_t frame[5] = {entry, kUserCodeSelector, kInitialEflags, stack, kUserDataSelector};
    if (!memory.poke(kGdt, gdt, sizeof gdt) || !memory.poke(kIretFrame, frame, sizeof frame) ||
        !memory.poke(kUserModeTrampoline, &kIret, 1))
        return false;

    uc_x86_mmr gdtr{};
    gdtr.base = kGdt;
    gdtr.limit = sizeof gdt - 1;
    // Linux starts a program with null selectors in FS and GS.
    uint32_t kernel_code = selector(kKernelCode, 0), kernel_data = selector(kKernelData, 0);
    uint32_t user_data = kUserDataSelector, null_selector = 0, frame_pointer = kIretFrame;
    return uc_reg_write(uc, UC_X86_REG_GDTR, &gdtr) == UC_ERR_OK &&
           uc_reg_write(uc, UC_X86_REG_SS, &kernel_data) == UC_ERR_OK &&
           uc_reg_write(uc, UC_X86_REG_CS, &kernel_code) == UC_ERR_OK &&
           uc_reg_write(uc, UC_X86_REG_DS, &user_data) == UC_ERR_OK &&
           uc_reg_write(uc, UC_X86_REG_ES, &user_data) == UC_ERR_OK &&
           uc_reg_write(uc, UC_X86_REG_FS, &null_selector) == UC_ERR_OK &&
           uc_reg_write(uc, UC_X86_REG_GS, &null_selector) == UC_ERR_OK &&
           uc_reg_write(uc, UC_X86_REG_ESP, &frame_pointer) == UC_ERR_OK && enable_floating_point(uc) &&
           reset_floating_point(uc);
}

}  // namespace kiv
