#include <csignal>
#include <cstring>
#include <iterator>

#include "machine/initial_state.h"
#include "machines.h"

namespace fidelity {

namespace {

// The signal Linux sends for each CPU exception a sequence can raise.
struct VectorSignal {
    uint32_t vector;
    int signal;
};
constexpr VectorSignal kVectorSignals[] = {{0, SIGFPE},   {6, SIGILL},  {13, SIGSEGV},
                                           {14, SIGSEGV}, {16, SIGFPE}, {19, SIGFPE}};

constexpr int kGprIds[FID_GPRS] = {UC_X86_REG_EDI, UC_X86_REG_ESI, UC_X86_REG_EBP, UC_X86_REG_ESP,
                                   UC_X86_REG_EBX, UC_X86_REG_EDX, UC_X86_REG_ECX, UC_X86_REG_EAX};

}  // namespace

EmulatedMachine::EmulatedMachine() {
    uc_hook hook;
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc_) != UC_ERR_OK) {
        uc_ = nullptr;
        return;
    }
    if (uc_mem_map(uc_, FID_CODE_PAGE, FID_PAGE_BYTES, UC_PROT_READ | UC_PROT_EXEC) != UC_ERR_OK ||
        uc_mem_map(uc_, FID_DATA_PAGE, FID_PAGE_BYTES, UC_PROT_READ | UC_PROT_WRITE) != UC_ERR_OK ||
        uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void *>(on_interrupt), this, 1, 0) != UC_ERR_OK ||
        !kiv::serve_cpuid(uc_) || !kiv::enable_floating_point(uc_) || uc_context_alloc(uc_, &clean_) != UC_ERR_OK ||
        uc_context_save(uc_, clean_) != UC_ERR_OK) {
        uc_close(uc_);
        uc_ = nullptr;
    }
}

EmulatedMachine::~EmulatedMachine() {
    if (clean_ != nullptr) uc_context_free(clean_);
    if (uc_ != nullptr) uc_close(uc_);
}

void EmulatedMachine::on_interrupt(uc_engine *uc, uint32_t vector, void *self_pointer) {
    auto *self = static_cast<EmulatedMachine *>(self_pointer);
    fid_output &output = *self->output_;
    for (int i = 0; i < FID_GPRS; i++) uc_reg_read(uc, kGprIds[i], &output.gpr[i]);
    uc_reg_read(uc, UC_X86_REG_EFLAGS, &output.eflags);
    uc_reg_read(uc, UC_X86_REG_EIP, &output.fault_eip);
    output.signal = SIGSEGV;
    for (const VectorSignal &known : kVectorSignals)
        if (known.vector == vector) output.signal = known.signal;
    uc_emu_stop(uc);
}

fid_result EmulatedMachine::run(const Case &test) {
    fid_result result{};
    fid_output output{};
    output_ = &output;
    uc_mem_write(uc_, FID_CODE_PAGE, test.bytes.code, test.bytes.code_bytes);
    uc_ctl_remove_cache(uc_, FID_CODE_PAGE, FID_CODE_PAGE + FID_PAGE_BYTES);
    uc_mem_write(uc_, FID_INPUT, &test.bytes.input, sizeof test.bytes.input);
    uc_mem_write(uc_, FID_MEMORY, test.bytes.memory, FID_MEMORY_BYTES);
    uc_mem_write(uc_, FID_OUTPUT, &output, sizeof output);
    if (faulted_) uc_context_restore(uc_, clean_);
    kiv::reset_floating_point(uc_);
    uc_err error = uc_emu_start(uc_, FID_CODE_PAGE, test.stop_address, 0, 0);
    if (output.signal == 0) {
        if (error == UC_ERR_OK) uc_mem_read(uc_, FID_OUTPUT, &output, sizeof output);
        else output.signal = error == UC_ERR_INSN_INVALID ? SIGILL : SIGSEGV;
    }
    faulted_ = output.signal != 0;
    result.output = output;
    uc_mem_read(uc_, FID_MEMORY, result.memory, FID_MEMORY_BYTES);
    return result;
}

}  // namespace fidelity
