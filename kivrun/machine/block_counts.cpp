#include "machine/block_counts.h"

#include <algorithm>
#include <map>

namespace kiv {

// calloc hands large tables out as fresh zero pages from the host, so a
// table costs memory only where blocks start.
uint64_t BlockCounts::table_bytes(const std::vector<CodeRange> &ranges) {
    uint64_t bytes = 0;
    for (const CodeRange &range : ranges) bytes += range.end - range.begin;
    return std::min<uint64_t>(bytes, kMaxCountedBytes) * sizeof(Slot);
}

BlockCounts::BlockCounts(const std::vector<CodeRange> &ranges) {
    size_t budget = kMaxCountedBytes;
    for (const CodeRange &range : ranges) {
        size_t length = std::min<size_t>(range.end - range.begin, budget);
        Table table{{range.begin, range.begin + static_cast<uint32_t>(length)},
                    std::unique_ptr<Slot[], FreeSlots>(static_cast<Slot *>(std::calloc(length, sizeof(Slot))))};
        if (length == 0 || !table.slots) continue;
        budget -= length;
        tables_.push_back(std::move(table));
    }
}

void BlockCounts::resize(Table &table, size_t offset, uint16_t size) {
    Slot &slot = table.slots[offset];
    if (slot.count != 0) retired_[{table.range.begin + static_cast<uint32_t>(offset), slot.size}] += slot.count;
    slot = {0, size};
}

// A block running now at a size it ran at before is one run.
std::vector<BlockRun> BlockCounts::runs() const {
    std::map<std::pair<uint32_t, uint16_t>, uint64_t> all = retired_;
    for (const Table &table : tables_)
        for (size_t offset = 0; offset < table.length(); offset++)
            if (table.slots[offset].count != 0)
                all[{table.range.begin + static_cast<uint32_t>(offset), table.slots[offset].size}] +=
                    table.slots[offset].count;
    std::vector<BlockRun> runs;
    for (const auto &[block, count] : all) runs.push_back({block.first, block.second, count});
    return runs;
}

std::vector<CodeRange> BlockCounts::ranges() const {
    std::vector<CodeRange> ranges;
    for (const Table &table : tables_) ranges.push_back(table.range);
    return ranges;
}

// A block adds its count from its first byte to its last within its range:
// a running sum over those changes gives every address its total.
InstructionCounts::InstructionCounts(const std::vector<CodeRange> &ranges, const std::vector<BlockRun> &runs)
    : ranges_(ranges) {
    std::map<uint32_t, int64_t> changes;
    for (const BlockRun &run : runs) {
        auto range = std::find_if(ranges.begin(), ranges.end(), [&run](const CodeRange &candidate) {
            return run.start >= candidate.begin && run.start < candidate.end;
        });
        if (range == ranges.end()) continue;
        changes[run.start] += static_cast<int64_t>(run.count);
        changes[std::min(range->end, run.start + run.size)] -= static_cast<int64_t>(run.count);
    }
    int64_t sum = 0;
    for (const auto &[address, change] : changes) steps_.emplace_back(address, static_cast<uint64_t>(sum += change));
}

std::optional<uint64_t> InstructionCounts::at(uint32_t address) const {
    bool inside = std::any_of(ranges_.begin(), ranges_.end(), [address](const CodeRange &range) {
        return address >= range.begin && address < range.end;
    });
    if (!inside) return std::nullopt;
    auto after = std::upper_bound(steps_.begin(), steps_.end(), address,
                                  [](uint32_t wanted, const auto &step) { return wanted < step.first; });
    return after == steps_.begin() ? 0 : std::prev(after)->second;
}

}  // namespace kiv
