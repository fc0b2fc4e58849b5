#include "machine/symbols.h"

#include <cxxabi.h>
#include <elf.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "support/record.h"
#include "support/text.h"

namespace kiv {

namespace {

// Hostile files could ask for millions of symbols or endless names.
constexpr uint32_t kMaxSymbols = 1u << 16;
constexpr uint32_t kMaxSections = 1u << 12;
constexpr size_t kMaxNameLength = 256;

static_assert(sizeof(Elf32_Shdr) == 40 && sizeof(Elf32_Sym) == 16);

bool fits(std::span<const uint8_t> file, uint64_t offset, uint64_t size) {
    return offset <= file.size() && size <= file.size() - offset;
}

std::optional<Elf32_Shdr> section(std::span<const uint8_t> file, const Elf32_Ehdr &header, uint32_t index) {
    if (index >= header.e_shnum) return std::nullopt;
    uint64_t offset = header.e_shoff + uint64_t{index} * sizeof(Elf32_Shdr);
    if (!fits(file, offset, sizeof(Elf32_Shdr))) return std::nullopt;
    return record_at<Elf32_Shdr>(file, offset);
}

// The NUL-terminated name at `offset` of the string table, cut at
// kMaxNameLength; empty when it does not lie in the table.
std::string raw_name(std::span<const uint8_t> strings, uint32_t offset) {
    if (offset >= strings.size()) return {};
    auto rest = strings.subspan(offset, std::min(strings.size() - offset, kMaxNameLength));
    auto end = std::find(rest.begin(), rest.end(), uint8_t{0});
    return std::string(rest.begin(), end);
}

// The source-level name: demangled, without the parameter list and the
// anonymous namespace, and with any byte that could drive a terminal escaped.
std::string readable_name(const std::string &raw) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(raw.c_str(), nullptr, nullptr, &status),
                                                          &std::free);
    std::string name = status == 0 && demangled ? demangled.get() : raw;
    const std::string anonymous = "(anonymous namespace)::";
    for (size_t at; (at = name.find(anonymous)) != std::string::npos;) name.erase(at, anonymous.size());
    name = name.substr(0, name.find('('));
    return c_escaped(std::span(reinterpret_cast<const uint8_t *>(name.data()), name.size()));
}

}  // namespace

SymbolTable SymbolTable::from_elf(std::span<const uint8_t> file) {
    SymbolTable table;
    if (!fits(file, 0, sizeof(Elf32_Ehdr))) return table;
    auto header = record_at<Elf32_Ehdr>(file, 0);
    if (header.e_shentsize != sizeof(Elf32_Shdr) || header.e_shnum > kMaxSections) return table;
    for (uint32_t i = 0; i < header.e_shnum; i++) {
        auto symbols = section(file, header, i);
        if (!symbols || symbols->sh_type != SHT_SYMTAB) continue;
        auto strings = section(file, header, symbols->sh_link);
        if (!strings || !fits(file, symbols->sh_offset, symbols->sh_size) ||
            !fits(file, strings->sh_offset, strings->sh_size))
            return table;
        auto names = file.subspan(strings->sh_offset, strings->sh_size);
        uint32_t count = std::min(symbols->sh_size / uint32_t{sizeof(Elf32_Sym)}, kMaxSymbols);
        for (uint32_t s = 0; s < count; s++) {
            auto symbol = record_at<Elf32_Sym>(file, symbols->sh_offset + uint64_t{s} * sizeof(Elf32_Sym));
            if (ELF32_ST_TYPE(symbol.st_info) != STT_FUNC || symbol.st_value == 0) continue;
            std::string name = raw_name(names, symbol.st_name);
            if (!name.empty()) table.functions_.push_back({symbol.st_value, symbol.st_size, readable_name(name)});
        }
        break;
    }
    std::sort(table.functions_.begin(), table.functions_.end(),
              [](const Function &a, const Function &b) { return a.start < b.start; });
    return table;
}

std::optional<std::string> SymbolTable::describe(uint32_t address) const {
    auto after = std::upper_bound(functions_.begin(), functions_.end(), address,
                                  [](uint32_t value, const Function &function) { return value < function.start; });
    if (after == functions_.begin()) return std::nullopt;
    const Function &function = *std::prev(after);
    uint32_t offset = address - function.start;
    if (function.size != 0 ? offset >= function.size : after == functions_.end()) return std::nullopt;
    return offset == 0 ? function.name : function.name + "+" + hex(offset);
}

std::string SymbolTable::suffix(uint32_t address) const {
    auto name = describe(address);
    return name ? " (" + *name + ")" : "";
}

std::vector<uint32_t> frame_chain(const GuestMemory &memory, uint32_t ebp, size_t max_frames) {
    std::vector<uint32_t> returns;
    while (returns.size() < max_frames) {
        uint32_t frame[2];  // the caller's EBP, the return address
        if (!memory.read(ebp, frame, sizeof frame) || frame[1] == 0) break;
        returns.push_back(frame[1]);
        if (frame[0] <= ebp) break;
        ebp = frame[0];
    }
    return returns;
}

}  // namespace kiv
