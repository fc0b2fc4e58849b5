// kivmeta: the metadata reader over hand-built ELF32 images (sound and
// broken in one place each), over the real nicsounder executable (checked
// against binutils too), and the command's output and exit statuses.
#include <elf.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "host_command.h"
#include "kivmeta/metadata.h"
#include "support/elf_sections.h"
#include "test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;
using kiv::meta::Problem;

Bytes bytes_of(const std::string &text) { return Bytes(text.begin(), text.end()); }

const Bytes kCommandRecord = bytes_of(std::string("KCMD\1\0\0\0Probe Intel e1000 NIC.\0nicsounder\0\0", 43));
const Bytes kPackageRecord = bytes_of(
    std::string("KPKG\1\0\0\0nicsounder\0"
                "3\0\0",
                22));

struct Section {
    std::string name;
    Bytes contents;
    uint32_t type = SHT_PROGBITS;
};

// Field offsets the broken cases patch.
constexpr size_t kShoffAt = offsetof(Elf32_Ehdr, e_shoff);
constexpr size_t kShentsizeAt = offsetof(Elf32_Ehdr, e_shentsize);
constexpr size_t kShnumAt = offsetof(Elf32_Ehdr, e_shnum);
constexpr size_t kShstrndxAt = offsetof(Elf32_Ehdr, e_shstrndx);

// An ELF32 little-endian image: header, section contents, name table, then
// the section headers (the null section first, the name table last).
struct Image {
    Bytes bytes;

    explicit Image(const std::vector<Section> &sections) {
        std::vector<Section> all = sections;
        all.push_back({".shstrtab", {}, SHT_STRTAB});
        std::vector<uint32_t> name_offsets;
        Bytes names{0};
        for (const auto &section : all) {
            name_offsets.push_back(static_cast<uint32_t>(names.size()));
            names.insert(names.end(), section.name.begin(), section.name.end());
            names.push_back(0);
        }
        all.back().contents = names;

        bytes.resize(sizeof(Elf32_Ehdr));
        std::vector<Elf32_Shdr> headers(1, Elf32_Shdr{});
        for (size_t i = 0; i < all.size(); i++) {
            Elf32_Shdr header{};
            header.sh_name = name_offsets[i];
            header.sh_type = all[i].type;
            header.sh_offset = static_cast<uint32_t>(bytes.size());
            header.sh_size = static_cast<uint32_t>(all[i].contents.size());
            if (all[i].type != SHT_NOBITS) bytes.insert(bytes.end(), all[i].contents.begin(), all[i].contents.end());
            headers.push_back(header);
        }
        Elf32_Ehdr header{};
        std::memcpy(header.e_ident, ELFMAG, SELFMAG);
        header.e_ident[EI_CLASS] = ELFCLASS32;
        header.e_ident[EI_DATA] = ELFDATA2LSB;
        header.e_ident[EI_VERSION] = EV_CURRENT;
        header.e_type = ET_EXEC;
        header.e_machine = EM_386;
        header.e_version = EV_CURRENT;
        header.e_ehsize = sizeof(Elf32_Ehdr);
        header.e_shoff = static_cast<uint32_t>(bytes.size());
        header.e_shentsize = sizeof(Elf32_Shdr);
        header.e_shnum = static_cast<uint16_t>(headers.size());
        header.e_shstrndx = static_cast<uint16_t>(headers.size() - 1);
        std::memcpy(bytes.data(), &header, sizeof header);
        for (const auto &section : headers) {
            auto raw = reinterpret_cast<const uint8_t *>(&section);
            bytes.insert(bytes.end(), raw, raw + sizeof section);
        }
    }

    template <typename T> void put(size_t offset, T value) { std::memcpy(bytes.data() + offset, &value, sizeof value); }
    template <typename T> T get(size_t offset) const {
        T value;
        std::memcpy(&value, bytes.data() + offset, sizeof value);
        return value;
    }
    // Offset of a field in section header `index` (0 is the null section).
    size_t section_field(size_t index, size_t field) const {
        return get<uint32_t>(kShoffAt) + index * sizeof(Elf32_Shdr) + field;
    }
};

Image sound_image() {
    return Image({{".text", {0x90}}, {".kivos.cmdmeta", kCommandRecord}, {".kivos.pkgmeta", kPackageRecord}});
}

