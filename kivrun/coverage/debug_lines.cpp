#include "coverage/debug_lines.h"

#include <dwarf.h>
#include <elfutils/libdw.h>
#include <libelf.h>

#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

namespace kiv {

namespace {

struct ElfCloser {
    void operator()(Elf *elf) const { elf_end(elf); }
};
struct DwarfCloser {
    void operator()(Dwarf *dwarf) const { dwarf_end(dwarf); }
};

// Gives each file name one index. libdw hands out the same string for every
// row of a file, so most rows are found by its address (and the unit's
// directory's) alone; a name is joined, copied and hashed once per distinct
// string, not once per row. A unit's names may be relative ("sub/../a.c"):
// to the directory it was compiled in.
class FileNames {
public:
    explicit FileNames(std::vector<std::string> &files) : files_(files) {}

    // nullptr when the unit names no directory.
    void enter_unit(const char *directory) { directory_ = directory; }

    FileIndex index(const char *name) {
        auto known = by_address_.find({name, directory_});
        if (known != by_address_.end()) return known->second;
        auto [named, added] = by_name_.try_emplace(path(name), static_cast<FileIndex>(files_.size()));
        if (added) files_.push_back(named->first);
        by_address_.emplace(std::pair{name, directory_}, named->second);
        return named->second;
    }

private:
    std::string path(const char *name) const {
        if (name[0] == '/' || directory_ == nullptr) return name;
        return std::string(directory_) + "/" + name;
    }

    struct AddressHash {
        size_t operator()(const std::pair<const char *, const char *> &key) const {
            return std::hash<const char *>()(key.first) * 31 + std::hash<const char *>()(key.second);
        }
    };

    std::vector<std::string> &files_;
    const char *directory_ = nullptr;
    std::unordered_map<std::pair<const char *, const char *>, FileIndex, AddressHash> by_address_;
    std::unordered_map<std::string, FileIndex> by_name_;
};

// libdw hands out a string attribute as a pointer into the section that
// holds it, without checking that the string ends there: the last string
// of a hostile file's section may run past its end. A string is taken only
// when a NUL ends it inside the section data libdw reads (the same
// elf_getdata buffers, kept by libelf).
class SectionStrings {
public:
    explicit SectionStrings(Elf *elf) {
        for (Elf_Scn *section = nullptr; (section = elf_nextscn(elf, section)) != nullptr;) {
            Elf_Data *data = elf_getdata(section, nullptr);
            if (data != nullptr && data->d_buf != nullptr)
                sections_.push_back({reinterpret_cast<uintptr_t>(data->d_buf), data->d_size});
        }
    }

