// The guest's address space as the stand-in kernel sees it: every mapping
// with its protection, backed by host memory that Unicorn executes from.
// Every guest pointer a system call uses goes through here: a range is
// usable only when it does not wrap past 4 GiB and every page of it is mapped
// with the access the call needs.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <unicorn/unicorn.h>

#include "kiv_mmap.h"
#include "memory_map.h"

namespace kiv {

// The kernel's page protections are the ones mmap takes.
enum Access : uint32_t {
    kAccessRead = KIV_PROT_READ,
    kAccessWrite = KIV_PROT_WRITE,
    kAccessExec = KIV_PROT_EXEC,
};
inline constexpr uint32_t kAccessAll = kAccessRead | kAccessWrite | kAccessExec;

class GuestMemory {
public:
    explicit GuestMemory(uc_engine *uc) : uc_(uc) {}
    ~GuestMemory();
    GuestMemory(const GuestMemory &) = delete;
    GuestMemory &operator=(const GuestMemory &) = delete;

    // Maps [start, start + size) (page-aligned, not overlapping an existing
    // mapping) as zero-filled memory with the given protection (kAccess*
    // bits); false past kMaxMappings.
    bool map(uint32_t start, uint32_t size, uint32_t protection);

    // Each mapping is a section in a fixed-size table of the emulator (which
    // aborts the host at about 4,000 of them), and every new one costs more
    // the more there are, steeply so past a few hundred (1,000 one-page
    // mappings and their release take seconds, 500 a quarter of a second).
    static constexpr size_t kMaxMappings = 512;
    // Changes the protection of one whole mapping.
    bool protect(uint32_t start, uint32_t protection);
    // Removes whole mappings lying inside [start, start + size); false if the
    // range is not exactly covered by mappings.
    bool unmap(uint32_t start, uint32_t size);
    // The lowest page-aligned free range of `size` bytes within [low, high).
    std::optional<uint32_t> find_free(uint32_t size, uint32_t low, uint32_t high) const;

    // Whether [address, address + length) lies in user mappings that all
    // grant `access` (0: any mapping, for the loader). A zero length is
    // always usable (nothing is touched).
    bool usable(uint32_t address, uint64_t length, uint32_t access) const;

    // Host views of a usable range, one per mapping it crosses; empty when
    // the range is not usable (or has no bytes).
    std::vector<std::span<uint8_t>> spans(uint32_t address, uint64_t length, uint32_t access) const;
    bool read(uint32_t address, void *out, uint32_t length) const;
    bool write(uint32_t address, const void *data, uint32_t length);
    // Writes regardless of protection (the loader filling read-only pages).
    bool poke(uint32_t address, const void *data, uint32_t length);

    // A NUL-terminated text of at most `max_length` bytes; nullopt when it is
    // unreadable or longer.
    std::optional<std::string> read_text(uint32_t address, uint32_t max_length) const;

    struct Mapping {
        uint32_t start;
        uint32_t size;
        uint32_t protection;
    };
    std::vector<Mapping> mappings() const;

private:
    struct Region {
        uint32_t size;
        uint32_t protection;
        uint8_t *host;
    };
    // The region holding `address`, if any.
    const std::pair<const uint32_t, Region> *find(uint32_t address) const;

    uc_engine *uc_;
    std::map<uint32_t, Region> regions_;
};

}  // namespace kiv
