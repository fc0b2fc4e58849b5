#include "guest_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

namespace kiv {

namespace {

constexpr uint64_t kAddressSpaceEnd = uint64_t{1} << 32;

bool page_aligned(uint64_t value) { return value % kPageSize == 0; }

struct EmulatorProtection {
    uint32_t access;
    uint32_t emulator;
};
constexpr EmulatorProtection kEmulatorProtections[] = {
    {kAccessRead, UC_PROT_READ}, {kAccessWrite, UC_PROT_WRITE}, {kAccessExec, UC_PROT_EXEC}};

uint32_t emulator_protection(uint32_t access) {
    uint32_t protection = UC_PROT_NONE;
    for (const auto &bit : kEmulatorProtections)
        if (access & bit.access) protection |= bit.emulator;
    return protection;
}

}  // namespace

GuestMemory::~GuestMemory() {
    for (auto &[start, region] : regions_) {
        uc_mem_unmap(uc_, start, region.size);
        munmap(region.host, region.size);
    }
}

bool GuestMemory::map(uint32_t start, uint32_t size, uint32_t protection) {
    if (size == 0 || !page_aligned(start) || !page_aligned(size) || regions_.size() >= kMaxMappings) return false;
    if (uint64_t{start} + size > kAddressSpaceEnd) return false;
    auto next = regions_.lower_bound(start);
    if (next != regions_.end() && next->first < uint64_t{start} + size) return false;
    if (next != regions_.begin()) {
        auto previous = std::prev(next);
        if (uint64_t{previous->first} + previous->second.size > start) return false;
    }
    void *host = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (host == MAP_FAILED) return false;
    if (uc_mem_map_ptr(uc_, start, size, emulator_protection(protection), host) != UC_ERR_OK) {
        munmap(host, size);
        return false;
    }
    regions_.emplace(start, Region{size, protection, static_cast<uint8_t *>(host)});
    return true;
}

bool GuestMemory::protect(uint32_t start, uint32_t protection) {
    auto it = regions_.find(start);
    if (it == regions_.end()) return false;
    if (uc_mem_protect(uc_, start, it->second.size, emulator_protection(protection)) != UC_ERR_OK) return false;
    it->second.protection = protection;
    return true;
}

bool GuestMemory::unmap(uint32_t start, uint32_t size) {
    if (size == 0 || !page_aligned(start)) return false;
    uint64_t end = page_ceil(uint64_t{start} + size);
    // The range must be exactly a run of whole, adjacent mappings.
    uint64_t cursor = start;
    auto it = regions_.find(start);
    while (cursor < end) {
        if (it == regions_.end() || it->first != cursor) return false;
        cursor += it->second.size;
        ++it;
    }
    if (cursor != end) return false;
    for (auto at = regions_.find(start); at != regions_.end() && at->first < end;) {
        uc_mem_unmap(uc_, at->first, at->second.size);
        ::munmap(at->second.host, at->second.size);
        at = regions_.erase(at);
    }
    return true;
}

std::optional<uint32_t> GuestMemory::find_free(uint32_t size, uint32_t low, uint32_t high) const {
    uint64_t length = page_ceil(size);
    uint64_t candidate = page_ceil(low);
    for (const auto &[start, region] : regions_) {
        uint64_t end = uint64_t{start} + region.size;
        if (end <= candidate) continue;
        if (start >= candidate + length) break;
        candidate = end;
    }
    if (length == 0 || candidate + length > high) return std::nullopt;
    return static_cast<uint32_t>(candidate);
}

const std::pair<const uint32_t, GuestMemory::Region> *GuestMemory::find(uint32_t address) const {
    auto it = regions_.upper_bound(address);
    if (it == regions_.begin()) return nullptr;
    --it;
    if (uint64_t{it->first} + it->second.size <= address) return nullptr;
    return &*it;
}

bool GuestMemory::usable(uint32_t address, uint64_t length, uint32_t access) const {
    if (length == 0) return true;
    uint64_t end = uint64_t{address} + length;
    if (end > (access != 0 ? uint64_t{kUserEnd} : kAddressSpaceEnd)) return false;
    uint64_t cursor = address;
    while (cursor < end) {
        const auto *entry = find(static_cast<uint32_t>(cursor));
        if (entry == nullptr || (entry->second.protection & access) != access) return false;
        cursor = uint64_t{entry->first} + entry->second.size;
    }
    return true;
}

std::vector<std::span<uint8_t>> GuestMemory::spans(uint32_t address, uint64_t length, uint32_t access) const {
    std::vector<std::span<uint8_t>> out;
    if (length == 0 || !usable(address, length, access)) return out;
    uint64_t cursor = address;
    uint64_t end = uint64_t{address} + length;
    while (cursor < end) {
        const auto *entry = find(static_cast<uint32_t>(cursor));
        uint64_t chunk = std::min<uint64_t>(end, uint64_t{entry->first} + entry->second.size) - cursor;
        out.emplace_back(entry->second.host + (cursor - entry->first), static_cast<size_t>(chunk));
        cursor += chunk;
    }
    return out;
}

bool GuestMemory::read(uint32_t address, void *out, uint32_t length) const {
    if (length == 0) return true;
    auto pieces = spans(address, length, kAccessRead);
    if (pieces.empty()) return false;
    auto *bytes = static_cast<uint8_t *>(out);
    for (auto piece : pieces) bytes = std::copy(piece.begin(), piece.end(), bytes);
    return true;
}

bool GuestMemory::write(uint32_t address, const void *data, uint32_t length) {
    if (!usable(address, length, kAccessWrite)) return false;
    return poke(address, data, length);
}

bool GuestMemory::poke(uint32_t address, const void *data, uint32_t length) {
    if (length == 0) return true;
    auto pieces = spans(address, length, 0);
    if (pieces.empty()) return false;
    const auto *bytes = static_cast<const uint8_t *>(data);
    for (auto piece : pieces) {
        std::copy(bytes, bytes + piece.size(), piece.begin());
        bytes += piece.size();
    }
    return true;
}

std::optional<std::string> GuestMemory::read_text(uint32_t address, uint32_t max_length) const {
    std::string text;
    uint64_t cursor = address;
    while (text.size() <= max_length) {
        const auto *entry = find(static_cast<uint32_t>(cursor));
        if (entry == nullptr || entry->first >= kUserEnd || (entry->second.protection & kAccessRead) == 0)
            return std::nullopt;
        uint64_t region_end = uint64_t{entry->first} + entry->second.size;
        const uint8_t *from = entry->second.host + (cursor - entry->first);
        uint64_t available = region_end - cursor;
        uint64_t wanted = std::min<uint64_t>(available, uint64_t{max_length} + 1 - text.size());
        const void *nul = std::memchr(from, 0, wanted);
        if (nul != nullptr) {
            text.append(reinterpret_cast<const char *>(from), static_cast<const uint8_t *>(nul) - from);
            return text;
        }
        text.append(reinterpret_cast<const char *>(from), wanted);
        cursor = region_end;
        if (cursor >= kAddressSpaceEnd) return std::nullopt;
    }
    return std::nullopt;
}

std::vector<GuestMemory::Mapping> GuestMemory::mappings() const {
    std::vector<Mapping> out;
    for (const auto &[start, region] : regions_) out.push_back({start, region.size, region.protection});
    return out;
}

}  // namespace kiv
