// The system-call trace on any registers and guest memory: every call of the
// table is shown as one line, with its arguments decoded from a few fake
// mappings (adjacent ones of different protections, an unreadable one, the
// last user page and one above the user range) filled with the input.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "dispatch/trace.h"
#include "fuzz_check.h"
#include "machine/cpu.h"
#include "machine/guest_memory.h"
#include "os/syscalls.h"

namespace {

using namespace kiv;

struct FakeMapping {
    uint32_t start;
    uint32_t size;
    uint32_t access;
};
constexpr FakeMapping kMappings[] = {
    {0x10000, 2 * kPageSize, kAccessRead | kAccessWrite},
    {0x12000, kPageSize, kAccessRead},
    {0x14000, kPageSize, kAccessWrite},
    {kUserEnd - kPageSize, kPageSize, kAccessRead | kAccessWrite},
    {kUserEnd, kPageSize, kAccessRead},
};
// Pointers land a little before or after their mapping too.
constexpr uint32_t kPointerSlack = 64;
constexpr uint32_t kMaxNumber = 256;

// The input's head; the rest fills every mapping from its start and from its
// end (texts and records that cross a mapping's end).
struct Head {
    uint32_t number;
    uint32_t args[6];
    // Per argument: index + 1 of the mapping it points into (relative), or
    // any other value for the word as it is.
    uint8_t targets[6];
    uint8_t error;
    uint8_t flags;  // bit 0: the call ends the process; bit 1: it was injected
    int32_t value;
};

static_assert(sizeof(Head) == 40);

struct FakeGuest {
    Cpu cpu;
    GuestMemory memory{cpu.engine()};

    FakeGuest() {
        for (const auto &mapping : kMappings)
            kiv::fuzz::require(memory.map(mapping.start, mapping.size, mapping.access));
    }

    void fill(std::span<const uint8_t> bytes) {
        for (const auto &mapping : kMappings) {
            std::vector<uint8_t> zeros(mapping.size);
            memory.poke(mapping.start, zeros.data(), mapping.size);
            uint32_t length = static_cast<uint32_t>(std::min<size_t>(bytes.size(), mapping.size));
            memory.poke(mapping.start, bytes.data(), length);
            memory.poke(mapping.start + mapping.size - length, bytes.data(), length);
        }
    }
};

SyscallArgs arguments_of(const Head &head) {
    SyscallArgs args;
    for (size_t i = 0; i < args.size(); i++) {
        uint32_t word = head.args[i];
        size_t target = head.targets[i] - 1u;
        if (target < std::size(kMappings)) {
            const auto &mapping = kMappings[target];
            word = mapping.start - kPointerSlack + word % (mapping.size + 2 * kPointerSlack);
        }
        args[i] = word;
    }
    return args;
}

// Every line the trace wrote; a line broken by a byte of the guest's shows
// as one line too many.
std::vector<std::string> traced_lines(const std::string &output) {
    std::vector<std::string> lines;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FakeGuest guest;
    Head head{};
    std::span input(data, size);
    std::memcpy(&head, data, std::min(size, sizeof head));
    guest.fill(input.subspan(std::min(size, sizeof head)));

    SyscallArgs args = arguments_of(head);
    SyscallResult result{head.value, head.error, (head.flags & 1) != 0};
    // The trace writes to a descriptor.
    static FILE *out = tmpfile();
    kiv::fuzz::require(out != nullptr && ftruncate(fileno(out), 0) == 0 && lseek(fileno(out), 0, SEEK_SET) == 0);
    Trace trace(out, TraceSettings{});
    std::vector<std::string> names;
    for (uint32_t number = 0; number < kMaxNumber; number++) {
        if (const SyscallEntry *entry = find_syscall(number)) {
            trace.call(*entry, args, result, guest.memory, (head.flags & 2) != 0, 0.0);
            names.push_back(std::string(entry->name) + "(");
        }
    }
    trace.unknown_call({head.number, args}, 0.0);
    names.push_back("syscall_");
    std::string output(static_cast<size_t>(lseek(fileno(out), 0, SEEK_END)), '\0');
    kiv::fuzz::require(pread(fileno(out), output.data(), output.size(), 0) == static_cast<ssize_t>(output.size()));

    auto lines = traced_lines(output);
    kiv::fuzz::require(lines.size() == names.size());
    for (size_t i = 0; i < lines.size(); i++) kiv::fuzz::require(lines[i].starts_with(names[i]));
    return 0;
}
