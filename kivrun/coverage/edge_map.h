// AFL's edge coverage, written into the map AFL++ reads: each block address
// hashes to a location, and the pair (previous, current) counts at
// current ^ previous, the previous one halved so that A->B and B->A differ
// and a tight loop A->A does not land on 0. The hash is the one AFL++'s
// QEMU and Unicorn modes use over block addresses; counts never wrap to 0
// (AFL++'s "NeverZero"), so an edge run 256 times still shows.
#pragma once

#include <cstdint>
#include <span>

#include "machine/block_listener.h"

namespace kiv {

class EdgeMap : public BlockListener {
public:
    // `map`'s size must be a power of two (AFL++'s maps are).
    explicit EdgeMap(std::span<uint8_t> map);

    void entered(uint32_t address) override {
        uint32_t here = ((address >> 4) ^ (address << 8)) & mask_;
        uint8_t &count = map_[here ^ previous_];
        count = static_cast<uint8_t>(count + 1 + (count == UINT8_MAX));
        previous_ = here >> 1;
    }
    // A new execution starts: its first block has no predecessor.
    void start_over() { previous_ = 0; }

private:
    uint8_t *map_;
    uint32_t mask_;
    uint32_t previous_ = 0;
};

}  // namespace kiv
