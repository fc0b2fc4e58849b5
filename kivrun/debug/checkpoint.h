// A checkpoint of a run: the CPU's registers, what the CPU counted, and a
// copy of every page of user memory. A page that did not change since the
// checkpoint before is shared with it, not copied again, so a checkpoint
// costs the memory of the pages the program wrote in between; untouched
// zero-filled pages all share one page.
#pragma once

#include <unicorn/unicorn.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "machine/cpu.h"
#include "machine/guest_memory.h"

namespace kiv {

using Page = std::array<uint8_t, kPageSize>;

class Checkpoint {
public:
    // The machine as it is now; `previous` lends the pages that are the same.
    // Null when the emulator cannot save its registers.
    static std::unique_ptr<Checkpoint> capture(const Cpu &cpu, const GuestMemory &memory, const Checkpoint *previous);
    ~Checkpoint();
    Checkpoint(const Checkpoint &) = delete;
    Checkpoint &operator=(const Checkpoint &) = delete;

    // Puts the machine back as it was at the capture; false when the
    // address space cannot be laid out again as it was.
    bool restore(Cpu &cpu, GuestMemory &memory) const;

    // Bytes of page copies this checkpoint added to the ones it shares.
    uint64_t own_bytes() const { return own_pages_ * uint64_t{kPageSize}; }

private:
    Checkpoint() = default;
    // The copy of the page at `address` this checkpoint holds, if any.
    const std::shared_ptr<const Page> *page_at(uint32_t address) const;
    bool restore_layout(GuestMemory &memory) const;
    // Copies the saved pages back over the ones that differ; true when
    // executable memory changed.
    bool restore_pages(GuestMemory &memory) const;

    uc_context *registers_ = nullptr;
    uc_engine *uc_ = nullptr;
    Cpu::Progress progress_{};
    std::vector<GuestMemory::Mapping> layout_;  // user mappings, by address
    std::vector<uint64_t> first_page_;          // per mapping: the index of its first page in pages_
    std::vector<std::shared_ptr<const Page>> pages_;
    uint64_t own_pages_ = 0;
};

}  // namespace kiv
