// The gdb stub without a program or a socket: a made-up target whose state
// a test can set and inspect, and a channel that hands the stub bytes from
// memory and keeps what it sends. The packet tests and the gdb fuzz target
// share them.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "debug/gdb_packet.h"
#include "debug/gdb_stub.h"

namespace kiv::test {

// The input in pieces of varying size, as a socket hands them over; the
// first byte of each piece decides its size.
class MemoryChannel final : public gdb::Channel {
public:
    // Keeps its own copy: a test may hand over a temporary.
    explicit MemoryChannel(std::string_view input) : input_(input), rest_(input_) {}
    MemoryChannel(const MemoryChannel &) = delete;
    MemoryChannel &operator=(const MemoryChannel &) = delete;

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
    std::string input_;
    std::string_view rest_;
    std::string sent_;
};

// A program of 32 ten-byte registers and 8 KiB of memory at kMemoryStart.
// It stops as `planned` says, then in turn for each reason a real one has,
// and exits after a few resumptions.
class FakeTarget final : public DebugTarget {
public:
    static constexpr uint32_t kMemoryStart = 0x400000;
    static constexpr size_t kMemorySize = 0x2000;
    static constexpr size_t kRegisters = 32;
    static constexpr size_t kRegisterBytes = 10;
    static constexpr uint32_t kResumesBeforeExit = 16;

    using Watchpoint = std::tuple<WatchKind, uint32_t, uint32_t>;

    bool read_register(uint32_t number, std::span<uint8_t> out) override {
        if (number >= kRegisters || out.size() > kRegisterBytes) return false;
        std::copy_n(registers[number].begin(), out.size(), out.begin());
        return true;
    }
    bool write_register(uint32_t number, std::span<const uint8_t> value) override {
        if (number >= kRegisters || value.size() > kRegisterBytes) return false;
        std::copy(value.begin(), value.end(), registers[number].begin());
        return true;
    }
    bool read_memory(uint32_t address, std::span<uint8_t> out) override {
        if (!inside(address, out.size())) return false;
        std::copy_n(memory.begin() + (address - kMemoryStart), out.size(), out.begin());
        return true;
    }
    bool write_memory(uint32_t address, std::span<const uint8_t> data) override {
        if (!inside(address, data.size())) return false;
        std::copy(data.begin(), data.end(), memory.begin() + (address - kMemoryStart));
        return true;
    }
    bool add_breakpoint(BreakKind kind, uint32_t address) override {
        return breakpoints.insert({kind, address}).second;
    }
    bool remove_breakpoint(BreakKind kind, uint32_t address) override {
        return breakpoints.erase({kind, address}) != 0;
    }
    bool add_watchpoint(WatchKind kind, uint32_t address, uint32_t length) override {
        return length != 0 && inside(address, length) && watchpoints.insert({kind, address, length}).second;
    }
    bool remove_watchpoint(WatchKind kind, uint32_t address, uint32_t length) override {
        return watchpoints.erase({kind, address, length}) != 0;
    }

    DebugStop resume(bool step) override {
        using Kind = DebugStop::Kind;
        constexpr Kind kTurns[] = {Kind::Breakpoint, Kind::Watchpoint, Kind::Interrupted, Kind::Fault, Kind::Step};
        steps.push_back(step);
        if (!planned.empty()) {
            DebugStop stop = planned.front();
            planned.pop_front();
            return stop;
        }
        Kind kind = step ? Kind::Step : kTurns[resumed_ % std::size(kTurns)];
        if (++resumed_ > kResumesBeforeExit) return {Kind::Exited, 0, static_cast<int32_t>(resumed_)};
        return {kind, 11, 0, BreakKind::Hardware, WatchKind::Access, kMemoryStart + resumed_};
    }
    bool reversible() const override { return has_history; }
    // The next planned stop, else one step back or back to the start.
    DebugStop reverse(bool step) override {
        reversals.push_back(step);
        if (!planned.empty()) {
            DebugStop stop = planned.front();
            planned.pop_front();
            return stop;
        }
        return {step ? DebugStop::Kind::Step : DebugStop::Kind::HistoryStart};
    }
    void interrupt() override {}
    void abandon() override {}

    std::array<std::array<uint8_t, kRegisterBytes>, kRegisters> registers{};
    std::array<uint8_t, kMemorySize> memory{};
    std::set<std::pair<BreakKind, uint32_t>> breakpoints;
    std::set<Watchpoint> watchpoints;
    std::deque<DebugStop> planned;  // the next stops, before the turns
    std::vector<bool> steps;        // each resumption: whether it was one step
    bool has_history = false;       // it can run backwards
    std::vector<bool> reversals;    // each run back: whether it was one step

private:
    static bool inside(uint32_t address, uint64_t length) {
        return address >= kMemoryStart && address - kMemoryStart + length <= kMemorySize;
    }

    uint32_t resumed_ = 0;
};

}  // namespace kiv::test