constexpr size_t kCommandIndex = 2;  // after the null section and .text
constexpr size_t kPackageIndex = 3;
constexpr uint16_t kShdrSize = sizeof(Elf32_Shdr);

// Section header entries may be wider than Elf32_Shdr.
TEST(KivmetaRead, SoundImageGivesBothRecords) {
    for (uint16_t entry_size : {kShdrSize, uint16_t{kShdrSize + 8}}) {
        SCOPED_TRACE(entry_size);
        Image image = sound_image();
        if (entry_size != sizeof(Elf32_Shdr)) kiv::test::widen_section_headers(image.bytes, entry_size);
        auto metadata = kiv::meta::read_metadata(image.bytes);
        ASSERT_TRUE(metadata) << metadata.error().message;
        ASSERT_EQ(metadata->size(), 2u);
        EXPECT_EQ((*metadata)[0].label, "command");
        EXPECT_EQ((*metadata)[0].strings, (std::vector<std::string>{"Probe Intel e1000 NIC.", "nicsounder"}));
        EXPECT_EQ(Bytes((*metadata)[0].bytes.begin(), (*metadata)[0].bytes.end()), kCommandRecord);
        EXPECT_EQ((*metadata)[1].label, "package");
        EXPECT_EQ((*metadata)[1].strings, (std::vector<std::string>{"nicsounder", "3"}));
    }
}

struct BrokenImage {
    const char *name;
    std::function<void(Image &)> damage;
    Problem problem;
    const char *message;  // expected within the error line
};

const BrokenImage kBrokenImages[] = {
    {"empty file", [](Image &i) { i.bytes.clear(); }, Problem::NotElf32, "not an ELF file"},
    {"header cut short", [](Image &i) { i.bytes.resize(40); }, Problem::NotElf32, "not an ELF file"},
    {"wrong ELF magic", [](Image &i) { i.bytes[1] = 'X'; }, Problem::NotElf32, "not an ELF file"},
    {"ELF64 class", [](Image &i) { i.bytes[EI_CLASS] = ELFCLASS64; }, Problem::NotElf32, "not a 32-bit ELF file"},
    {"big-endian", [](Image &i) { i.bytes[EI_DATA] = ELFDATA2MSB; }, Problem::NotElf32, "little-endian"},
    {"no section headers", [](Image &i) { i.put<uint16_t>(kShnumAt, 0); }, Problem::BadSectionTable,
     "no section headers"},
    {"short section header entries", [](Image &i) { i.put<uint16_t>(kShentsizeAt, 20); }, Problem::BadSectionTable,
     "section header size 20"},
    {"section headers past the end", [](Image &i) { i.bytes.resize(i.bytes.size() - 1); }, Problem::BadSectionTable,
     "section headers run past the end of the file"},
    {"section header offset wrapping 32 bits", [](Image &i) { i.put<uint32_t>(kShoffAt, 0xfffffff0u); },
     Problem::BadSectionTable, "section headers run past the end of the file"},
    {"section count beyond the file", [](Image &i) { i.put<uint16_t>(kShnumAt, 0xffff); }, Problem::BadSectionTable,
     "section headers run past the end of the file"},
    {"more section headers than allowed",
     [](Image &i) {
         i.put<uint16_t>(kShnumAt, kiv::kMaxSections + 1);
         i.bytes.resize(i.get<uint32_t>(kShoffAt) + (kiv::kMaxSections + 1) * sizeof(Elf32_Shdr));
     },
     Problem::BadSectionTable, "4097 section headers, more than 4096"},
    {"name table index out of range", [](Image &i) { i.put<uint16_t>(kShstrndxAt, 5); }, Problem::BadSectionTable,
     "no section name table"},
    {"name table past the end",
     [](Image &i) { i.put<uint32_t>(i.section_field(4, offsetof(Elf32_Shdr, sh_size)), 0x10000); },
     Problem::BadSectionTable, "section name table runs past the end of the file"},
    {"command section missing",
     [](Image &i) { i.put<uint32_t>(i.section_field(kCommandIndex, offsetof(Elf32_Shdr, sh_name)), 1); },
     Problem::BadRecord, "no section .kivos.cmdmeta"},
    {"name offset beyond the name table",
     [](Image &i) { i.put<uint32_t>(i.section_field(kPackageIndex, offsetof(Elf32_Shdr, sh_name)), 0xfffffff0u); },
     Problem::BadRecord, "no section .kivos.pkgmeta"},
    {"command section without file contents",
     [](Image &i) { i.put<uint32_t>(i.section_field(kCommandIndex, offsetof(Elf32_Shdr, sh_type)), SHT_NOBITS); },
     Problem::BadRecord, "section .kivos.cmdmeta has no contents in the file"},
    {"package section past the end",
     [](Image &i) { i.put<uint32_t>(i.section_field(kPackageIndex, offsetof(Elf32_Shdr, sh_size)), 0x100000); },
     Problem::BadRecord, "section .kivos.pkgmeta runs past the end of the file"},
    {"package section offset wrapping 32 bits",
     [](Image &i) { i.put<uint32_t>(i.section_field(kPackageIndex, offsetof(Elf32_Shdr, sh_offset)), 0xffffffffu); },
     Problem::BadRecord, "section .kivos.pkgmeta runs past the end of the file"},
    {"package record with the command magic",
     [](Image &i) { std::memcpy(i.bytes.data() + sizeof(Elf32_Ehdr) + 1 + 43, "KCMD", 4); }, Problem::BadRecord,
     "section .kivos.pkgmeta: magic \"KCMD\" instead of \"KPKG\""},
};

