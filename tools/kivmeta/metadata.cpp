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

bool printable(std::span<const uint8_t> bytes) { return std::all_of(bytes.begin(), bytes.end(), printable_ascii); }

Result<Elf32_Ehdr, ReadError> checked_header(std::span<const uint8_t> file) {
    if (auto problem = elf32_identity_problem(file)) return Failure{ReadError{Problem::NotElf32, *problem}};
    return record_at<Elf32_Ehdr>(file, 0);
}

Failure<ReadError> bad_section_table(std::string message) { return {{Problem::BadSectionTable, std::move(message)}}; }

Failure<ReadError> bad_record(std::string message) { return {{Problem::BadRecord, std::move(message)}}; }

// The section table, checked to lie inside the file, with its name table.
struct SectionTable {
    std::vector<Elf32_Shdr> sections;
    std::span<const uint8_t> names;
};

Result<SectionTable, ReadError> section_table(std::span<const uint8_t> file, const Elf32_Ehdr &header) {
    SectionTable table;
    auto sections = elf32_section_headers(file, header);
    if (!sections) return bad_section_table(sections.error());
    table.sections = std::move(*sections);
    if (header.e_shstrndx == SHN_UNDEF || header.e_shstrndx >= header.e_shnum)
        return bad_section_table("no section name table");
    const Elf32_Shdr &names = table.sections[header.e_shstrndx];
    auto contents = section_contents(file, names);
    if (names.sh_type == SHT_NOBITS || !contents)
        return bad_section_table("section name table runs past the end of the file");
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

Result<std::span<const uint8_t>, ReadError> find_section(std::span<const uint8_t> file, const std::string &name) {
    auto header = checked_header(file);
    if (!header) return Failure{header.error()};
    auto table = section_table(file, *header);
    if (!table) return Failure{table.error()};
    auto section = std::find_if(table->sections.begin(), table->sections.end(),
                                [&](const Elf32_Shdr &candidate) { return has_name(*table, candidate, name); });
    if (section == table->sections.end()) return bad_record("no section " + name);
    if (section->sh_type == SHT_NOBITS) return bad_record("section " + name + " has no contents in the file");
    auto contents = section_contents(file, *section);
    if (!contents) return bad_record("section " + name + " runs past the end of the file");
    return *contents;
}

Result<std::vector<std::string>> parse_record(std::span<const uint8_t> bytes, std::string_view magic) {
    if (bytes.size() < kRecordHeaderSize)
        return Failure{"record of " + std::to_string(bytes.size()) + " bytes has no room for magic and version"};
    if (std::memcmp(bytes.data(), magic.data(), kMagicSize) != 0)
        return Failure{"magic \"" + c_escaped(bytes.first(kMagicSize)) + "\" instead of \"" + std::string(magic) +
                       "\""};
    uint32_t version = record_at<uint32_t>(bytes, kMagicSize);
    if (version != kRecordVersion)
        return Failure{"version " + std::to_string(version) + " instead of " + std::to_string(kRecordVersion)};
    std::vector<std::string> strings;
    for (auto rest = bytes.subspan(kRecordHeaderSize);;) {
        auto nul = std::find(rest.begin(), rest.end(), uint8_t{0});
        if (nul == rest.end()) return Failure{"string list does not end with an empty string"};
        auto text = rest.first(static_cast<size_t>(nul - rest.begin()));
        if (text.empty()) return strings;
        if (!printable(text))
            return Failure{"string " + std::to_string(strings.size() + 1) + " \"" + c_escaped(text) +
                           "\" is not printable ASCII"};
        strings.emplace_back(text.begin(), text.end());
        rest = rest.subspan(text.size() + 1);
    }
}

Result<Metadata, ReadError> read_metadata(std::span<const uint8_t> file) {
    Metadata metadata;
    for (const auto &kind : kRecordKinds) {
        auto bytes = find_section(file, kind.section);
        if (!bytes) return Failure{bytes.error()};
        auto strings = parse_record(*bytes, kind.magic);
        if (!strings) return bad_record(std::string("section ") + kind.section + ": " + strings.error());
        metadata.push_back({kind.label, kind.section, *bytes, std::move(*strings)});
    }
    return metadata;
}

}  // namespace kiv::meta
