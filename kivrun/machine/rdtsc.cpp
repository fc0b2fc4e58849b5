// The guest's rdtsc answered from a made-up sequence (--tsc).
#include <algorithm>
#include <iterator>
#include <memory>
#include <span>
#include <vector>

#include "machine/cpu.h"

namespace kiv {

namespace {

constexpr uint8_t kRdtsc[] = {0x0f, 0x31};
// What rdtsc changes: the counter's low and high halves, and EIP past it.
constexpr int kRdtscRegisters[] = {UC_X86_REG_EAX, UC_X86_REG_EDX, UC_X86_REG_EIP};

// Addresses in executable memory whose bytes spell rdtsc, whether or not an
// instruction starts there; the search ends after one more than
// kMaxRdtscSites.
std::optional<std::vector<uint64_t>> rdtsc_sites(uc_engine *uc) {
    uc_mem_region *regions = nullptr;
    uint32_t count = 0;
    if (uc_mem_regions(uc, &regions, &count) != UC_ERR_OK) return std::nullopt;
    std::unique_ptr<uc_mem_region, uc_err (*)(void *)> owner(regions, uc_free);
    std::vector<uint64_t> sites;
    for (const uc_mem_region &region : std::span(regions, count)) {
        if ((region.perms & UC_PROT_EXEC) == 0) continue;
        std::vector<uint8_t> code(region.end - region.begin + 1);
        if (uc_mem_read(uc, region.begin, code.data(), code.size()) != UC_ERR_OK) return std::nullopt;
        auto site = code.begin();
        while (sites.size() <= kMaxRdtscSites &&
               (site = std::search(site, code.end(), std::begin(kRdtsc), std::end(kRdtsc))) != code.end())
            sites.push_back(region.begin + static_cast<uint64_t>(site++ - code.begin()));
    }
    return sites;
}

}  // namespace

// This Unicorn has no rdtsc hook, and a trap through CR4.TSD breaks down
// from the second read on (the emulator keeps the first caught fault pending
// and escalates the next ones to double and triple faults). A code hook on
// every instruction would slow the whole run, so each place in executable
// memory whose bytes spell rdtsc gets a hook of its own: it fires only when an
// instruction starts there, and then that instruction is rdtsc. Code the
// guest makes executable later is not covered.
std::optional<Stop> Cpu::hook_rdtsc_sites() {
    Stop failed{StopReason::EmulatorError, 0, std::nullopt, "cannot take over the time-stamp counter"};
    auto sites = rdtsc_sites(uc_);
    if (!sites) return failed;
    if (sites->size() > kMaxRdtscSites)
        return Stop{StopReason::Refused, 0, std::nullopt,
                    "more than " + std::to_string(kMaxRdtscSites) +
                        " places in its code spell rdtsc (--tsc, --record, --replay)"};
    for (uint64_t address : *sites) {
        uc_hook hook;
        if (uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void *>(on_rdtsc), this, address, address) !=
            UC_ERR_OK)
            return failed;
    }
    return std::nullopt;
}

// Performs the rdtsc at EIP with the next value of the sequence, unless the
// code there has changed since the hook was placed.
void Cpu::emulate_rdtsc() {
    uint32_t eip = reg(UC_X86_REG_EIP);
    uint8_t code[sizeof kRdtsc];
    if (uc_mem_read(uc_, eip, code, sizeof code) != UC_ERR_OK) {
        emulator_failed("cannot read the code at an rdtsc site");
        return;
    }
    if (!std::equal(code, code + sizeof code, kRdtsc)) return;
    std::optional<uint64_t> value = time_stamps_ != nullptr ? time_stamps_->read() : tsc_->at(tsc_reads_++);
    if (!value) {
        if (!stop_) stop_ = Stop{StopReason::Refused, 0, std::nullopt, "no time-stamp counter value"};
        uc_emu_stop(uc_);
        return;
    }
    uint32_t low = static_cast<uint32_t>(*value), high = static_cast<uint32_t>(*value >> 32);
    uint32_t next = eip + sizeof kRdtsc;
    void *values[] = {&low, &high, &next};
    static_assert(std::size(kRdtscRegisters) == std::size(values));
    if (uc_reg_write_batch(uc_, const_cast<int *>(kRdtscRegisters), values, static_cast<int>(std::size(values))) !=
        UC_ERR_OK)
        emulator_failed("cannot answer rdtsc");
}

void Cpu::on_rdtsc(uc_engine *, uint64_t, uint32_t, void *self) { static_cast<Cpu *>(self)->emulate_rdtsc(); }

}  // namespace kiv
