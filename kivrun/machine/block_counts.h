// How often each translated block of a program ran, counted per block start
// in dense tables over the program's executable segments. The emulator's
// block hook calls count() for every block it enters, so the hot path is an
// index and an add; everything else happens once, at the end of the run.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace kiv {

struct CodeRange {
    uint32_t begin;
    uint32_t end;  // one past the last byte
};

struct BlockRun {
    uint32_t start;
    uint16_t size;
    uint64_t count;
};

class BlockCounts {
public:
    // Counts blocks starting in `ranges`, as far as kMaxCountedBytes of
    // them reach.
    explicit BlockCounts(const std::vector<CodeRange> &ranges);

    // One execution of the block of `size` bytes at `address`; blocks
    // outside the counted ranges (code the program made itself) are not
    // counted.
    void count(uint64_t address, uint32_t size) {
        for (Table &table : tables_) {
            uint64_t offset = address - table.range.begin;
            if (offset < table.length()) {
                record(table, static_cast<size_t>(offset), size);
                return;
            }
        }
    }

    // Every block that ran, with how often.
    std::vector<BlockRun> runs() const;
    // What is counted: the ranges, cut at kMaxCountedBytes in all.
    std::vector<CodeRange> ranges() const;

    // A table takes 16 bytes per byte of code, its pages taken from the host
    // only where blocks start; past this much code nothing more is counted.
    static constexpr size_t kMaxCountedBytes = size_t{64} << 20;
    // The most the tables over `ranges` take (the run counts it as held).
    static uint64_t table_bytes(const std::vector<CodeRange> &ranges);

private:
    // Side by side, so that counting a block touches one cache line.
    struct Slot {
        uint64_t count;
        uint16_t size;
    };
    struct FreeSlots {
        void operator()(Slot *slots) const { std::free(slots); }
    };
    struct Table {
        CodeRange range;
        std::unique_ptr<Slot[], FreeSlots> slots;  // by offset of the block's start
        size_t length() const { return range.end - range.begin; }
    };
    void record(Table &table, size_t offset, uint32_t size) {
        uint16_t block_size = size > UINT16_MAX ? UINT16_MAX : static_cast<uint16_t>(size);
        Slot &slot = table.slots[offset];
        if (slot.size != block_size) resize(table, offset, block_size);
        slot.count++;
    }
    void resize(Table &table, size_t offset, uint16_t size);

    std::vector<Table> tables_;
    // Counts of blocks the emulator translated again with another size (a
    // breakpoint, a single step or an interrupt shadow cuts a block short),
    // summed per start and size: a block that alternates between two sizes
    // holds two entries, however often it alternates.
    std::map<std::pair<uint32_t, uint16_t>, uint64_t> retired_;
};

// How often the instruction at each address of the ranges ran: the sum of
// the counts of the blocks that contain it.
class InstructionCounts {
public:
    InstructionCounts(const std::vector<CodeRange> &ranges, const std::vector<BlockRun> &runs);
    // nullopt for an address outside the ranges.
    std::optional<uint64_t> at(uint32_t address) const;

private:
    std::vector<CodeRange> ranges_;
    // The count from each address on, up to the next step.
    std::vector<std::pair<uint32_t, uint64_t>> steps_;
};

}  // namespace kiv
