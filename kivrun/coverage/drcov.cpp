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

// Reads a log from the front, line by line and then as raw bytes.
class Cursor {
public:
    explicit Cursor(std::string_view bytes) : rest_(bytes) {}

    std::optional<std::string_view> line() {
        size_t end = rest_.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        std::string_view line = rest_.substr(0, end);
        rest_.remove_prefix(end + 1);
        return line;
    }
    // The number between `prefix` and `suffix` on the next line.
    std::optional<uint64_t> counted_line(std::string_view prefix, std::string_view suffix = {}) {
        auto text = line();
        if (!text || !text->starts_with(prefix) || !text->ends_with(suffix)) return std::nullopt;
        return decimal_number<uint64_t>(text->substr(prefix.size(), text->size() - prefix.size() - suffix.size()));
    }
    std::string_view rest() const { return rest_; }

private:
    std::string_view rest_;
};

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

uint16_t module_id(DrcovLog &log, const DrcovModule &module) {
    for (size_t id = 0; id < log.modules.size(); id++)
        if (log.modules[id].path == module.path) return static_cast<uint16_t>(id);
    log.modules.push_back(module);
    return static_cast<uint16_t>(log.modules.size() - 1);
}

}  // namespace

DrcovLog drcov_from_runs(const DrcovModule &program, const std::vector<BlockRun> &runs) {
    DrcovLog log{{program}, {}};
    for (const BlockRun &run : runs) log.blocks.insert({run.start - program.base, run.size, 0});
    return log;
}

void merge(DrcovLog &into, const DrcovLog &other) {
    for (const DrcovBlock &block : other.blocks)
        into.blocks.insert({block.offset, block.size, module_id(into, other.modules[block.module])});
}

std::optional<DrcovLog> parse_drcov(std::string_view bytes, std::string &error) {
    error = "not a drcov version 2 log with the columns id, base, end, entry, path";
    Cursor cursor(bytes);
    auto version = cursor.line();
    auto flavor = cursor.line();
    if (version != kVersionLine || !flavor || !flavor->starts_with(kFlavorPrefix)) return std::nullopt;
    auto module_count = cursor.counted_line(kModuleTablePrefix);
    if (!module_count || *module_count > UINT16_MAX || cursor.line() != kColumnsLine) return std::nullopt;
    DrcovLog log;
    for (size_t id = 0; id < *module_count; id++) {
        auto line = cursor.line();
        auto module = line ? parse_module(*line, id) : std::nullopt;
        if (!module) return std::nullopt;
        log.modules.push_back(*module);
    }
    auto block_count = cursor.counted_line(kBlockTablePrefix, kBlockTableSuffix);
    if (!block_count || cursor.rest().size() != *block_count * sizeof(DrcovEntry)) return std::nullopt;
    for (size_t i = 0; i < *block_count; i++) {
        DrcovEntry entry;
        std::memcpy(&entry, cursor.rest().data() + i * sizeof entry, sizeof entry);
        if (entry.module >= log.modules.size()) return std::nullopt;
        log.blocks.insert({entry.start, entry.size, entry.module});
    }
    error.clear();
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
