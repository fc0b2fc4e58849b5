#include "elf_image.h"

#include <elf.h>

#include <algorithm>
#include <cstring>

#include "guest_memory.h"

namespace kiv {

namespace {

constexpr uint32_t kMaxProgramHeaders = 64;
// Total memory a program may ask the loader for (the stack aside).
constexpr uint64_t kMaxImageMemory = 1ull << 30;

static_assert(sizeof(Elf32_Ehdr) == 52);
static_assert(sizeof(Elf32_Phdr) == 32);

template <typename Record>
Record read_record(std::span<const uint8_t> file, uint64_t offset) {
    Record record;
    std::memcpy(&record, file.data() + offset, sizeof record);
    return record;
}

std::optional<ExecutableImage> fail(ImageError &error, std::string message) {
    error.message = std::move(message);
    return std::nullopt;
}

std::string hex(uint64_t value) {
    char text[24];
    snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

uint32_t protection_of(uint32_t flags) {
    uint32_t protection = 0;
    if (flags & PF_R) protection |= kAccessRead;
    if (flags & PF_W) protection |= kAccessWrite;
    if (flags & PF_X) protection |= kAccessExec;
    return protection;
}

std::optional<std::string> check_header(std::span<const uint8_t> file, const Elf32_Ehdr &header) {
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return "not an ELF file";
    if (header.e_ident[EI_CLASS] != ELFCLASS32) return "not a 32-bit ELF file";
    if (header.e_ident[EI_DATA] != ELFDATA2LSB) return "not a little-endian ELF file";
    if (header.e_ident[EI_VERSION] != EV_CURRENT || header.e_version != EV_CURRENT)
        return "unknown ELF version";
    if (header.e_machine != EM_386) return "not an i386 executable";
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
        total += page_ceil(uint64_t{segments[i].address} + segments[i].memory_size) -
                 page_floor(segments[i].address);
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

std::optional<ExecutableImage> parse_executable(std::span<const uint8_t> file, ImageError &error) {
    if (file.size() < sizeof(Elf32_Ehdr)) return fail(error, "file too short for an ELF header");
    auto header = read_record<Elf32_Ehdr>(file, 0);
    if (auto problem = check_header(file, header)) return fail(error, *problem);

    ExecutableImage image{header.e_entry, {}};
    for (uint32_t i = 0; i < header.e_phnum; i++) {
        auto ph = read_record<Elf32_Phdr>(file, header.e_phoff + uint64_t{i} * sizeof(Elf32_Phdr));
        switch (ph.p_type) {
        case PT_INTERP: return fail(error, "dynamically linked (has an interpreter)");
        case PT_DYNAMIC: return fail(error, "dynamically linked (has a dynamic section)");
        case PT_TLS: return fail(error, "thread-local storage is not supported");
        case PT_LOAD:
            if (auto problem = check_segment(file, ph)) return fail(error, *problem);
            if (ph.p_memsz == 0) continue;
            image.segments.push_back({ph.p_vaddr, ph.p_memsz, ph.p_offset, ph.p_filesz, protection_of(ph.p_flags)});
            break;
        default: break;  // notes, stack markers and the like carry nothing to load
        }
    }
    if (image.segments.empty()) return fail(error, "nothing to load (no loadable segment)");
    if (auto problem = check_layout(image)) return fail(error, *problem);
    return image;
}

}  // namespace kiv
