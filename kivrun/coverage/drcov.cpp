#include "coverage/drcov.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "support/hex.h"
#include "support/number.h"

namespace kiv {

namespace {

constexpr std::string_view kVersionLine = "DRCOV VERSION: 2";
constexpr std::string_view kFlavorPrefix = "DRCOV FLAVOR: ";
constexpr std::string_view kFlavor = "drcov";
constexpr std::string_view kModuleTablePrefix = "Module Table: version 2, count ";
constexpr std::string_view kColumnsLine = "Columns: id, base, end, entry, path";
constexpr std::string_view kBlockTablePrefix = "BB Table: ";
constexpr std::string_view kBlockTableSuffix = " bbs";
constexpr std::string_view kSeparator = ", ";

// Reads a log from the front, line by line and then as raw bytes, knowing
// the line it is at for the error.
class Cursor {
public:
    explicit Cursor(std::string_view bytes) : rest_(bytes) {}

    std::optional<std::string_view> line() {
        number_++;
        size_t end = rest_.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        std::string_view line = rest_.substr(0, end);
        rest_.remove_prefix(end + 1);
        return line;
    }
    // The number between `prefix` and `suffix` on the next line.
    std::optional<uint64_t> counted_line(std::string_view prefix, std::string_view suffix = {}) {
        auto text = line();
        if (!text || !text->starts_with(prefix) || !text->ends_with(suffix) ||
            text->size() < prefix.size() + suffix.size())
            return std::nullopt;
        return decimal_number<uint64_t>(text->substr(prefix.size(), text->size() - prefix.size() - suffix.size()));
    }
    std::string_view rest() const { return rest_; }
    // The line last read, or the one found missing.
    std::string at_line() const { return "line " + std::to_string(number_); }

private:
    std::string_view rest_;
    size_t number_ = 0;
};

std::nullopt_t refuse(std::string &error, const std::string &where, std::string_view what) {
    error = where + ": " + std::string(what);
    return std::nullopt;
}

// "id, base, end, entry, path", the numbers but the id in hex.
std::optional<DrcovModule> parse_module(std::string_view line, size_t id) {
    std::optional<uint64_t> fields[4];
    for (size_t i = 0; i < std::size(fields); i++) {
        size_t separator = line.find(kSeparator);
        if (separator == std::string_view::npos) return std::nullopt;
        std::string_view field = line.substr(0, separator);
        field.remove_prefix(std::min(field.find_first_not_of(' '), field.size()));
        fields[i] = i == 0 ? decimal_number<uint64_t>(field) : parse_hex_optional_prefix(field);
        line.remove_prefix(separator + kSeparator.size());
    }
    for (auto &field : fields)
        if (!field || *field > UINT32_MAX) return std::nullopt;
    if (*fields[0] != id || line.empty()) return std::nullopt;
    return DrcovModule{std::string(line), static_cast<uint32_t>(*fields[1]), static_cast<uint32_t>(*fields[2]),
                       static_cast<uint32_t>(*fields[3])};
}

// The id in `log` of a module of that path, added when it is new and the
// log can still name it.
std::optional<uint16_t> module_id(DrcovLog &log, const DrcovModule &module) {
    for (size_t id = 0; id < log.modules.size(); id++)
        if (log.modules[id].path == module.path) return static_cast<uint16_t>(id);
    if (log.modules.size() == kMaxDrcovModules) return std::nullopt;
    log.modules.push_back(module);
    return static_cast<uint16_t>(log.modules.size() - 1);
}

}  // namespace

DrcovLog drcov_from_runs(const DrcovModule &program, const std::vector<BlockRun> &runs) {
    DrcovLog log{{program}, {}};
    for (const BlockRun &run : runs) log.blocks.insert({run.start - program.base, run.size, 0});
    return log;
}

// Each module of `other` is looked up once, not once per block: a log may
// hold the most modules a block can name.
void merge(DrcovLog &into, const DrcovLog &other) {
    std::vector<std::optional<uint16_t>> ids;
    for (const DrcovModule &module : other.modules) ids.push_back(module_id(into, module));
    for (const DrcovBlock &block : other.blocks)
        if (auto id = ids[block.module]) into.blocks.insert({block.offset, block.size, *id});
}

// The block table's size is checked by division, so that no count can
// wrap the product past the bytes there are.
std::optional<DrcovLog> parse_drcov(std::string_view bytes, std::string &error) {
    Cursor cursor(bytes);
    auto version = cursor.line();
    if (version != kVersionLine) return refuse(error, cursor.at_line(), "not a drcov version 2 log");
    auto flavor = cursor.line();
    if (!flavor || !flavor->starts_with(kFlavorPrefix)) return refuse(error, cursor.at_line(), "no drcov flavor");
    auto module_count = cursor.counted_line(kModuleTablePrefix);
    if (!module_count || *module_count > kMaxDrcovModules)
        return refuse(error, cursor.at_line(),
                      "no module table of at most " + std::to_string(kMaxDrcovModules) + " modules");
    if (cursor.line() != kColumnsLine)
        return refuse(error, cursor.at_line(), "not the columns id, base, end, entry, path");
    DrcovLog log;
    for (size_t id = 0; id < *module_count; id++) {
        auto line = cursor.line();
        auto module = line ? parse_module(*line, id) : std::nullopt;
        if (!module) return refuse(error, cursor.at_line(), "not module " + std::to_string(id));
        log.modules.push_back(*module);
    }
    auto block_count = cursor.counted_line(kBlockTablePrefix, kBlockTableSuffix);
    if (!block_count) return refuse(error, cursor.at_line(), "no block table");
    std::string_view table = cursor.rest();
    size_t table_offset = bytes.size() - table.size();
    if (table.size() % sizeof(DrcovEntry) != 0 || table.size() / sizeof(DrcovEntry) != *block_count)
        return refuse(error, "byte " + std::to_string(table_offset),
                      "the block table does not hold " + std::to_string(*block_count) + " blocks");
    for (size_t offset = 0; offset < table.size(); offset += sizeof(DrcovEntry)) {
        DrcovEntry entry;
        std::memcpy(&entry, table.data() + offset, sizeof entry);
        if (entry.module >= log.modules.size())
            return refuse(error, "byte " + std::to_string(table_offset + offset),
                          "a block of module " + std::to_string(entry.module) + ", which is not in the table");
        log.blocks.insert({entry.start, entry.size, entry.module});
    }
    return log;
}

std::string format_drcov(const DrcovLog &log) {
    std::string text;
    text.append(kVersionLine).append("\n").append(kFlavorPrefix).append(kFlavor).append("\n");
    text.append(kModuleTablePrefix).append(std::to_string(log.modules.size())).append("\n");
    text.append(kColumnsLine).append("\n");
    for (size_t id = 0; id < log.modules.size(); id++) {
        const DrcovModule &module = log.modules[id];
        char numbers[96];
        snprintf(numbers, sizeof numbers, "%3zu, %#018" PRIx32 ", %#018" PRIx32 ", %#018" PRIx32 ", ", id, module.base,
                 module.end, module.entry);
        text.append(numbers).append(module.path).append("\n");
    }
    text.append(kBlockTablePrefix).append(std::to_string(log.blocks.size())).append(kBlockTableSuffix).append("\n");
    for (const DrcovBlock &block : log.blocks) {
        DrcovEntry entry{block.offset, block.size, block.module};
        text.append(reinterpret_cast<const char *>(&entry), sizeof entry);
    }
    return text;
}

}  // namespace kiv
