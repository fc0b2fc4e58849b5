#include "machine/guest_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

namespace kiv {

namespace {

constexpr uint64_t kAddressSpaceEnd = uint64_t{1} << 32;

bool page_aligned(uint64_t value) { return value % kPageSize == 0; }

}  // namespace

uint32_t GuestMemory::emulator_protection(uint32_t access) {
    uint32_t protection = UC_PROT_NONE;
    for (const auto &bit : kProtections)
        if (access & bit.kivos) protection |= bit.host;
    return protection;
}

namespace {

uint64_t end_of(const auto &entry) { return uint64_t{entry.first} + entry.second.size; }

// What of `region` lies before `start`, or from `end` on, keeping its
// protection.
std::optional<GuestMemory::Mapping> part_before(const auto &region, uint32_t start) {
    if (region.first >= start) return std::nullopt;
    return GuestMemory::Mapping{region.first, start - region.first, region.second.protection};
}
std::optional<GuestMemory::Mapping> part_after(const auto &region, uint64_t end) {
    if (end_of(region) <= end) return std::nullopt;
    return GuestMemory::Mapping{static_cast<uint32_t>(end), static_cast<uint32_t>(end_of(region) - end),
                                region.second.protection};
}

// Executable regions are never grown or split to share them: rebuilding a
// region drops the code translated from it, possibly the very code that
// made the call.
bool shareable(uint32_t protection) { return (protection & kAccessExec) == 0; }

}  // namespace

// Host pages are reserved inaccessible and opened only while mapped: the
// reservation costs no commit charge however the host accounts memory, and
// a stray host access to a guest hole faults instead of reading zeros.
GuestMemory::GuestMemory(uc_engine *uc) : uc_(uc) {
    void *reserved = mmap(nullptr, kAddressSpaceEnd, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED) return;
    // Huge pages would make the first touch of every scattered page clear
    // two megabytes.
    madvise(reserved, kAddressSpaceEnd, MADV_NOHUGEPAGE);
    host_ = static_cast<uint8_t *>(reserved);
}

bool GuestMemory::open_host(uint32_t start, uint64_t size) {
    return mprotect(host(start), size, PROT_READ | PROT_WRITE) == 0;
}

// Gives the pages back to the host: mapped again, they read as zeros.
void GuestMemory::close_host(uint32_t start, uint64_t size) {
    mmap(host(start), size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
    madvise(host(start), size, MADV_NOHUGEPAGE);
}

GuestMemory::~GuestMemory() {
    for (const auto &[start, region] : regions_) uc_mem_unmap(uc_, start, region.size);
    if (host_ != nullptr) munmap(host_, kAddressSpaceEnd);
}

const GuestMemory::Extents::value_type *GuestMemory::holding(const Extents &extents, uint32_t address) {
    auto it = extents.upper_bound(address);
    if (it == extents.begin()) return nullptr;
    --it;
    return end_of(*it) > address ? &*it : nullptr;
}

bool GuestMemory::map(uint32_t start, uint32_t size, uint32_t protection) {
    if (host_ == nullptr || size == 0 || !page_aligned(start) || !page_aligned(size)) return false;
    if (uint64_t{start} + size > kAddressSpaceEnd || mappings_.size() >= kMaxMappings) return false;
    auto next = mappings_.lower_bound(start);
    if (next != mappings_.end() && next->first < uint64_t{start} + size) return false;
    if (next != mappings_.begin() && end_of(*std::prev(next)) > start) return false;
    if (!open_host(start, size)) return false;
    if (!back(start, size, protection)) {
        close_host(start, size);
        return false;
    }
    mappings_.emplace(start, Extent{size, protection});
    return true;
}

bool GuestMemory::back(uint32_t start, uint32_t size, uint32_t protection) {
    uint64_t end = uint64_t{start} + size;
    // Sharing stays inside one aligned block: the emulator's index takes one
    // entry for a whole block, but one per page of a block covered in part.
    auto one_block = [](uint64_t from, uint64_t to) { return from / kRegionBlock == (to - 1) / kRegionBlock; };
    if (shareable(protection)) {
        const auto *before = start != 0 ? holding(regions_, start - 1) : nullptr;
        if (before != nullptr && before->second.protection == protection && one_block(before->first, end))
            return rebuild(before->first, end, {{before->first, before->second.size + size, protection}});
        auto after = regions_.find(static_cast<uint32_t>(end));
        if (after != regions_.end() && after->second.protection == protection && one_block(start, end_of(*after)))
            return rebuild(start, end_of(*after), {{start, after->second.size + size, protection}});
    }
    return rebuild(start, end, {{start, size, protection}});
}

bool GuestMemory::map_region(const Mapping &piece) {
    return uc_mem_map_ptr(uc_, piece.start, piece.size, emulator_protection(piece.protection), host(piece.start)) ==
           UC_ERR_OK;
}

bool GuestMemory::rebuild(uint32_t start, uint64_t end, const std::vector<Mapping> &pieces) {
    auto first = regions_.lower_bound(start);
    auto last = first;
    while (last != regions_.end() && last->first < end) ++last;
    if (regions_.size() - static_cast<size_t>(std::distance(first, last)) + pieces.size() > kMaxRegions) return false;
    for (auto it = first; it != last; ++it) uc_mem_unmap(uc_, it->first, it->second.size);
    size_t mapped = 0;
    while (mapped < pieces.size() && map_region(pieces[mapped])) ++mapped;
    if (mapped < pieces.size()) {
        for (size_t i = 0; i < mapped; i++) uc_mem_unmap(uc_, pieces[i].start, pieces[i].size);
        for (auto it = first; it != last; ++it) map_region({it->first, it->second.size, it->second.protection});
        return false;
    }
    regions_.erase(first, last);
    for (const Mapping &piece : pieces) regions_.emplace(piece.start, Extent{piece.size, piece.protection});
    ++changes_;
    return true;
}

bool GuestMemory::protect(uint32_t start, uint32_t protection) {
    auto mapping = mappings_.find(start);
    if (mapping == mappings_.end()) return false;
    const auto *region = holding(regions_, start);
    std::vector<Mapping> pieces;
    if (auto before = part_before(*region, start)) pieces.push_back(*before);
    pieces.push_back({start, mapping->second.size, protection});
    if (auto after = part_after(*region, end_of(*mapping))) pieces.push_back(*after);
    if (!rebuild(region->first, end_of(*region), pieces)) return false;
    mapping->second.protection = protection;
    return true;
}

bool GuestMemory::unmap(uint32_t start, uint32_t size) {
    if (size == 0 || !page_aligned(start)) return false;
    uint64_t end = page_ceil(uint64_t{start} + size);
    // The range must be exactly a run of whole, adjacent mappings.
    uint64_t cursor = start;
    for (auto it = mappings_.find(start); cursor < end; ++it) {
        if (it == mappings_.end() || it->first != cursor) return false;
        cursor = end_of(*it);
    }
    if (cursor != end) return false;
    // What the first and last regions hold outside the range stays.
    const auto *first = holding(regions_, start);
    const auto *last = holding(regions_, static_cast<uint32_t>(end - 1));
    std::vector<Mapping> kept;
    if (auto before = part_before(*first, start)) kept.push_back(*before);
    if (auto after = part_after(*last, end)) kept.push_back(*after);
    if (!rebuild(first->first, end_of(*last), kept)) return false;
    mappings_.erase(mappings_.find(start), mappings_.upper_bound(static_cast<uint32_t>(end - 1)));
    close_host(start, end - start);
    return true;
}

std::optional<uint32_t> GuestMemory::find_free(uint32_t size, uint32_t low, uint32_t high) const {
    uint64_t length = page_ceil(size);
    uint64_t candidate = page_ceil(low);
    auto it = regions_.upper_bound(static_cast<uint32_t>(std::min<uint64_t>(candidate, UINT32_MAX)));
    if (it != regions_.begin()) --it;
    for (; it != regions_.end(); ++it) {
        if (end_of(*it) <= candidate) continue;
        if (it->first >= candidate + length) break;
        candidate = end_of(*it);
    }
    if (length == 0 || candidate + length > high) return std::nullopt;
    return static_cast<uint32_t>(candidate);
}

bool GuestMemory::usable(uint32_t address, uint64_t length, uint32_t access) const {
    if (length == 0) return true;
    uint64_t end = uint64_t{address} + length;
    if (end > (access != 0 ? uint64_t{kUserEnd} : kAddressSpaceEnd)) return false;
    for (uint64_t cursor = address; cursor < end;) {
        const auto *region = holding(regions_, static_cast<uint32_t>(cursor));
        if (region == nullptr || (region->second.protection & access) != access) return false;
        cursor = end_of(*region);
    }
    return true;
}

std::optional<uint32_t> GuestMemory::protection_at(uint32_t address) const {
    const auto *region = holding(regions_, address);
    if (region == nullptr) return std::nullopt;
    return region->second.protection;
}

std::optional<std::span<uint8_t>> GuestMemory::view(uint32_t address, uint64_t length, uint32_t access) const {
    if (!usable(address, length, access)) return std::nullopt;
    if ((access & kAccessWrite) != 0) before_write(address, length);
    return std::span(host(address), static_cast<size_t>(length));
}

bool GuestMemory::read(uint32_t address, void *out, uint32_t length) const {
    auto bytes = view(address, length, kAccessRead);
    if (bytes) std::copy(bytes->begin(), bytes->end(), static_cast<uint8_t *>(out));
    return bytes.has_value();
}

bool GuestMemory::write(uint32_t address, const void *data, uint32_t length) {
    return usable(address, length, kAccessWrite) && poke(address, data, length);
}

bool GuestMemory::poke(uint32_t address, const void *data, uint32_t length) {
    auto bytes = view(address, length, 0);
    if (bytes) before_write(address, length);
    if (bytes) std::copy_n(static_cast<const uint8_t *>(data), length, bytes->begin());
    return bytes.has_value();
}

void GuestMemory::before_write(uint32_t address, uint64_t length) const {
    if (journal_ == nullptr || length == 0) return;
    for (uint64_t page = page_floor(address); page < address + length; page += kPageSize)
        if (!journal_->recorded(static_cast<uint32_t>(page))) journal_->record(static_cast<uint32_t>(page));
}

std::optional<std::string> GuestMemory::read_text(uint32_t address, uint32_t max_length) const {
    uint64_t limit = std::min<uint64_t>(uint64_t{address} + max_length + 1, kUserEnd);
    for (uint64_t cursor = address; cursor < limit;) {
        const auto *region = holding(regions_, static_cast<uint32_t>(cursor));
        if (region == nullptr || (region->second.protection & kAccessRead) == 0) return std::nullopt;
        uint64_t stop = std::min(limit, end_of(*region));
        const void *nul = std::memchr(host(static_cast<uint32_t>(cursor)), 0, stop - cursor);
        if (nul != nullptr)
            return std::string(reinterpret_cast<const char *>(host(address)), static_cast<const char *>(nul));
        cursor = stop;
    }
    return std::nullopt;
}

std::vector<GuestMemory::Mapping> GuestMemory::mappings() const {
    std::vector<Mapping> out;
    for (const auto &[start, mapping] : mappings_) out.push_back({start, mapping.size, mapping.protection});
    return out;
}

}  // namespace kiv
