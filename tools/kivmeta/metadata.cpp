#include "kivmeta/metadata.h"

#include <elf.h>

#include <algorithm>
#include <cstring>

#include "support/elf_identity.h"
#include "support/elf_sections.h"
#include "support/text.h"

namespace kiv::meta {

namespace {

struct RecordKind {
    const char *label;
    const char *section;
    const char *magic;
};

constexpr RecordKind kRecordKinds[] = {
    {"command", ".kivos.cmdmeta", "KCMD"},
    {"package", ".kivos.pkgmeta", "KPKG"},
};

constexpr size_t kMagicSize = 4;
constexpr uint32_t kRecordVersion = 1;
constexpr size_t kRecordHeaderSize = kMagicSize + sizeof(uint32_t);

bool printable(std::span<const uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), printable_ascii);
}

std::optional<Elf32_Ehdr> checked_header(std::span<const uint8_t> file, ReadError &error) {
    if (auto problem = elf32_identity_problem(file)) {
        error = {Problem::NotElf32, *problem};
        return std::nullopt;
    }
    return record_at<Elf32_Ehdr>(file, 0);
}

// The section table, checked to lie inside the file, with its name table.
struct SectionTable {
    std::vector<Elf32_Shdr> sections;
    std::span<const uint8_t> names;
};

std::optional<SectionTable> section_table(std::span<const uint8_t> file, const Elf32_Ehdr &header,
                                          ReadError &error) {
    error.problem = Problem::BadSectionTable;
    SectionTable table;
    auto sections = elf32_section_headers(file, header, error.message);
    if (!sections) return std::nullopt;
    table.sections = std::move(*sections);
    if (header.e_shstrndx == SHN_UNDEF || header.e_shstrndx >= header.e_shnum) {
        error.message = "no section name table";
        return std::nullopt;
    }
    const Elf32_Shdr &names = table.sections[header.e_shstrndx];
    auto contents = section_contents(file, names);
    if (names.sh_type == SHT_NOBITS || !contents) {
        error.message = "section name table runs past the end of the file";
        return std::nullopt;
    }
    table.names = *contents;
    return table;
}

// A name matches only when it ends with its NUL inside the name table.
bool has_name(const SectionTable &table, const Elf32_Shdr &section, const std::string &name) {
    uint64_t end = uint64_t{section.sh_name} + name.size();
    return end < table.names.size() && table.names[end] == 0 &&
           std::memcmp(table.names.data() + section.sh_name, name.data(), name.size()) == 0;
}

}  // namespace

std::optional<std::span<const uint8_t>> find_section(std::span<const uint8_t> file, const std::string &name,
                                                     ReadError &error) {
    auto header = checked_header(file, error);
    if (!header) return std::nullopt;
    auto table = section_table(file, *header, error);
    if (!table) return std::nullopt;
    error.problem = Problem::BadRecord;
    auto section = std::find_if(table->sections.begin(), table->sections.end(),
                                [&](const Elf32_Shdr &candidate) { return has_name(*table, candidate, name); });
    if (section == table->sections.end()) {
        error.message = "no section " + name;
        return std::nullopt;
    }
    if (section->sh_type == SHT_NOBITS) {
        error.message = "section " + name + " has no contents in the file";
        return std::nullopt;
    }
    auto contents = section_contents(file, *section);
    if (!contents) error.message = "section " + name + " runs past the end of the file";
    return contents;
}

std::optional<std::vector<std::string>> parse_record(std::span<const uint8_t> bytes, std::string_view magic,
                                                     std::string &error) {
    if (bytes.size() < kRecordHeaderSize) {
        error = "record of " + std::to_string(bytes.size()) + " bytes has no room for magic and version";
        return std::nullopt;
    }
    if (std::memcmp(bytes.data(), magic.data(), kMagicSize) != 0) {
        error = "magic \"" + c_escaped(bytes.first(kMagicSize)) + "\" instead of \"" + std::string(magic) + "\"";
        return std::nullopt;
    }
    uint32_t version = record_at<uint32_t>(bytes, kMagicSize);
    if (version != kRecordVersion) {
        error = "version " + std::to_string(version) + " instead of " + std::to_string(kRecordVersion);
        return std::nullopt;
    }
    std::vector<std::string> strings;
    for (auto rest = bytes.subspan(kRecordHeaderSize);;) {
        auto nul = std::find(rest.begin(), rest.end(), uint8_t{0});
        if (nul == rest.end()) {
            error = "string list does not end with an empty string";
            return std::nullopt;
        }
        auto text = rest.first(static_cast<size_t>(nul - rest.begin()));
        if (text.empty()) return strings;
        if (!printable(text)) {
            error = "string " + std::to_string(strings.size() + 1) + " \"" + c_escaped(text) +
                    "\" is not printable ASCII";
            return std::nullopt;
        }
        strings.emplace_back(text.begin(), text.end());
        rest = rest.subspan(text.size() + 1);
    }
}

std::optional<Metadata> read_metadata(std::span<const uint8_t> file, ReadError &error) {
    Metadata metadata;
    for (const auto &kind : kRecordKinds) {
        auto bytes = find_section(file, kind.section, error);
        if (!bytes) return std::nullopt;
        std::string record_error;
        auto strings = parse_record(*bytes, kind.magic, record_error);
        if (!strings) {
            error = {Problem::BadRecord, std::string("section ") + kind.section + ": " + record_error};
            return std::nullopt;
        }
        metadata.push_back({kind.label, kind.section, *bytes, std::move(*strings)});
    }
    return metadata;
}

}  // namespace kiv::meta