TEST(KivmetaRead, BrokenImagesAreRefusedWithTheirFault) {
    for (const auto &broken : kBrokenImages) {
        SCOPED_TRACE(broken.name);
        Image image = sound_image();
        broken.damage(image);
        auto metadata = kiv::meta::read_metadata(image.bytes);
        ASSERT_FALSE(metadata);
        const kiv::meta::ReadError &error = metadata.error();
        EXPECT_EQ(error.problem, broken.problem);
        EXPECT_NE(error.message.find(broken.message), std::string::npos) << error.message;
        EXPECT_EQ(error.message.find('\n'), std::string::npos);
    }
}

struct RecordCase {
    const char *name;
    std::string bytes;
    const char *error;                 // nullptr: the record is sound
    std::vector<std::string> strings;  // when sound
};

const std::string kHeader("KCMD\1\0\0\0", 8);

const RecordCase kRecordCases[] = {
    {"no strings at all", kHeader + std::string(1, '\0'), nullptr, {}},
    {"bytes after the closing empty string are not read", kHeader + std::string("a\0\0\xff\xff", 5), nullptr, {"a"}},
    {"too short for the version",
     std::string("KCMD\1\0\0", 7),
     "record of 7 bytes has no room for magic and version",
     {}},
    {"wrong magic, shown escaped",
     std::string("KC\x1b\0\1\0\0\0\0", 9),
     "magic \"KC\\x1b\\x00\" instead of \"KCMD\"",
     {}},
    {"version 2", std::string("KCMD\2\0\0\0\0", 9), "version 2 instead of 1", {}},
    {"version 1 written big-endian", std::string("KCMD\0\0\0\1\0", 9), "version 16777216 instead of 1", {}},
    {"nothing after the version", kHeader, "string list does not end with an empty string", {}},
    {"last string without its NUL", kHeader + "nicsounder", "string list does not end with an empty string", {}},
    {"list without the closing empty string",
     kHeader + std::string("a\0b\0", 4),
     "string list does not end with an empty string",
     {}},
    {"control bytes in a string",
     kHeader + std::string("ok\0\x1b[2J\0\0", 9),
     "string 2 \"\\x1b[2J\" is not printable ASCII",
     {}},
    {"a byte above ASCII in a string", kHeader + std::string("caf\xc3\xa9\0\0", 7), "string 1", {}},
};

TEST(KivmetaRecord, RecordsAreCheckedByteForByte) {
    for (const auto &record : kRecordCases) {
        SCOPED_TRACE(record.name);
        auto strings = kiv::meta::parse_record(bytes_of(record.bytes), "KCMD");
        if (record.error == nullptr) {
            ASSERT_TRUE(strings) << strings.error();
            EXPECT_EQ(*strings, record.strings);
        } else {
            ASSERT_FALSE(strings);
            EXPECT_NE(strings.error().find(record.error), std::string::npos) << strings.error();
        }
    }
}

// --- The real executable ---------------------------------------------------

const std::string kNicsounder = kiv::test::command_program("nicsounder");

