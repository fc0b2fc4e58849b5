// The command from outside: the report's exact bytes for chosen
// controllers, which arguments ask for the usage line, the failure path,
// the system-call pattern of the whole run, the metadata records in the
// executable file, and the report of the host's controller.
#include <elf.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>

#include "../os/fake_sysfs.h"
#include "case_name.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

const char kUsage[] = "Usage: nicsounder\n";
const char kProbeFailed[] = "nicsounder: probe failed\n";
const char kDefaultReport[] =
    "E1000 Probe Results:\n"
    "  PCI: 00:03.0\n"
    "  MMIO Base: 0xfebc0000\n"
    "  MAC: 52:54:00:12:34:56\n"
    "  Link: UP\n";

GuestRun run_command(const std::vector<std::string> &args, const NicConfig &nic = {},
                     const std::string &injection = "") {
    TempDir sandbox;
    RunOptions options;
    options.root = sandbox.path();
    options.settings.nic = nic;
    if (!injection.empty()) {
        Result<Injection> parsed = parse_injection(injection);
        EXPECT_TRUE(parsed) << parsed.error();
        if (parsed) options.settings.injection.injections.push_back(*parsed);
    }
    return run_guest(command_program("nicsounder"), args, options);
}

TEST(Nicsounder, ReportsTheDefaultController) {
    GuestRun run = run_command({});
    ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.out, kDefaultReport);
}

struct ControllerCase {
    const char *name;
    NicInfo info;
    const char *report;
};
void PrintTo(const ControllerCase &c, std::ostream *out) { *out << c.name; }

const ControllerCase kControllers[] = {
    {"function_7_device_1f",
     {0x00, 0x1f, 0x7, 0, 0xfebc0000u, {}, {0x52, 0x54, 0x00, 0x12, 0x34, 0x56}, {}, 1},
     "E1000 Probe Results:\n  PCI: 00:1f.7\n  MMIO Base: 0xfebc0000\n  MAC: 52:54:00:12:34:56\n  Link: UP\n"},
    {"mmio_0_link_0",
     {0xab, 0x00, 0x0, 0, 0, {}, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {}, 0},
     "E1000 Probe Results:\n  PCI: ab:00.0\n  MMIO Base: 0x00000000\n  MAC: 00:00:00:00:00:00\n  Link: DOWN\n"},
    {"high_values_link_all_ones",
     {0xff, 0xff, 0xff, 0xff, 0xffffffffu, {}, {0xff, 0xfe, 0x0a, 0xb0, 0x01, 0x10}, {}, 0xffffffffu},
     "E1000 Probe Results:\n  PCI: ff:ff.255\n  MMIO Base: 0xffffffff\n  MAC: ff:fe:0a:b0:01:10\n  Link: UP\n"},
    {"link_2",
     {0x00, 0x03, 0x0, 0, 0x1000u, {}, {0x52, 0x54, 0x00, 0x12, 0x34, 0x56}, {}, 2},
     "E1000 Probe Results:\n  PCI: 00:03.0\n  MMIO Base: 0x00001000\n  MAC: 52:54:00:12:34:56\n  Link: UP\n"},
};

class Controllers : public testing::TestWithParam<ControllerCase> {};

TEST_P(Controllers, ReportShowsEveryField) {
    NicConfig nic;
    nic.simulated = GetParam().info;
    GuestRun run = run_command({}, nic);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.out, GetParam().report);
}

INSTANTIATE_TEST_SUITE_P(Edges, Controllers, testing::ValuesIn(kControllers), kCaseName);

struct ArgumentCase {
    const char *name;
    std::vector<std::string> args;
    bool usage;
};
void PrintTo(const ArgumentCase &c, std::ostream *out) { *out << c.name; }

const ArgumentCase kArguments[] = {
    {"none", {}, false},
    {"dash_h", {"-h"}, true},
    {"dash_h_with_more", {"-h", "extra"}, true},
    {"long_help", {"--help"}, false},
    {"upper_case_h", {"-H"}, false},
    {"two_h", {"-hh"}, false},
    {"empty", {""}, false},
    {"dash_h_second_only", {"x", "-h"}, false},
};

class Arguments : public testing::TestWithParam<ArgumentCase> {};

