// The page check: the program's accesses measured against its mappings as
// the emulator fills its TLB, and the TLB kept honest and large enough.
#include <csignal>

#include "machine/access_faults.h"
#include "machine/cpu.h"
#include "machine/memory_map.h"

namespace kiv {

// From here until the emulator is next entered from outside, the pages the
// program touches are checked against its mappings: nothing the emulator
// learnt of them unchecked, or before they changed, may stay in its TLB.
bool Cpu::check_pages() {
    if ((tlb_stale_ || memory_changes_ != memory_->changes()) && !flush_tlb()) return false;
    tlb_stale_ = false;
    memory_changes_ = memory_->changes();
    checking_pages_ = started_;
    return true;
}

// A TLB that cannot be flushed may still hold what the program may no
// longer touch: the run ends.
bool Cpu::flush_tlb() {
    if (uc_ctl_flush_tlb(uc_) != UC_ERR_OK) {
        emulator_failed("cannot flush the emulator's TLB");
        return false;
    }
    tlb_fills_ = 0;
    return true;
}

// Refusing a page stops the program at the instruction that wanted it.
// The emulator also looks up code pages for itself (where a run is to
// end, which translations to drop, also while a system call maps memory),
// with no instruction to stop at: so only the program's own accesses are
// checked, and an unmapped code page is left to the emulator, which reports
// it at the jump that led there.
bool Cpu::on_tlb_fill(uc_engine *, uint64_t address, uc_mem_type type, uc_tlb_entry *entry, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    if (self->checking_pages_ && !self->pinpointing_) self->count_tlb_fill();
    uint32_t page = page_floor(static_cast<uint32_t>(address));
    entry->paddr = page;
    entry->perms = UC_PROT_ALL;
    if (self->pinpointing_ && self->refused_ && self->refused_->page == page) {
        entry->paddr = kPinpointPage;
        return true;
    }
    auto protection = self->memory_->protection_at(page);
    const AccessKind *kind = access_kind(type);
    if (!self->checking_pages_ || kind == nullptr) {
        // Whatever the emulator keeps of this answer must go before the
        // program's next instruction.
        self->tlb_stale_ = true;
        return true;
    }
    if (type == UC_MEM_FETCH && !protection) return true;
    if (protection && (*protection & kind->needs) != 0) {
        entry->perms = static_cast<uc_prot>(GuestMemory::emulator_protection(*protection));
        return true;
    }
    self->refused_ = RefusedAccess{page, type, protection.has_value()};
    return false;
}

// The emulator's TLB is direct-mapped and starts with 256 entries: pages a
// multiple of 1 MiB apart share an entry, so a program working on two
// buffers that far apart misses the TLB at every access, at some 30 times
// the cost of a hit. The emulator grows the TLB only when it is flushed
// while mostly in use, and nothing flushes it while a program computes. So
// once the program has filled twice as many entries as the TLB has (two
// buffers sharing entries fill it only half), the TLB is flushed, until it
// covers kTlbReach. A flush here is safe: the emulator looks the entry up
// again after every fill, since a fill may resize the TLB.
void Cpu::count_tlb_fill() {
    constexpr uint32_t kTlbReach = 64u << 20;
    if (++tlb_fills_ < 2 * tlb_entries_ || tlb_entries_ >= kTlbReach / kPageSize) return;
    if (flush_tlb()) tlb_entries_ *= 2;
}

// Accesses the emulator finds unmapped itself (the page check leaves it
// the code pages no mapping covers), and the exact address of a refused
// access while its fault is pinpointed.
bool Cpu::on_invalid_memory(uc_engine *, uc_mem_type type, uint64_t address, int, int64_t, void *self_pointer) {
    auto *self = static_cast<Cpu *>(self_pointer);
    if (self->pinpointing_) {
        self->pinpointed_address_ = self->refused_->page | static_cast<uint32_t>(address % kPageSize);
        return false;
    }
    self->fault({memory_fault_what(type), self->reg(UC_X86_REG_EIP), static_cast<uint32_t>(address),
                 kSignalStatusBase + SIGSEGV});
    return false;
}

}  // namespace kiv
