#include "machine/symbols.h"

#include <cxxabi.h>
#include <elf.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "support/elf_sections.h"
#include "support/record.h"
#include "support/text.h"

namespace kiv {

namespace {

// Hostile files could ask for millions of symbols or endless names.
constexpr uint32_t kMaxSymbols = 1u << 16;
constexpr size_t kMaxNameLength = 256;

static_assert(sizeof(Elf32_Sym) == 16);

// The symbol table's entries and the names they point into; nullopt when
// the file has no sound symbol table.
struct SymbolSection {
    std::span<const uint8_t> entries;
    std::span<const uint8_t> names;
};

std::optional<SymbolSection> symbol_section(std::span<const uint8_t> file) {
    if (file.size() < sizeof(Elf32_Ehdr)) return std::nullopt;
    auto sections = elf32_section_headers(file, record_at<Elf32_Ehdr>(file, 0));
    if (!sections) return std::nullopt;
    auto symbols = std::find_if(sections->begin(), sections->end(),
                                [](const Elf32_Shdr &section) { return section.sh_type == SHT_SYMTAB; });
    if (symbols == sections->end() || symbols->sh_link >= sections->size()) return std::nullopt;
    auto entries = section_contents(file, *symbols);
    auto names = section_contents(file, (*sections)[symbols->sh_link]);
    if (!entries || !names) return std::nullopt;
    return SymbolSection{*entries, *names};
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
    auto section = symbol_section(file);
    if (!section) return table;
    auto count = std::min(section->entries.size() / sizeof(Elf32_Sym), size_t{kMaxSymbols});
    for (size_t s = 0; s < count; s++) {
        auto symbol = record_at<Elf32_Sym>(section->entries, s * sizeof(Elf32_Sym));
        if (ELF32_ST_TYPE(symbol.st_info) != STT_FUNC || symbol.st_value == 0) continue;
        std::string name = raw_name(section->names, symbol.st_name);
        if (!name.empty()) table.functions_.push_back({symbol.st_value, symbol.st_size, readable_name(name)});
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
