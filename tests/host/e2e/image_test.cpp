// The executable image as an independent reader (binutils' readelf) sees
// it: three loadable segments at fixed addresses with their permissions,
// sections in order and alignment, the entry point at the first byte of
// text; and links that would not fit the fixed image fail loudly.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "case_name.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

struct Segment {
    std::string type;
    uint32_t address;
    std::string flags;
    uint32_t align;
};

struct Section {
    uint32_t address;
    uint32_t align;
    std::string type;
};

struct ElfView {
    std::string header;
    std::vector<Segment> segments;
    std::map<std::string, Section> sections;
    std::vector<std::string> segment_sections;  // "mapping" lines: names per segment
};

ElfView read_elf(const std::string &path) {
    ElfView view;
    view.header = run_command({"readelf", "-hlSW", path}).out;
    std::istringstream lines(view.header);
    const std::regex section(
        R"(^\s*\[\s*\d+\]\s+(\S+)\s+(\S+)\s+([0-9a-f]{8})\s+\S+\s+\S+\s+\S+\s+\S*\s*\d+\s+\d+\s+(\d+)$)");
    const std::regex segment(
        R"(^\s+(\w+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+(R?W?(?: E)?)\s+0x([0-9a-f]+)$)");
    const std::regex mapping(R"(^\s+(\d\d)\s+(.*?)\s*$)");
    bool in_mapping = false;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (line.find("Section to Segment mapping") != std::string::npos) in_mapping = true;
        if (in_mapping && std::regex_match(line, m, mapping)) {
            view.segment_sections.push_back(m[2]);
        } else if (std::regex_match(line, m, section)) {
            view.sections[m[1]] = {static_cast<uint32_t>(std::stoul(m[3], nullptr, 16)),
                                   static_cast<uint32_t>(std::stoul(m[4])), m[2]};
        } else if (std::regex_match(line, m, segment)) {
            view.segments.push_back({m[1], static_cast<uint32_t>(std::stoul(m[2], nullptr, 16)), m[3],
                                     static_cast<uint32_t>(std::stoul(m[4], nullptr, 16))});
        }
    }
    return view;
}

void expect_fixed_image(const ElfView &elf) {
    EXPECT_NE(elf.header.find("ELF32"), std::string::npos);
    EXPECT_NE(elf.header.find("little endian"), std::string::npos);
    EXPECT_NE(elf.header.find("EXEC (Executable file)"), std::string::npos);
    EXPECT_NE(elf.header.find("Intel 80386"), std::string::npos);
    EXPECT_NE(elf.header.find("Entry point address:               0x400000"), std::string::npos);

    const Segment expected[] = {
        {"LOAD", 0x400000, "R E", 0x1000}, {"LOAD", 0x405000, "R", 0x1000}, {"LOAD", 0x406000, "RW", 0x1000}};
    ASSERT_EQ(elf.segments.size(), std::size(expected)) << elf.header;
    for (size_t i = 0; i < std::size(expected); i++) {
        SCOPED_TRACE("segment " + std::to_string(i));
        EXPECT_EQ(elf.segments[i].type, expected[i].type);
        EXPECT_EQ(elf.segments[i].address, expected[i].address);
        EXPECT_EQ(elf.segments[i].flags, expected[i].flags);
        EXPECT_EQ(elf.segments[i].align, expected[i].align);
    }
    for (const char *name : {".text", ".rodata", ".data", ".bss"}) {
        ASSERT_TRUE(elf.sections.count(name)) << name;
        EXPECT_EQ(elf.sections.at(name).align, 4096u) << name;
        EXPECT_EQ(elf.sections.at(name).address % 4096, 0u) << name;
    }
    EXPECT_EQ(elf.sections.at(".text").address, 0x400000u);
    EXPECT_EQ(elf.sections.at(".rodata").address, 0x405000u);
    EXPECT_EQ(elf.sections.at(".data").address, 0x406000u);
    EXPECT_EQ(elf.sections.at(".bss").type, "NOBITS");
    EXPECT_EQ(elf.sections.count(".interp") + elf.sections.count(".dynamic"), 0u);
}

TEST(Image, CommandHasTheFixedLayout) {
    ElfView elf = read_elf(command_program("nicsounder"));
    expect_fixed_image(elf);
    ASSERT_EQ(elf.segment_sections.size(), 3u) << elf.header;
    EXPECT_EQ(elf.segment_sections[0], ".text");
    EXPECT_EQ(elf.segment_sections[1], ".rodata .kivos.cmdmeta .kivos.pkgmeta");
    EXPECT_EQ(elf.segment_sections[2], ".data .bss");
    EXPECT_EQ(elf.sections.at(".kivos.cmdmeta").align, 32u);
    EXPECT_EQ(elf.sections.at(".kivos.cmdmeta").address % 32, 0u);
    EXPECT_EQ(elf.sections.at(".kivos.pkgmeta").align, 4u);
    // The heap's arena makes .bss just over 1 MiB.
    EXPECT_NE(elf.header.find(" .bss              NOBITS          00407000"), std::string::npos) << elf.header;
}

TEST(Image, SmallProgramHasTheFixedLayout) {
    ElfView elf = read_elf(guest_program("fixed_hello"));
    expect_fixed_image(elf);
    EXPECT_EQ(elf.segment_sections, (std::vector<std::string>{".text", ".rodata", ".data .bss"}));
}

TEST(Image, EntryPointIsStartAtTheFirstByteOfText) {
    std::string symbols = run_command({"readelf", "-sW", command_program("nicsounder")}).out;
    EXPECT_TRUE(std::regex_search(symbols, std::regex(R"(00400000\s+\d+\s+FUNC\s+GLOBAL\s+DEFAULT\s+1 _start)")))
        << symbols;
}

struct Overflow {
    const char *name;
    const char *assembly;
    const char *message;
    const char *excess;  // ld's figure for the region
};

// ld reports a region's overflow only in an image of several sections.
const Overflow kOverflows[] = {
    {"text", ".section .text.entry,\"ax\"\n.globl _start\n_start:\n.fill 0x5003, 1, 0x90\n.data\n.long 1\n",
     ".text outgrows", "region `text_segment' overflowed by 3 bytes"},
    {"rodata", ".section .text.entry,\"ax\"\n.globl _start\n_start: ret\n.section .rodata\n.fill 0x1001, 1, 0\n",
     "read-only data outgrows", "region `rodata_segment' overflowed by 1 byte"},
};

class LinkOverflow : public testing::TestWithParam<Overflow> {};

TEST_P(LinkOverflow, FailsWithAClearMessage) {
    TempDir directory;
    directory.write("big.s", GetParam().assembly);
    CommandRun link = run_command({"i686-linux-gnu-gcc", "-nostdlib", "-static", "-no-pie",
                                   "-Wl,--orphan-handling=error", "-Wl,-T," KIV_SOURCE_DIR "/guest/ld/fixed.ld",
                                   "-Wl,-T," KIV_SOURCE_DIR "/guest/ld/layout.ld", directory / "big.s", "-o",
                                   directory / "big"});
    EXPECT_NE(link.status, 0) << link.err;
    for (const char *expected : {GetParam().message, GetParam().excess, "--layout=roomy"}) {
        EXPECT_NE(link.err.find(expected), std::string::npos) << expected << " not in " << link.err;
    }
    EXPECT_FALSE(directory.exists("big"));
}

INSTANTIATE_TEST_SUITE_P(Segments, LinkOverflow, testing::ValuesIn(kOverflows), kCaseName);

}  // namespace
}  // namespace kiv::test