// The usage line answers "-h" alone, and then no query reaches the kernel.
TEST_P(Arguments, OnlyDashHAsksForUsage) {
    GuestRun run = run_command(GetParam().args);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.out, GetParam().usage ? kUsage : kDefaultReport);
    EXPECT_EQ(run.calls("nic_query").size(), GetParam().usage ? 0u : 1u) << run.trace;
}

INSTANTIATE_TEST_SUITE_P(Cases, Arguments, testing::ValuesIn(kArguments), kCaseName);

TEST(Nicsounder, UsageIsTwoWritesAndNoQuery) {
    GuestRun run = run_command({"-h"});
    EXPECT_EQ(
        trace_mismatch(run, {R"(write(1, "Usage: nicsounder", 17) = 17)", R"(write(1, "\n", 1) = 1)", "exit(0) = ?"}),
        "");
}

TEST(Nicsounder, FailedQueryPrintsTheMessageAndExits1) {
    NicConfig nic;
    nic.source = NicSource::Absent;
    GuestRun run = run_command({}, nic);
    ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.result.status, 1);
    EXPECT_EQ(run.out, kProbeFailed);
    EXPECT_EQ(trace_mismatch(run, {"nic_query(0, 0, *) = -1", R"(write(1, "nicsounder: probe failed", 24) = 24)",
                                   R"(write(1, "\n", 1) = 1)", "exit(1) = ?"}),
              "");
}

struct InjectedCase {
    const char *name;
    const char *injection;
    int status;
    const char *out;
};
void PrintTo(const InjectedCase &c, std::ostream *out) { *out << c.name; }

const InjectedCase kInjected[] = {
    {"query_answers_1", "nic_query:retval=1", 1, kProbeFailed},
    {"query_refused", "nic_query:error=ENODEV", 1, kProbeFailed},
    // Each printf gives up at its first refused piece; the report's first
    // line went out in two writes before.
    {"writes_refused_from_the_third", "write:error=EIO:when=3+", 0, "E1000 Probe Results:\n"},
    {"one_byte_writes", "write:short=1", 0, kDefaultReport},
};

class Injected : public testing::TestWithParam<InjectedCase> {};

TEST_P(Injected, CommandCopesAsSpecified) {
    GuestRun run = run_command({}, {}, GetParam().injection);
    ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.result.status, GetParam().status);
    EXPECT_EQ(run.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Cases, Injected, testing::ValuesIn(kInjected), kCaseName);

// Expected writes in trace syntax, built piece by piece.
class Writes {
public:
    // Ordinary text, padding and zeros: one write per byte.
    Writes &bytes(const std::string &text) {
        for (char c : text) piece(std::string(1, c));
        return *this;
    }
    // A number's digits or a string: one write.
    Writes &piece(const std::string &text) {
        std::string quoted;
        for (char c : text) quoted += c == '\n' ? std::string("\\n") : std::string(1, c);
        std::string count = std::to_string(text.size());
        calls_.push_back("write(1, \"" + quoted + "\", " + count + ") = " + count);
        return *this;
    }
    std::vector<std::string> calls() const { return calls_; }

private:
    std::vector<std::string> calls_;
};

// No buffering anywhere: every ordinary character is a write of its own,
// a number's digits one write, puts two writes; everything on descriptor 1.
TEST(Nicsounder, ReportCallPattern) {
    Writes writes;
    writes.piece("E1000 Probe Results:").piece("\n");
    writes.bytes("  PCI: ").bytes("0").piece("0").bytes(":").bytes("0").piece("3").bytes(".").piece("0").bytes("\n");
    writes.bytes("  MMIO Base: 0x").piece("febc0000").bytes("\n");
    writes.bytes("  MAC: ").piece("52").bytes(":").piece("54").bytes(":").bytes("0").piece("0").bytes(":");
    writes.piece("12").bytes(":").piece("34").bytes(":").piece("56").bytes("\n");
    writes.bytes("  Link: ").piece("UP").bytes("\n");
    std::vector<std::string> expected{"nic_query(0, 0, *) = 0"};
    for (const auto &call : writes.calls()) expected.push_back(call);
    expected.push_back("exit(0) = ?");

    GuestRun run = run_command({});
    EXPECT_EQ(trace_mismatch(run, expected), "");
}

