// The gdb stub's packet layer on any bytes from the peer, with a fake target
// and no socket: every session ends, and everything the stub sends is an
// acknowledgement or a well-framed packet no longer than it announces.
#include <algorithm>
#include <array>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "debug/gdb_packet.h"
#include "debug/gdb_stub.h"
#include "support/hex.h"

namespace {

using namespace kiv;

constexpr uint32_t kMemoryStart = 0x400000;
constexpr size_t kMemorySize = 0x2000;
constexpr size_t kRegisters = 32;
constexpr size_t kRegisterBytes = 10;

// The input in pieces of varying size, as a socket hands them over.
class InputChannel final : public gdb::Channel {
public:
    explicit InputChannel(std::string_view input) : rest_(input) {}

    size_t receive(std::span<char> buffer) override {
        if (rest_.empty()) return 0;
        size_t piece = std::min({buffer.size(), rest_.size(), size_t{1} + static_cast<uint8_t>(rest_[0]) % 64});
        std::copy_n(rest_.begin(), piece, buffer.begin());
        rest_.remove_prefix(piece);
        return piece;
    }
    void send(std::string_view bytes) override { sent_ += bytes; }
    bool given_up() override { return false; }
    int descriptor() const override { return -1; }

    const std::string &sent() const { return sent_; }

private:
    std::string_view rest_;
    std::string sent_;
};

// A program that stops in turn for each reason a real one has, and exits
// after a few resumptions.
class FakeTarget final : public DebugTarget {
public:
    bool read_register(uint32_t number, std::span<uint8_t> out) override {
        if (number >= kRegisters || out.size() > kRegisterBytes) return false;
        std::copy_n(registers_[number].begin(), out.size(), out.begin());
        return true;
    }
    bool write_register(uint32_t number, std::span<const uint8_t> value) override {
        if (number >= kRegisters || value.size() > kRegisterBytes) return false;
        std::copy(value.begin(), value.end(), registers_[number].begin());
        return true;
    }
    bool read_memory(uint32_t address, std::span<uint8_t> out) override {
        if (!inside(address, out.size())) return false;
        std::copy_n(memory_.begin() + (address - kMemoryStart), out.size(), out.begin());
        return true;
    }
    bool write_memory(uint32_t address, std::span<const uint8_t> data) override {
        if (!inside(address, data.size())) return false;
        std::copy(data.begin(), data.end(), memory_.begin() + (address - kMemoryStart));
        return true;
    }
    bool add_breakpoint(BreakKind kind, uint32_t address) override { return points_.insert({kind, address}).second; }
    bool remove_breakpoint(BreakKind kind, uint32_t address) override { return points_.erase({kind, address}) != 0; }
    bool add_watchpoint(WatchKind, uint32_t address, uint32_t length) override {
        return length != 0 && inside(address, length);
    }
    bool remove_watchpoint(WatchKind, uint32_t, uint32_t) override { return true; }

    DebugStop resume(bool step) override {
        using Kind = DebugStop::Kind;
        constexpr Kind kTurns[] = {Kind::Breakpoint, Kind::Watchpoint, Kind::Interrupted, Kind::Fault, Kind::Step};
        Kind kind = step ? Kind::Step : kTurns[resumed_ % std::size(kTurns)];
        if (++resumed_ > kResumesBeforeExit) return {Kind::Exited, 0, static_cast<int32_t>(resumed_)};
        return {kind, 11, 0, BreakKind::Hardware, WatchKind::Access, kMemoryStart + static_cast<uint32_t>(resumed_)};
    }
    void interrupt() override {}
    void abandon() override {}

private:
    static constexpr uint32_t kResumesBeforeExit = 16;
    static bool inside(uint32_t address, uint64_t length) {
        return address >= kMemoryStart && address - kMemoryStart + length <= kMemorySize;
    }

    std::array<std::array<uint8_t, kRegisterBytes>, kRegisters> registers_{};
    std::array<uint8_t, kMemorySize> memory_{};
    std::set<std::pair<BreakKind, uint32_t>> points_;
    uint32_t resumed_ = 0;
};

// '+', '-' or $payload#checksum, each packet within the announced size.
bool well_framed(std::string_view sent) {
    while (!sent.empty()) {
        if (sent[0] == '+' || sent[0] == '-') {
            sent.remove_prefix(1);
            continue;
        }
        size_t end = sent.find('#');
        if (sent[0] != '$' || end == std::string_view::npos || sent.size() < end + 3) return false;
        uint8_t sum = 0;
        for (char c : sent.substr(1, end - 1)) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
        if (sent.substr(end + 1, 2) != hex_byte(sum) || end - 1 > gdb::kMaxPacket) return false;
        sent.remove_prefix(end + 3);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    InputChannel channel(std::string_view(reinterpret_cast<const char *>(data), size));
    FakeTarget target;
    serve_gdb(channel, target);
    kiv::fuzz::require(well_framed(channel.sent()));
    return 0;
}
