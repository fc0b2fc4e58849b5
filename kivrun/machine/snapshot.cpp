#include "machine/snapshot.h"

#include <cstring>

namespace kiv {

Snapshot::Snapshot(uc_engine *uc, GuestMemory &memory)
    : uc_(uc), memory_(memory), written_bits_(kPages / kBitsPerWord) {}

Snapshot::~Snapshot() {
    memory_.journal_writes(nullptr);
    if (registers_ != nullptr) uc_context_free(registers_);
}

// The emulator's TLB may still grant writes to pages from before: they are
// dropped, so that the next write to each page is filled again and seen.
bool Snapshot::take() {
    if (registers_ == nullptr && uc_context_alloc(uc_, &registers_) != UC_ERR_OK) return false;
    if (uc_context_save(uc_, registers_) != UC_ERR_OK) return false;
    kept_.clear();
    forget_written();
    mapping_changes_ = memory_.changes();
    memory_.journal_writes(this);
    uc_ctl_flush_tlb(uc_);
    return true;
}

// Code translated from a page written since is dropped with it; the TLB is
// flushed so that each page's next write is journaled again.
bool Snapshot::restore() {
    if (registers_ == nullptr || memory_.changes() != mapping_changes_) return false;
    for (uint32_t page : written_) {
        auto bytes = memory_.view(page, kPageSize, 0);
        if (!bytes) return false;
        std::memcpy(bytes->data(), kept_.at(page)->data(), kPageSize);
        auto protection = memory_.protection_at(page);
        if (protection && (*protection & kAccessExec) != 0) uc_ctl_remove_cache(uc_, page, uint64_t{page} + kPageSize);
    }
    forget_written();
    uc_ctl_flush_tlb(uc_);
    return uc_context_restore(uc_, registers_) == UC_ERR_OK;
}

bool Snapshot::recorded(uint32_t page) const {
    size_t bit = index(page);
    return (written_bits_[bit / kBitsPerWord] >> (bit % kBitsPerWord) & 1) != 0;
}

// A page keeps its first copy for as long as the snapshot lives: later
// writes find it written before and restored since, so equal to the copy.
void Snapshot::record(uint32_t page) {
    size_t bit = index(page);
    written_bits_[bit / kBitsPerWord] |= uint64_t{1} << (bit % kBitsPerWord);
    written_.push_back(page);
    auto &copy = kept_[page];
    if (copy) return;
    auto bytes = memory_.view(page, kPageSize, 0);
    copy = std::make_unique<Page>();
    if (bytes) std::memcpy(copy->data(), bytes->data(), kPageSize);
}

void Snapshot::forget_written() {
    for (uint32_t page : written_) {
        size_t bit = index(page);
        written_bits_[bit / kBitsPerWord] &= ~(uint64_t{1} << (bit % kBitsPerWord));
    }
    written_.clear();
}

}  // namespace kiv
