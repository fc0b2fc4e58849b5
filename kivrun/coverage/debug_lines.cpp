#include "coverage/debug_lines.h"

#include <dwarf.h>
#include <elfutils/libdw.h>
#include <libelf.h>

#include <memory>
#include <string>

namespace kiv {

namespace {

struct ElfCloser {
    void operator()(Elf *elf) const { elf_end(elf); }
};
struct DwarfCloser {
    void operator()(Dwarf *dwarf) const { dwarf_end(dwarf); }
};

// A unit's file names may be relative (a source given as "sub/../a.c"):
// they are relative to the directory it was compiled in.
struct UnitFiles {
    DebugLines &found;
    const char *directory;  // nullptr when the unit names none

    std::string path(const char *file) const {
        if (file[0] == '/' || directory == nullptr) return file;
        return std::string(directory) + "/" + file;
    }
};

const char *compilation_directory(Dwarf_Die &unit_die) {
    Dwarf_Attribute attribute;
    return dwarf_attr(&unit_die, DW_AT_comp_dir, &attribute) != nullptr ? dwarf_formstring(&attribute) : nullptr;
}

void add_lines(Dwarf_Die &unit_die, const UnitFiles &unit) {
    Dwarf_Lines *lines = nullptr;
    size_t count = 0;
    if (dwarf_getsrclines(&unit_die, &lines, &count) != 0) return;
    for (size_t i = 0; i < count; i++) {
        Dwarf_Line *line = dwarf_onesrcline(lines, i);
        Dwarf_Addr address = 0;
        int number = 0;
        bool end_of_sequence = false;
        const char *file = dwarf_linesrc(line, nullptr, nullptr);
        // The end of a sequence marks the address after its last byte.
        if (line == nullptr || dwarf_lineendsequence(line, &end_of_sequence) != 0 || end_of_sequence ||
            dwarf_lineaddr(line, &address) != 0 || dwarf_lineno(line, &number) != 0 || number <= 0 ||
            file == nullptr)
            continue;
        unit.found.lines.push_back({unit.path(file), static_cast<uint32_t>(number), static_cast<uint32_t>(address)});
    }
}

const char *linkage_name(Dwarf_Die *function) {
    Dwarf_Attribute attribute;
    for (unsigned name : {DW_AT_linkage_name, DW_AT_MIPS_linkage_name})
        if (dwarf_attr_integrate(function, name, &attribute) != nullptr) return dwarf_formstring(&attribute);
    return dwarf_diename(function);
}

int add_function(Dwarf_Die *function, void *unit_pointer) {
    const UnitFiles &unit = *static_cast<const UnitFiles *>(unit_pointer);
    Dwarf_Addr entry = 0;
    int line = 0;
    const char *name = linkage_name(function);
    const char *file = dwarf_decl_file(function);
    if (dwarf_entrypc(function, &entry) == 0 && name != nullptr && file != nullptr &&
        dwarf_decl_line(function, &line) == 0)
        unit.found.functions.push_back(
            {unit.path(file), static_cast<uint32_t>(line), name, static_cast<uint32_t>(entry)});
    return DWARF_CB_OK;
}

}  // namespace

std::optional<DebugLines> read_debug_lines(std::span<const uint8_t> file) {
    elf_version(EV_CURRENT);
    // libelf only reads the image, though its interface takes it mutable.
    std::unique_ptr<Elf, ElfCloser> elf(
        elf_memory(const_cast<char *>(reinterpret_cast<const char *>(file.data())), file.size()));
    if (!elf) return std::nullopt;
    std::unique_ptr<Dwarf, DwarfCloser> dwarf(dwarf_begin_elf(elf.get(), DWARF_C_READ, nullptr));
    if (!dwarf) return std::nullopt;
    DebugLines found;
    Dwarf_CU *unit = nullptr;
    Dwarf_Die unit_die;
    while (dwarf_get_units(dwarf.get(), unit, &unit, nullptr, nullptr, &unit_die, nullptr) == 0) {
        UnitFiles files{found, compilation_directory(unit_die)};
        add_lines(unit_die, files);
        dwarf_getfuncs(&unit_die, add_function, &files, 0);
    }
    if (found.lines.empty()) return std::nullopt;
    return found;
}

}  // namespace kiv
