#include "machine/loader.h"

#include <elf.h>

#include <algorithm>

#include "machine/memory_map.h"
#include "support/elf_identity.h"
#include "support/file.h"
#include "support/record.h"
#include "support/text.h"

namespace kiv {

namespace {

constexpr uint32_t kMaxProgramHeaders = 64;
// Room the argument texts and vector may take on the initial stack.
constexpr uint32_t kMaxArgumentBytes = 1u << 20;
constexpr uint32_t kStackAlignment = 16;

static_assert(sizeof(Elf32_Phdr) == 32);

uint32_t protection_of(uint32_t flags) {
    uint32_t protection = 0;
    if (flags & PF_R) protection |= kAccessRead;
    if (flags & PF_W) protection |= kAccessWrite;
    if (flags & PF_X) protection |= kAccessExec;
    return protection;
}

std::optional<std::string> check_header(std::span<const uint8_t> file, const Elf32_Ehdr &header) {
    if (header.e_ident[EI_VERSION] != EV_CURRENT || header.e_version != EV_CURRENT) return "unknown ELF version";
    if (auto problem = i386_machine_problem(header)) return problem;
    if (header.e_type != ET_EXEC) return "not a static executable (ELF type is not EXEC)";
    if (header.e_phentsize != sizeof(Elf32_Phdr)) return "bad program header size";
    if (header.e_phnum == 0) return "no program headers";
    if (header.e_phnum > kMaxProgramHeaders) return "too many program headers";
    if (uint64_t{header.e_phoff} + uint64_t{header.e_phnum} * sizeof(Elf32_Phdr) > file.size())
        return "program headers lie outside the file";
    return std::nullopt;
}

std::optional<std::string> check_segment(std::span<const uint8_t> file, const Elf32_Phdr &ph) {
    if (ph.p_filesz > ph.p_memsz) return "segment at " + hex(ph.p_vaddr) + " has more file bytes than memory";
    if (uint64_t{ph.p_offset} + ph.p_filesz > file.size())
        return "segment at " + hex(ph.p_vaddr) + " runs past the end of the file";
    uint64_t end = uint64_t{ph.p_vaddr} + ph.p_memsz;
    if (ph.p_memsz != 0 && (ph.p_vaddr < kUserStart || end > kStackBottom))
        return "segment at " + hex(ph.p_vaddr) + " lies outside the user address range";
    return std::nullopt;
}

std::optional<std::string> check_layout(const ExecutableImage &image) {
    auto segments = image.segments;
    std::sort(segments.begin(), segments.end(),
              [](const LoadSegment &a, const LoadSegment &b) { return a.address < b.address; });
    uint64_t total = 0;
    for (size_t i = 0; i < segments.size(); i++) {
        total += page_ceil(uint64_t{segments[i].address} + segments[i].memory_size) - page_floor(segments[i].address);
        if (i > 0) {
            uint64_t previous_end = page_ceil(uint64_t{segments[i - 1].address} + segments[i - 1].memory_size);
            if (page_floor(segments[i].address) < previous_end)
                return "segments at " + hex(segments[i - 1].address) + " and " + hex(segments[i].address) +
                       " overlap or share a page";
        }
    }
    if (total > kMaxImageMemory) return "segments need more memory than a process may have";
    for (const auto &segment : image.segments) {
        if ((segment.protection & kAccessExec) && image.entry >= segment.address &&
            image.entry - segment.address < segment.memory_size)
            return std::nullopt;
    }
    return "entry point " + hex(image.entry) + " is not in an executable segment";
}

}  // namespace

Result<std::vector<uint8_t>> read_executable(const std::string &path) { return read_file(path, kMaxExecutableSize); }

Result<std::vector<uint8_t>> read_executable(int fd) { return read_file(fd, kMaxExecutableSize); }

Result<ExecutableImage> parse_executable(std::span<const uint8_t> file) {
    if (auto problem = elf32_identity_problem(file)) return Failure{*problem};
    auto header = record_at<Elf32_Ehdr>(file, 0);
    if (auto problem = check_header(file, header)) return Failure{*problem};

    ExecutableImage image{header.e_entry, {}};
    for (uint32_t i = 0; i < header.e_phnum; i++) {
        auto ph = record_at<Elf32_Phdr>(file, header.e_phoff + uint64_t{i} * sizeof(Elf32_Phdr));
        switch (ph.p_type) {
        case PT_INTERP: return Failure{"dynamically linked (has an interpreter)"};
        case PT_DYNAMIC: return Failure{"dynamically linked (has a dynamic section)"};
        case PT_TLS: return Failure{"thread-local storage is not supported"};
        case PT_LOAD:
            if (auto problem = check_segment(file, ph)) return Failure{*problem};
            if (ph.p_memsz == 0) continue;
            image.segments.push_back({ph.p_vaddr, ph.p_memsz, ph.p_offset, ph.p_filesz, protection_of(ph.p_flags)});
            break;
        default: break;  // notes, stack markers and the like carry nothing to load
        }
    }
    if (image.segments.empty()) return Failure{"nothing to load (no loadable segment)"};
    if (auto problem = check_layout(image)) return Failure{*problem};
    image.symbols = SymbolTable::from_elf(file);
    return image;
}

uint64_t memory_of(const ExecutableImage &image) {
    uint64_t total = kStackSize;
    for (const auto &segment : image.segments)
        total += page_ceil(uint64_t{segment.address} + segment.memory_size) - page_floor(segment.address);
    return total;
}

bool load_segments(GuestMemory &memory, const ExecutableImage &image, std::span<const uint8_t> file) {
    for (const auto &segment : image.segments) {
        uint32_t start = page_floor(segment.address);
        uint64_t end = page_ceil(uint64_t{segment.address} + segment.memory_size);
        if (!memory.map(start, static_cast<uint32_t>(end - start), segment.protection)) return false;
        if (!memory.poke(segment.address, file.data() + segment.file_offset, segment.file_size)) return false;
    }
    return true;
}

std::optional<uint32_t> build_stack(GuestMemory &memory, const std::vector<std::string> &argv) {
    uint64_t text_bytes = 0;
    for (const auto &argument : argv) text_bytes += argument.size() + 1;
    uint64_t vector_bytes = (argv.size() + 2) * sizeof(uint32_t);
    if (text_bytes + vector_bytes + kStackAlignment > kMaxArgumentBytes) return std::nullopt;
    if (!memory.map(kStackBottom, kStackSize, kAccessRead | kAccessWrite)) return std::nullopt;

    uint32_t cursor = kStackTop;
    std::vector<uint32_t> words{static_cast<uint32_t>(argv.size())};
    for (const auto &argument : argv) {
        cursor -= static_cast<uint32_t>(argument.size() + 1);
        memory.poke(cursor, argument.c_str(), static_cast<uint32_t>(argument.size() + 1));
        words.push_back(cursor);
    }
    words.push_back(0);
    uint32_t stack = (cursor - static_cast<uint32_t>(words.size() * sizeof(uint32_t))) & ~(kStackAlignment - 1);
    memory.poke(stack, words.data(), static_cast<uint32_t>(words.size() * sizeof(uint32_t)));
    return stack;
}

}  // namespace kiv
