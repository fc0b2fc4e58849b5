// drcov logs (version 2), the block-coverage form of DynamoRIO's drcov that
// binary-level tools read (lighthouse, bncov, dragondance): a text header, a
// module table and a table of binary block records, each a block's offset in
// its module, its size and the module's id.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "machine/block_counts.h"

namespace kiv {

struct DrcovModule {
    std::string path;
    uint32_t base;
    uint32_t end;
    uint32_t entry;
};

struct DrcovBlock {
    uint32_t offset;  // from the module's base
    uint16_t size;
    uint16_t module;
    auto operator<=>(const DrcovBlock &) const = default;
};

// The block entry as it is laid out in the file.
struct DrcovEntry {
    uint32_t start;
    uint16_t size;
    uint16_t module;
};
static_assert(sizeof(DrcovEntry) == 8 && offsetof(DrcovEntry, size) == 4 && offsetof(DrcovEntry, module) == 6);

// A block names its module in 16 bits.
inline constexpr size_t kMaxDrcovModules = size_t{UINT16_MAX} + 1;

struct DrcovLog {
    std::vector<DrcovModule> modules;  // a module's id is its index
    std::set<DrcovBlock> blocks;
};

// The blocks that ran, as one module spanning the program's segments.
DrcovLog drcov_from_runs(const DrcovModule &program, const std::vector<BlockRun> &runs);
// Adds the modules and blocks of `other` to `into`: a module is known by
// its path, a block once. A log that names kMaxDrcovModules modules takes
// no other: the blocks of a module it cannot name are left out.
void merge(DrcovLog &into, const DrcovLog &other);

// nullopt with `error` set when `bytes` is not a version 2 log.
std::optional<DrcovLog> parse_drcov(std::string_view bytes, std::string &error);
std::string format_drcov(const DrcovLog &log);

}  // namespace kiv
