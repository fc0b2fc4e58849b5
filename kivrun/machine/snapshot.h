// A point the machine can go back to, many times over: the CPU's registers
// and the guest's memory as they were at take(). Memory is kept lazily: a
// page is copied only when it is first written after take(), from the
// emulator's write fill of its TLB (guest stores) or from GuestMemory
// (system calls); restore() copies back only the pages written since the
// last take() or restore(), about a memcpy each. Unicorn's own memory
// snapshot costs tens of microseconds per page instead (docs/performance.md).
#pragma once

#include <unicorn/unicorn.h>

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "machine/guest_memory.h"
#include "machine/memory_map.h"

namespace kiv {

class Snapshot : public WriteJournal {
public:
    // Nothing is kept before take().
    Snapshot(uc_engine *uc, GuestMemory &memory);
    ~Snapshot() override;
    Snapshot(const Snapshot &) = delete;
    Snapshot &operator=(const Snapshot &) = delete;

    // Keeps the registers and starts journaling writes; false when the
    // emulator cannot save its registers. Only outside guest code.
    bool take();
    // Puts back the registers and every page written since; false (nothing
    // restored) when the program has mapped, unmapped or protected memory
    // since take(): the kept pages no longer describe its address space.
    bool restore();

    // Pages written since the last take() or restore().
    size_t pages_written() const { return written_.size(); }

    bool recorded(uint32_t page) const override;
    void record(uint32_t page) override;

private:
    using Page = std::array<uint8_t, kPageSize>;
    static constexpr size_t kPages = size_t{1} << 20;  // in 4 GiB
    static constexpr size_t kBitsPerWord = 64;

    static size_t index(uint32_t page) { return page / kPageSize; }
    void forget_written();

    uc_engine *uc_;
    GuestMemory &memory_;
    uc_context *registers_ = nullptr;
    uint64_t mapping_changes_ = 0;
    // The pages' content at take(), for every page written since.
    std::unordered_map<uint32_t, std::unique_ptr<Page>> kept_;
    std::vector<uint32_t> written_;       // since the last take() or restore()
    std::vector<uint64_t> written_bits_;  // the same, one bit per page
};

}  // namespace kiv