// The section's bytes as `readelf -x` dumps them: after the address, up to
// four groups of eight hex digits in a 35-column field.
Bytes readelf_section(const std::string &path, const std::string &section) {
    constexpr size_t kHexStart = 13, kHexWidth = 35;
    std::istringstream dump(kiv::test::run_command({"readelf", "-x", section, path}).out);
    Bytes bytes;
    for (std::string text; std::getline(dump, text);) {
        if (text.rfind("  0x", 0) != 0) continue;
        std::string hex;
        for (char c : text.substr(kHexStart, kHexWidth))
            if (c != ' ') hex += c;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

TEST(KivmetaNicsounder, RecordsMatchTheirLayoutAndBinutils) {
    Bytes file = kiv::test::read_test_file(kNicsounder);
    auto metadata = kiv::meta::read_metadata(file);
    ASSERT_TRUE(metadata) << metadata.error().message;
    const Bytes *expected[] = {&kCommandRecord, &kPackageRecord};
    for (size_t r = 0; r < metadata->size(); r++) {
        const auto &record = (*metadata)[r];
        SCOPED_TRACE(record.section);
        EXPECT_EQ(Bytes(record.bytes.begin(), record.bytes.end()), *expected[r]);
        EXPECT_EQ(readelf_section(kNicsounder, record.section), *expected[r]);
    }
}

// --- The command -------------------------------------------------------------

using ToolRun = kiv::test::CommandRun;

ToolRun run_kivmeta(const std::vector<std::string> &arguments) {
    std::vector<std::string> argv{KIVMETA_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return kiv::test::run_command(argv);
}

TEST(KivmetaCommand, PrintsPlainTextAndJson) {
    ToolRun plain = run_kivmeta({kNicsounder});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "command: Probe Intel e1000 NIC.\ncommand: nicsounder\npackage: nicsounder\npackage: 3\n");
    ToolRun json = run_kivmeta({"--json", kNicsounder});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"command\": [\"Probe Intel e1000 NIC.\", \"nicsounder\"], \"package\": [\"nicsounder\", \"3\"]}\n");
}

TEST(KivmetaCommand, TellsItsVersion) {
    ToolRun run = run_kivmeta({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "kivmeta 1.0\n");
    EXPECT_EQ(run.err, "");
}

TEST(KivmetaCommand, FailuresGiveOneLineAndTheirStatus) {
    kiv::test::TempDir dir;
    Image no_package({{".kivos.cmdmeta", kCommandRecord}});
    dir.write("no-package", std::string(no_package.bytes.begin(), no_package.bytes.end()));
    Image elf64 = sound_image();
    elf64.bytes[EI_CLASS] = ELFCLASS64;
    dir.write("elf64", std::string(elf64.bytes.begin(), elf64.bytes.end()));
    dir.write("text", "not an executable\n");
    mkfifo((dir / "fifo").c_str(), 0600);  // nobody ever writes to it
    const std::string kTryHelp = "\nTry 'kivmeta --help' for more information.\n";
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string err;  // usage errors: all of it; others: the first line
    } cases[] = {
        {{}, 1, "kivmeta: expected exactly one FILE" + kTryHelp},
        {{"--bogus", kNicsounder}, 1, "kivmeta: unknown option '--bogus'" + kTryHelp},
        {{"--json=yes", kNicsounder}, 1, "kivmeta: option '--json' takes no value" + kTryHelp},
        {{kNicsounder, "-\x1b"}, 1, "kivmeta: unknown option '-\\x1b'" + kTryHelp},
        {{dir / "missing"}, 2, "kivmeta: " + (dir / "missing") + ": No such file or directory"},
        {{dir.path().string()}, 2, "kivmeta: " + dir.path().string() + ": not a regular file"},
        {{dir / "fifo"}, 2, "kivmeta: " + (dir / "fifo") + ": not a regular file"},
        {{dir / "text"}, 3, "kivmeta: " + (dir / "text") + ": not an ELF file (too short for an ELF header)"},
        {{dir / "elf64"}, 3, "kivmeta: " + (dir / "elf64") + ": not a 32-bit ELF file"},
        {{dir / "no-package"}, 4, "kivmeta: " + (dir / "no-package") + ": no section .kivos.pkgmeta"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments[0]);
        ToolRun run = run_kivmeta(c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.status == 1 ? c.err : c.err + "\n");
    }
}

}  // namespace