// The executable's sections, read the way the host's tools read them.
class ElfSections {
public:
    explicit ElfSections(const std::string &path) : bytes_(read_test_file(path)) {}
    std::optional<Elf32_Shdr> section(const std::string &name) const {
        const Elf32_Shdr *table = at<Elf32_Shdr>(header().e_shoff);
        const char *names = at<char>(table[header().e_shstrndx].sh_offset);
        for (size_t i = 0; i < header().e_shnum; i++)
            if (name == names + table[i].sh_name) return table[i];
        return std::nullopt;
    }
    std::string content(const Elf32_Shdr &section) const {
        return std::string(at<char>(section.sh_offset), section.sh_size);
    }
    // The flags of the loadable segment that holds `address`.
    std::optional<uint32_t> segment_flags(uint32_t address) const {
        const Elf32_Phdr *table = at<Elf32_Phdr>(header().e_phoff);
        for (size_t i = 0; i < header().e_phnum; i++)
            if (table[i].p_type == PT_LOAD && address >= table[i].p_vaddr &&
                address < table[i].p_vaddr + table[i].p_memsz)
                return table[i].p_flags;
        return std::nullopt;
    }

private:
    const Elf32_Ehdr &header() const { return *at<Elf32_Ehdr>(0); }
    template <typename T> const T *at(size_t offset) const {
        return reinterpret_cast<const T *>(bytes_.data() + offset);
    }
    std::vector<uint8_t> bytes_;
};

struct RecordCase {
    const char *section;
    std::string content;
    uint32_t alignment;
};

const RecordCase kRecords[] = {
    {".kivos.cmdmeta", std::string("KCMD\x01\0\0\0Probe Intel e1000 NIC.\0nicsounder\0\0", 43), 32},
    {".kivos.pkgmeta",
     std::string("KPKG\x01\0\0\0nicsounder\0"
                 "3\0\0",
                 22),
     4},
};

// Both records survive the linker although no code refers to them, and sit
// read-only after .rodata, the command record first.
TEST(Nicsounder, MetadataRecordsAreInTheExecutable) {
    ElfSections elf(command_program("nicsounder"));
    auto rodata = elf.section(".rodata");
    ASSERT_TRUE(rodata);
    uint32_t previous_end = rodata->sh_addr + rodata->sh_size;
    for (const RecordCase &record : kRecords) {
        SCOPED_TRACE(record.section);
        auto section = elf.section(record.section);
        ASSERT_TRUE(section);
        EXPECT_EQ(elf.content(*section), record.content);
        EXPECT_EQ(section->sh_addralign, record.alignment);
        EXPECT_EQ(section->sh_addr % record.alignment, 0u);
        EXPECT_EQ(section->sh_flags, static_cast<uint32_t>(SHF_ALLOC));
        EXPECT_GE(section->sh_addr, previous_end);
        EXPECT_EQ(elf.segment_flags(section->sh_addr), static_cast<uint32_t>(PF_R));
        previous_end = section->sh_addr + section->sh_size;
    }
}

// nicsounder's report over a fake sysfs tree, through kivrun's host NIC.
struct ReportCase {
    const char *name;
    std::vector<FakeDevice> devices;
    int32_t status;
    const char *out;
    bool tells_no_controller;  // kivrun says why the query failed
};

const ReportCase kReportCases[] = {
    {"controller found",
     {{.address = "0000:00:19.0",
       .resource = "0x00000000f7f00000 0x00000000f7f1ffff 0x40200",
       .mac = "00:1b:21:aa:bb:cc",
       .carrier = "0"}},
     0,
     "E1000 Probe Results:\n  PCI: 00:19.0\n  MMIO Base: 0xf7f00000\n  MAC: 00:1b:21:aa:bb:cc\n  Link: DOWN\n",
     false},
    {"no controller", {}, 1, "nicsounder: probe failed\n", true},
};

TEST(HostNic, NicsounderReportsTheHostController) {
    for (const auto &c : kReportCases) {
        SCOPED_TRACE(c.name);
        FakeSysfs sysfs(c.devices);
        TempDir sandbox;
        RunOptions options;
        options.root = sandbox.path().string();
        options.settings.nic.source = NicSource::Host;
        options.settings.nic.sysfs_root = sysfs.root();
        GuestRun run = run_guest(command_program("nicsounder"), {}, options);
        ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
        EXPECT_EQ(run.result.status, c.status);
        EXPECT_EQ(run.out, c.out);
        std::string told = "kivrun: --nic host: no e1000 controller in " + sysfs.root() + "/bus/pci/devices\n";
        EXPECT_EQ(run.notes, c.tells_no_controller ? told : "");
    }
}

}  // namespace
}  // namespace kiv::test
