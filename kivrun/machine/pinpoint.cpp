// Where a refused access happened: the exact instruction and address of a
// fault the page check caught, and the instructions that run before a page
// the program may not execute.
#include <algorithm>
#include <csignal>

#include "machine/access_faults.h"
#include "machine/cpu.h"
#include "machine/memory_map.h"

namespace kiv {

// The emulator stopped before the refused access with every register as
// it was at the start of the instruction. The instruction runs once more
// with the refused page sent to physical memory no region covers; the
// emulator's report of that access gives the offset within the page. The
// access fails again, so nothing the instruction would change is changed.
Fault Cpu::pinpoint_memory_fault() {
    RefusedAccess refused = *refused_;
    uint32_t eip = reg(UC_X86_REG_EIP);
    pinpointed_address_.reset();
    first_refused_byte_.reset();
    pinpointing_ = true;
    if (check_pages()) rerun_refused_instruction(eip);
    pinpointing_ = checking_pages_ = false;
    refused_.reset();
    // Neither the TLB nor EIP may keep the detour.
    tlb_stale_ = true;
    if (uc_reg_write(uc_, UC_X86_REG_EIP, &eip) != UC_ERR_OK)
        emulator_failed("cannot go back to the faulting instruction");
    const AccessKind &kind = *access_kind(refused.type);
    return Fault{memory_fault_what(refused.mapped ? kind.refused : kind.unmapped), eip,
                 first_refused_byte_.value_or(pinpointed_address_.value_or(refused.page)), kSignalStatusBase + SIGSEGV};
}

// The emulator splits an access that straddles two pages into bytes,
// written last first: the access as the instruction made it shows its
// first refused byte. Without the hook that watches it, the emulator's
// report still gives an address in the page.
void Cpu::rerun_refused_instruction(uint32_t eip) {
    uc_hook accesses;
    bool watched = uc_hook_add(uc_, &accesses, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE,
                               reinterpret_cast<void *>(on_pinpointed_access), this, 1, 0) == UC_ERR_OK;
    // The instruction's own translation, kept neither from before the
    // detour nor after it. Ending at the page's end keeps the translation
    // off the next page, which may be one the program may not execute. The
    // run fails at the refused access, as it should: its error says nothing.
    if (drop_translation(eip)) {
        (void)uc_emu_start(uc_, eip, uint64_t{page_floor(eip)} + kPageSize, 0, 1);
        drop_translation(eip);
    }
    if (watched && uc_hook_del(uc_, accesses) != UC_ERR_OK) emulator_failed("cannot remove the pinpointing hook");
}

bool Cpu::drop_translation(uint32_t address) {
    if (uc_ctl_remove_cache(uc_, uint64_t{address}, uint64_t{address} + 1) == UC_ERR_OK) return true;
    emulator_failed("cannot drop translated code");
    return false;
}

void Cpu::on_pinpointed_access(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    if (!self->pinpointing_ || !self->refused_) return;
    uint64_t page = self->refused_->page, end = address + static_cast<uint64_t>(size);
    if (end <= page || address >= page + kPageSize) return;
    auto first = static_cast<uint32_t>(std::max(address, page));
    if (!self->first_refused_byte_ || first < *self->first_refused_byte_) self->first_refused_byte_ = first;
}

// The emulator translates a whole block before running any of it, so
// straight-line code running into a page the program may not execute is
// refused at the block's start, with none of its instructions run.
bool Cpu::code_ahead_refused() const {
    return refused_->type == UC_MEM_FETCH && refused_->mapped && page_floor(reg(UC_X86_REG_EIP)) != refused_->page;
}

// Runs the block once more, to the refused page's start: the emulator
// then ends its translation there, and what comes before the page runs,
// faulting where it faults. Reaching the page is the fetch's fault.
uc_err Cpu::run_up_to_refused_code() {
    uint32_t page = refused_->page;
    refused_.reset();
    if (!check_pages()) return UC_ERR_OK;
    set_in_guest_code(true);
    uc_err error = uc_emu_start(uc_, reg(UC_X86_REG_EIP), page, 0, 0);
    set_in_guest_code(false);
    checking_pages_ = false;
    if (error == UC_ERR_OK && !stop_ && !paused_ && reg(UC_X86_REG_EIP) == page)
        fault({memory_fault_what(UC_MEM_FETCH_PROT), page, page, kSignalStatusBase + SIGSEGV});
    return error;
}

}  // namespace kiv
