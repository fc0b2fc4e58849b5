// The guest's address space as the stand-in kernel sees it: every mapping
// with its protection, backed by host memory that Unicorn executes from.
// Every guest pointer a system call uses goes through here: a range is
// usable only when it does not wrap past 4 GiB and every page of it is mapped
// with the access the call needs.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kiv_mmap.h"
#include "machine/memory_map.h"
#include "support/flag_table.h"

namespace kiv {

// The kernel's page protections are the ones mmap takes.
enum Access : uint32_t {
    kAccessRead = KIV_PROT_READ,
    kAccessWrite = KIV_PROT_WRITE,
    kAccessExec = KIV_PROT_EXEC,
};
inline constexpr uint32_t kAccessAll = kAccessRead | kAccessWrite | kAccessExec;
// The access bits (mmap's protection bits), the emulator's, and their names.
inline constexpr FlagRow kProtections[] = {{kAccessRead, UC_PROT_READ, "PROT_READ"},
                                           {kAccessWrite, UC_PROT_WRITE, "PROT_WRITE"},
                                           {kAccessExec, UC_PROT_EXEC, "PROT_EXEC"}};

// Told of each page before its first write since it last started over:
// the page still holds what it held (a snapshot keeps that copy).
class WriteJournal {
public:
    virtual ~WriteJournal() = default;
    virtual bool recorded(uint32_t page) const = 0;
    virtual void record(uint32_t page) = 0;
};

class GuestMemory {
public:
    // Without the host's reservation for the address space (see reserved())
    // every map fails.
    explicit GuestMemory(uc_engine *uc);
    ~GuestMemory();
    GuestMemory(const GuestMemory &) = delete;
    GuestMemory &operator=(const GuestMemory &) = delete;
    bool reserved() const { return host_ != nullptr; }

    // Maps [start, start + size) (page-aligned, not overlapping an existing
    // mapping) as zero-filled memory with the given protection (kAccess*
    // bits); false past kMaxMappings or kMaxRegions.
    bool map(uint32_t start, uint32_t size, uint32_t protection);
    // Changes the protection of one whole mapping.
    bool protect(uint32_t start, uint32_t protection);
    // Removes whole mappings lying inside [start, start + size); false if the
    // range is not exactly covered by mappings, or if what remains would need
    // more than kMaxRegions regions.
    bool unmap(uint32_t start, uint32_t size);
    // The lowest page-aligned free range of `size` bytes within [low, high).
    std::optional<uint32_t> find_free(uint32_t size, uint32_t low, uint32_t high) const;

    // The emulator keeps each region of guest memory in a fixed-size table
    // (it aborts the host at about 4,000 of them); every map, unmap or
    // protection change costs it time that grows with the square of their
    // number, and with the number of pages in blocks of kRegionBlock bytes
    // that regions cover only in part. So adjacent mappings with one
    // protection share a region within one such aligned block, which keeps
    // the cost of a call flat however many of them there are, and regions
    // are capped well below the emulator's limit.
    static constexpr size_t kMaxMappings = 65530;
    static constexpr size_t kMaxRegions = 512;
    static constexpr uint32_t kRegionBlock = 2u << 20;

    // Whether [address, address + length) lies in user mappings that all
    // grant `access` (0: any mapping, for the loader). A zero length is
    // always usable (nothing is touched).
    bool usable(uint32_t address, uint64_t length, uint32_t access) const;
    // The protection of the page holding `address`; nullopt when unmapped.
    std::optional<uint32_t> protection_at(uint32_t address) const;
    // The emulator's protection bits for kAccess* bits.
    static uint32_t emulator_protection(uint32_t access);

    // The host's view of a usable range; nullopt when it is not usable.
    std::optional<std::span<uint8_t>> view(uint32_t address, uint64_t length, uint32_t access) const;
    bool read(uint32_t address, void *out, uint32_t length) const;
    bool write(uint32_t address, const void *data, uint32_t length);
    // Writes regardless of protection (the loader filling read-only pages).
    bool poke(uint32_t address, const void *data, uint32_t length);

    // From now on every write to a page `journal` has not recorded yet, by
    // a system call or by guest code, is told to it first (nullptr: none).
    void journal_writes(WriteJournal *journal) { journal_ = journal; }
    // Whether the emulator must not get write access to `page` yet: its
    // first write is still to be told to the journal.
    bool write_journaled(uint32_t page) const { return journal_ != nullptr && !journal_->recorded(page); }
    // Tells the journal of the pages of [address, address + length) before they change.
    void before_write(uint32_t address, uint64_t length) const;

    // A NUL-terminated text of at most `max_length` bytes; nullopt when it is
    // unreadable or longer.
    std::optional<std::string> read_text(uint32_t address, uint32_t max_length) const;

    struct Mapping {
        uint32_t start;
        uint32_t size;
        uint32_t protection;
    };
    std::vector<Mapping> mappings() const;
    // Counts the changes of mappings and protections so far.
    uint64_t changes() const { return changes_; }
    size_t region_count() const { return regions_.size(); }

private:
    struct Extent {
        uint32_t size;
        uint32_t protection;
    };
    // Start address to extent, not overlapping.
    using Extents = std::map<uint32_t, Extent>;

    // The extent holding `address`, if any.
    static const Extents::value_type *holding(const Extents &extents, uint32_t address);
    // Backs [start, start + size) with an emulator region, growing a
    // neighbouring one when it can.
    bool back(uint32_t start, uint32_t size, uint32_t protection);
    // Replaces the emulator regions over [start, end) by `pieces`; on
    // failure the old ones stay as they were.
    bool rebuild(uint32_t start, uint64_t end, const std::vector<Mapping> &pieces);
    bool map_region(const Mapping &piece);
    bool open_host(uint32_t start, uint64_t size);
    void close_host(uint32_t start, uint64_t size);
    uint8_t *host(uint32_t address) const { return host_ + address; }

    uc_engine *uc_;
    // The whole 4 GiB address space, reserved once: guest address a lives at
    // host_ + a, so regions can grow in place and any usable range is one
    // run of host memory.
    uint8_t *host_ = nullptr;
    Extents mappings_;  // as the program made them
    Extents regions_;   // as the emulator holds them
    uint64_t changes_ = 0;
    WriteJournal *journal_ = nullptr;
};

}  // namespace kiv
