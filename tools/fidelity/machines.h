// The two sides of the differential test: this host's CPU through the
// static i386 harness, and kivrun's emulated machine in this process.
#pragma once

#include <unicorn/unicorn.h>

#include <optional>
#include <string>
#include <vector>

#include "generator.h"

namespace fidelity {

// Runs every case in one harness process. Nothing when the harness cannot
// run (the reason in `why`): this host may not run i386 programs.
std::optional<std::vector<fid_result>> run_natively(const std::string &harness, const std::vector<Case> &cases,
                                                    std::string &why);

// kivrun's machine: its CPU model, initial x87 and SSE state and CPUID, one
// engine for many cases.
class EmulatedMachine {
public:
    EmulatedMachine();
    ~EmulatedMachine();
    EmulatedMachine(const EmulatedMachine &) = delete;
    EmulatedMachine &operator=(const EmulatedMachine &) = delete;

    bool ready() const { return uc_ != nullptr; }
    fid_result run(const Case &test);

private:
    static void on_interrupt(uc_engine *uc, uint32_t vector, void *self);
    uc_engine *uc_ = nullptr;
    // The emulator remembers a fault its hook took instead of delivering
    // it, and turns the next one into a double fault: after a fault, the
    // engine goes back to its state from before the first case.
    uc_context *clean_ = nullptr;
    bool faulted_ = false;
    fid_output *output_ = nullptr;  // of the case that runs
};

}  // namespace fidelity
