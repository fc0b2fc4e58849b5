// The loader accepts only what the kivos loader would and refuses anything
// else with a one-line reason, whatever the file holds.
#include "machine/loader.h"

#include <elf.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "case_name.h"
#include "guest_runner.h"
#include "support/file.h"

namespace kiv::test {
namespace {

using Bytes = std::vector<uint8_t>;

Elf32_Phdr &program_header(Bytes &file, size_t index) {
    return *reinterpret_cast<Elf32_Phdr *>(file.data() + elf_header(file).e_phoff + index * sizeof(Elf32_Phdr));
}

// The first loadable segment of the valid executable (its text).
Elf32_Phdr &text(Bytes &file) { return program_header(file, 0); }

struct Malformation {
    const char *name;
    std::function<void(Bytes &)> damage;
    const char *reason;
};

const Malformation kMalformations[] = {
    {"empty", [](Bytes &f) { f.clear(); }, "too short"},
    {"truncated_header", [](Bytes &f) { f.resize(40); }, "too short"},
    {"not_elf", [](Bytes &f) { f[1] = 'X'; }, "not an ELF file"},
    {"elf64", [](Bytes &f) { f[EI_CLASS] = ELFCLASS64; }, "not a 32-bit ELF file"},
    {"big_endian", [](Bytes &f) { f[EI_DATA] = ELFDATA2MSB; }, "little-endian"},
    {"wrong_machine", [](Bytes &f) { elf_header(f).e_machine = EM_X86_64; }, "not an i386"},
    {"shared_object", [](Bytes &f) { elf_header(f).e_type = ET_DYN; }, "not a static executable"},
    {"relocatable", [](Bytes &f) { elf_header(f).e_type = ET_REL; }, "not a static executable"},
    {"bad_version", [](Bytes &f) { elf_header(f).e_version = 7; }, "version"},
    {"phentsize", [](Bytes &f) { elf_header(f).e_phentsize = 28; }, "program header size"},
    {"no_program_headers", [](Bytes &f) { elf_header(f).e_phnum = 0; }, "no program headers"},
    {"many_program_headers", [](Bytes &f) { elf_header(f).e_phnum = 0xffff; }, "too many"},
    {"headers_past_end", [](Bytes &f) { elf_header(f).e_phoff = static_cast<uint32_t>(f.size()) - 16; },
     "outside the file"},
    {"headers_offset_wraps", [](Bytes &f) { elf_header(f).e_phoff = 0xfffffff0u; }, "outside the file"},
    {"truncated_program_headers", [](Bytes &f) { f.resize(elf_header(f).e_phoff + 40); }, "outside the file"},
    {"interpreter", [](Bytes &f) { text(f).p_type = PT_INTERP; }, "interpreter"},
    {"dynamic", [](Bytes &f) { text(f).p_type = PT_DYNAMIC; }, "dynamic section"},
    {"tls", [](Bytes &f) { text(f).p_type = PT_TLS; }, "thread-local"},
    {"segment_past_end", [](Bytes &f) { text(f).p_offset = static_cast<uint32_t>(f.size()); }, "past the end"},
    {"segment_offset_wraps", [](Bytes &f) { text(f).p_offset = 0xfffff000u; }, "past the end"},
    {"truncated_segment", [](Bytes &f) { f.resize(text(f).p_offset + 16); }, "past the end"},
    {"filesz_above_memsz", [](Bytes &f) { text(f).p_memsz = text(f).p_filesz - 1; }, "more file bytes"},
    {"segment_at_zero", [](Bytes &f) { text(f).p_vaddr = 0; }, "outside the user address range"},
    {"segment_in_kernel", [](Bytes &f) { text(f).p_vaddr = 0xc0000000u; }, "outside the user address range"},
    {"segment_wraps", [](Bytes &f) { text(f).p_vaddr = 0xfffff000u, text(f).p_memsz = 0x2000; }, "outside the user"},
    {"segment_over_stack", [](Bytes &f) { text(f).p_memsz = 0xbf500000u; }, "outside the user address range"},
    {"overlapping", [](Bytes &f) { program_header(f, 1).p_vaddr = text(f).p_vaddr + 0x10; }, "overlap"},
    {"sharing_a_page", [](Bytes &f) { program_header(f, 1).p_vaddr = text(f).p_vaddr + text(f).p_memsz; },
     "share a page"},
    {"entry_in_data", [](Bytes &f) { elf_header(f).e_entry = program_header(f, 1).p_vaddr; }, "not in an executable"},
    {"entry_nowhere", [](Bytes &f) { elf_header(f).e_entry = 0x12345678; }, "not in an executable"},
    {"nothing_to_load",
     [](Bytes &f) {
         for (size_t i = 0; i < elf_header(f).e_phnum; i++) program_header(f, i).p_type = PT_NOTE;
     },
     "nothing to load"},
};

class Malformed : public testing::TestWithParam<Malformation> {};

TEST_P(Malformed, IsRefusedWithItsReason) {
    Bytes file = valid_executable();
    ASSERT_GE(file.size(), sizeof(Elf32_Ehdr));
    GetParam().damage(file);
    Result<ExecutableImage> image = parse_executable(file);
    ASSERT_FALSE(image.has_value());
    EXPECT_NE(image.error().find(GetParam().reason), std::string::npos) << image.error();

    // The same file given to the stand-in: refused with status 126.
    TempDir directory;
    directory.write("bad", std::string(file.begin(), file.end()));
    GuestRun run = run_guest(directory / "bad");
    EXPECT_EQ(run.result.exit_code, kExitNotLoadable);
    EXPECT_NE(run.result.message.find("cannot run"), std::string::npos) << run.result.message;
}

INSTANTIATE_TEST_SUITE_P(Files, Malformed, testing::ValuesIn(kMalformations), kCaseName);

TEST(Loader, AcceptsTheValidExecutable) {
    Result<ExecutableImage> image = parse_executable(valid_executable());
    ASSERT_TRUE(image.has_value()) << image.error();
    EXPECT_EQ(image->entry, 0x400000u);
}

TEST(Loader, MissingAndUnreadableFiles) {
    TempDir directory;
    GuestRun missing = run_guest(directory / "none");
    EXPECT_EQ(missing.result.exit_code, kExitNotFound);
    EXPECT_NE(missing.result.message.find("No such file"), std::string::npos);
    GuestRun folder = run_guest(directory.path().string());
    EXPECT_EQ(folder.result.exit_code, kExitNotFound);
    EXPECT_NE(folder.result.message.find("not a regular file"), std::string::npos);
}

// Random damage to a valid file: the stand-in refuses it, or runs it to an
// exit, a fault or the block limit; it never crashes or hangs.
TEST(Loader, SurvivesRandomDamage) {
    std::mt19937 random(20261208);
    TempDir directory;
    RunOptions options;
    options.root = directory.path();
    options.settings.block_limit = 20000;
    options.settings.timeout_seconds = 5;
    const Bytes &valid = valid_executable();
    for (int round = 0; round < 300; round++) {
        Bytes file = valid;
        int flips = 1 + static_cast<int>(random() % 8);
        // Most damage goes to the headers, where the loader looks.
        for (int i = 0; i < flips; i++) {
            size_t limit = random() % 4 == 0 ? file.size() : std::min<size_t>(file.size(), 0x100);
            file[random() % limit] = static_cast<uint8_t>(random());
        }
        directory.write("damaged", std::string(file.begin(), file.end()));
        GuestRun run = run_guest(directory / "damaged", {}, options);
        EXPECT_NE(run.result.outcome, RunResult::Outcome::HostError) << "round " << round << ": " << run.result.message;
    }
}

}  // namespace
}  // namespace kiv::test