    // `text`, or nullptr when it does not end inside a section.
    const char *bounded(const char *text) const {
        auto address = reinterpret_cast<uintptr_t>(text);
        for (const auto &[start, size] : sections_)
            if (address >= start && address - start < size)
                return std::memchr(text, '\0', size - (address - start)) != nullptr ? text : nullptr;
        return nullptr;
    }

private:
    std::vector<std::pair<uintptr_t, size_t>> sections_;
};

const char *compilation_directory(Dwarf_Die &unit, const SectionStrings &strings) {
    Dwarf_Attribute attribute;
    if (dwarf_attr(&unit, DW_AT_comp_dir, &attribute) == nullptr) return nullptr;
    const char *directory = dwarf_formstring(&attribute);
    return directory == nullptr ? nullptr : strings.bounded(directory);
}

void add_lines(Dwarf_Die &unit, FileNames &names, DebugLines &found) {
    Dwarf_Lines *lines = nullptr;
    size_t count = 0;
    if (dwarf_getsrclines(&unit, &lines, &count) != 0) return;
    for (size_t i = 0; i < count; i++) {
        Dwarf_Line *line = dwarf_onesrcline(lines, i);
        Dwarf_Addr address = 0;
        int number = 0;
        bool end_of_sequence = false;
        const char *file = dwarf_linesrc(line, nullptr, nullptr);
        // The end of a sequence marks the address after its last byte.
        if (line == nullptr || dwarf_lineendsequence(line, &end_of_sequence) != 0 || end_of_sequence ||
            dwarf_lineaddr(line, &address) != 0 || dwarf_lineno(line, &number) != 0 || number <= 0 || file == nullptr)
            continue;
        found.lines.push_back({names.index(file), static_cast<uint32_t>(number), static_cast<uint32_t>(address)});
    }
}

const char *linkage_name(Dwarf_Die *function) {
    Dwarf_Attribute attribute;
    for (unsigned name : {DW_AT_linkage_name, DW_AT_MIPS_linkage_name})
        if (dwarf_attr_integrate(function, name, &attribute) != nullptr) return dwarf_formstring(&attribute);
    return dwarf_diename(function);
}

void add_function(Dwarf_Die *function, const SectionStrings &strings, FileNames &names, DebugLines &found) {
    Dwarf_Addr entry = 0;
    int line = 0;
    const char *name = strings.bounded(linkage_name(function));
    const char *file = dwarf_decl_file(function);
    if (dwarf_entrypc(function, &entry) == 0 && name != nullptr && file != nullptr &&
        dwarf_decl_line(function, &line) == 0)
        found.functions.push_back({names.index(file), static_cast<uint32_t>(line), name, static_cast<uint32_t>(entry)});
}

// Deeper than the scopes of any real program (namespaces, classes, functions
// and the blocks inside them).
constexpr size_t kMaxScopeDepth = 256;

// Every function with code under the unit, on a stack of its own: libdw's
// walk recurses once per level, and a hostile file nests without end.
// libdw finds a sibling by skipping the entries before it, so the depth is
// bounded as well as the stack: false past kMaxScopeDepth.
bool add_functions(Dwarf_Die &unit, const SectionStrings &strings, FileNames &names, DebugLines &found) {
    struct Pending {
        Dwarf_Die die;
        size_t depth;
    };
    std::vector<Pending> pending;
    Dwarf_Die child;
    if (dwarf_child(&unit, &child) == 0) pending.push_back({child, 1});
    while (!pending.empty()) {
        auto [die, depth] = pending.back();
        pending.pop_back();
        Dwarf_Die next;
        if (dwarf_siblingof(&die, &next) == 0) pending.push_back({next, depth});
        if (dwarf_tag(&die) == DW_TAG_subprogram) add_function(&die, strings, names, found);
        if (dwarf_child(&die, &child) != 0) continue;
        if (depth == kMaxScopeDepth) return false;
        pending.push_back({child, depth + 1});
    }
    return true;
}

}  // namespace

std::optional<DebugLines> read_debug_lines(std::span<const uint8_t> file, std::string &refusal) {
    elf_version(EV_CURRENT);
    // libelf only reads the image, though its interface takes it mutable.
    std::unique_ptr<Elf, ElfCloser> elf(
        elf_memory(const_cast<char *>(reinterpret_cast<const char *>(file.data())), file.size()));
    if (!elf) return std::nullopt;
    std::unique_ptr<Dwarf, DwarfCloser> dwarf(dwarf_begin_elf(elf.get(), DWARF_C_READ, nullptr));
    if (!dwarf) return std::nullopt;
    SectionStrings strings(elf.get());
    DebugLines found;
    FileNames names(found.files);
    Dwarf_CU *unit = nullptr;
    Dwarf_Die unit_die;
    while (dwarf_get_units(dwarf.get(), unit, &unit, nullptr, nullptr, &unit_die, nullptr) == 0) {
        names.enter_unit(compilation_directory(unit_die, strings));
        add_lines(unit_die, names, found);
        if (!add_functions(unit_die, strings, names, found)) {
            refusal = "nests scopes deeper than " + std::to_string(kMaxScopeDepth) + " levels";
            return std::nullopt;
        }
    }
    if (found.lines.empty()) return std::nullopt;
    return found;
}

}  // namespace kiv
