#include "coverage/block_counts.h"

#include <algorithm>

namespace kiv {

BlockCounts::BlockCounts(const std::vector<CodeRange> &ranges) : ranges_(ranges) {
    for (const CodeRange &range : ranges) {
        tables_.push_back({range.begin, std::vector<Slot>(range.end - range.begin)});
    }
}

void BlockCounts::resize(Table &table, size_t offset, uint16_t size) {
    Slot &slot = table.slots[offset];
    if (slot.count != 0) retired_.push_back({table.begin + static_cast<uint32_t>(offset), slot.size, slot.count});
    slot = {0, size};
}

std::vector<BlockRun> BlockCounts::runs() const {
    std::vector<BlockRun> runs = retired_;
    for (const Table &table : tables_)
        for (size_t offset = 0; offset < table.slots.size(); offset++)
            if (table.slots[offset].count != 0)
                runs.push_back({table.begin + static_cast<uint32_t>(offset), table.slots[offset].size,
                                table.slots[offset].count});
    return runs;
}

// A block adds its count from its first byte to its last: a running sum
// over the differences gives every address its total.
InstructionCounts::InstructionCounts(const std::vector<CodeRange> &ranges, const std::vector<BlockRun> &runs) {
    for (const CodeRange &range : ranges) {
        std::vector<int64_t> differences(range.end - range.begin + 1);
        for (const BlockRun &run : runs) {
            if (run.start < range.begin || run.start >= range.end) continue;
            uint32_t end = std::min(range.end, run.start + run.size);
            differences[run.start - range.begin] += static_cast<int64_t>(run.count);
            differences[end - range.begin] -= static_cast<int64_t>(run.count);
        }
        Table table{range.begin, std::vector<uint64_t>(range.end - range.begin)};
        int64_t sum = 0;
        for (size_t offset = 0; offset < table.counts.size(); offset++)
            table.counts[offset] = static_cast<uint64_t>(sum += differences[offset]);
        tables_.push_back(std::move(table));
    }
}

std::optional<uint64_t> InstructionCounts::at(uint32_t address) const {
    for (const Table &table : tables_) {
        uint64_t offset = uint64_t{address} - table.begin;
        if (address >= table.begin && offset < table.counts.size()) return table.counts[offset];
    }
    return std::nullopt;
}

}  // namespace kiv
