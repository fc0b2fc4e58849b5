#include "debug/checkpoint.h"

#include <algorithm>
#include <cstring>

#include "machine/memory_map.h"

namespace kiv {

namespace {

const std::shared_ptr<const Page> &zero_page() {
    static const std::shared_ptr<const Page> kZero = std::make_shared<const Page>();
    return kZero;
}

bool same_mapping(const GuestMemory::Mapping &a, const GuestMemory::Mapping &b) {
    return a.start == b.start && a.size == b.size && a.protection == b.protection;
}

// The kernel's pages above the user's never change after the start.
std::vector<GuestMemory::Mapping> user_layout(const GuestMemory &memory) {
    auto layout = memory.mappings();
    std::erase_if(layout, [](const GuestMemory::Mapping &mapping) { return mapping.start >= kUserEnd; });
    return layout;
}

}  // namespace

std::unique_ptr<Checkpoint> Checkpoint::capture(const Cpu &cpu, const GuestMemory &memory, const Checkpoint *previous) {
    std::unique_ptr<Checkpoint> checkpoint(new Checkpoint);
    checkpoint->uc_ = cpu.engine();
    if (uc_context_alloc(checkpoint->uc_, &checkpoint->registers_) != UC_ERR_OK) return nullptr;
    if (uc_context_save(checkpoint->uc_, checkpoint->registers_) != UC_ERR_OK) return nullptr;
    checkpoint->progress_ = cpu.progress();
    checkpoint->layout_ = user_layout(memory);
    for (const auto &mapping : checkpoint->layout_) {
        checkpoint->first_page_.push_back(checkpoint->pages_.size());
        auto bytes = memory.view(mapping.start, mapping.size, 0);
        if (!bytes) return nullptr;
        for (uint32_t offset = 0; offset < mapping.size; offset += kPageSize) {
            const uint8_t *now = bytes->data() + offset;
            const auto *before = previous != nullptr ? previous->page_at(mapping.start + offset) : nullptr;
            const auto &candidate = before != nullptr ? *before : zero_page();
            if (std::memcmp(candidate->data(), now, kPageSize) == 0) {
                checkpoint->pages_.push_back(candidate);
                continue;
            }
            auto copy = std::make_shared<Page>();
            std::memcpy(copy->data(), now, kPageSize);
            checkpoint->pages_.push_back(std::move(copy));
            checkpoint->own_pages_++;
        }
    }
    return checkpoint;
}

Checkpoint::~Checkpoint() {
    if (registers_ != nullptr) uc_context_free(registers_);
}

const std::shared_ptr<const Page> *Checkpoint::page_at(uint32_t address) const {
    auto after = std::upper_bound(layout_.begin(), layout_.end(), address,
                                  [](uint32_t value, const GuestMemory::Mapping &m) { return value < m.start; });
    if (after == layout_.begin()) return nullptr;
    auto holding = std::prev(after);
    if (address - holding->start >= holding->size) return nullptr;
    size_t index = static_cast<size_t>(holding - layout_.begin());
    return &pages_[first_page_[index] + (address - holding->start) / kPageSize];
}

bool Checkpoint::restore(Cpu &cpu, GuestMemory &memory) const {
    if (!restore_layout(memory)) return false;
    if (restore_pages(memory))
        for (const auto &mapping : layout_)
            if ((mapping.protection & kAccessExec) != 0)
                uc_ctl_remove_cache(uc_, uint64_t{mapping.start}, uint64_t{mapping.start} + mapping.size);
    if (uc_context_restore(uc_, registers_) != UC_ERR_OK) return false;
    cpu.rewind(progress_);
    return true;
}

// Mappings made since go, mappings removed since come back, protections
// changed since change back.
bool Checkpoint::restore_layout(GuestMemory &memory) const {
    auto now = user_layout(memory);
    if (std::equal(now.begin(), now.end(), layout_.begin(), layout_.end(), same_mapping)) return true;
    auto kept = [](const std::vector<GuestMemory::Mapping> &in, const GuestMemory::Mapping &mapping) {
        return std::any_of(in.begin(), in.end(),
                           [&](const auto &m) { return m.start == mapping.start && m.size == mapping.size; });
    };
    for (const auto &mapping : now)
        if (!kept(layout_, mapping) && !memory.unmap(mapping.start, mapping.size)) return false;
    for (const auto &mapping : layout_) {
        bool done = kept(now, mapping) ? memory.protect(mapping.start, mapping.protection)
                                       : memory.map(mapping.start, mapping.size, mapping.protection);
        if (!done) return false;
    }
    return true;
}

bool Checkpoint::restore_pages(GuestMemory &memory) const {
    bool code_changed = false;
    for (size_t index = 0; index < layout_.size(); index++) {
        const auto &mapping = layout_[index];
        auto bytes = memory.view(mapping.start, mapping.size, 0);
        if (!bytes) return code_changed;
        for (uint32_t offset = 0; offset < mapping.size; offset += kPageSize) {
            const Page &saved = *pages_[first_page_[index] + offset / kPageSize];
            uint8_t *now = bytes->data() + offset;
            if (std::memcmp(saved.data(), now, kPageSize) == 0) continue;
            std::memcpy(now, saved.data(), kPageSize);
            code_changed |= (mapping.protection & kAccessExec) != 0;
        }
    }
    return code_changed;
}

}  // namespace kiv
