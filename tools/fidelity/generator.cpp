#include "generator.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "builder.h"

namespace fidelity {

namespace {

bool fits(const Builder &b, const Template &t) {
    if ((b.undefined & t.reads) != 0 || (b.undefined_fsw & t.reads_fsw) != 0) return false;
    if (b.depth < t.needs) return false;
    return b.depth + static_cast<uint32_t>(t.pushes > 0 ? t.pushes : 0) <= kX87Registers;
}

// Interesting values: special, small, near one, or any bits.
uint64_t interesting_double(Builder &b) {
    constexpr uint64_t kSpecial[] = {0,
                                     0x8000000000000000,
                                     0x7ff0000000000000,
                                     0xfff0000000000000,
                                     0x7ff8000000000000,
                                     0x7ff4000000000000,
                                     0x0000000000000001,
                                     0x000fffffffffffff,
                                     0x3ff0000000000000,
                                     0x3fe0000000000000,
                                     0x41dfffffffc00000,
                                     0x7fefffffffffffff,
                                     0x4330000000000000,
                                     0x3ff8000000000000,
                                     0xc1e0000000000000,
                                     0x41e0000000000000};
    switch (b.pick(4)) {
    case 0: return kSpecial[b.pick(std::size(kSpecial))];
    case 1: {
        double value = static_cast<double>(static_cast<int32_t>(b.random() % 2001) - 1000) / (1 + b.pick(8));
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }
    case 2: return (b.random() & 0x800fffffffffffffull) | (uint64_t{0x3c0 + b.pick(0x80)} << 52);
    default: return b.random();
    }
}
uint32_t interesting_float(Builder &b) {
    constexpr uint32_t kSpecial[] = {0,          0x80000000, 0x7f800000, 0xff800000, 0x7fc00000,
                                     0x7fa00000, 0x00000001, 0x007fffff, 0x3f800000, 0x3f000000,
                                     0x4f000000, 0xcf000000, 0x7f7fffff, 0x3fc00000};
    switch (b.pick(4)) {
    case 0: return kSpecial[b.pick(std::size(kSpecial))];
    case 1: {
        float value = static_cast<float>(static_cast<int32_t>(b.random() % 2001) - 1000) /
                      static_cast<float>(1 + b.pick(8));
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }
    case 2: return (static_cast<uint32_t>(b.random()) & 0x807fffff) | ((0x70 + b.pick(0x20)) << 23);
    default: return static_cast<uint32_t>(b.random());
    }
}
// 16 bytes of one kind: two doubles, four floats or random bits.
void fill_interesting(Builder &b, uint8_t *bytes) {
    switch (b.pick(3)) {
    case 0:
        for (int i = 0; i < 2; i++) {
            uint64_t value = interesting_double(b);
            std::memcpy(bytes + 8 * i, &value, 8);
        }
        return;
    case 1:
        for (int i = 0; i < 4; i++) {
            uint32_t value = interesting_float(b);
            std::memcpy(bytes + 4 * i, &value, 4);
        }
        return;
    default:
        for (int i = 0; i < 16; i++) bytes[i] = static_cast<uint8_t>(b.random());
    }
}

void emit_entry(Builder &b) {
    b.emit({0x0f, 0xae, 0x15});  // ldmxcsr [input.mxcsr]
    b.emit32(FID_INPUT + offsetof(fid_input, mxcsr));
    for (uint8_t i = 0; i < 8; i++) {
        b.emit({0x0f, 0x10, static_cast<uint8_t>(0x05 | i << 3)});  // movups xmm(i), [input.xmm[i]]
        b.emit32(FID_INPUT + offsetof(fid_input, xmm) + 16u * i);
    }
    b.emit({0xbc});  // mov esp, input.gpr; popal; popfl; mov esp, stack
    b.emit32(FID_INPUT);
    b.emit({0x61, 0x9d, 0xbc});
    b.emit32(FID_STACK_TOP);
}
void emit_exit(Builder &b) {
    b.emit({0xbc});  // mov esp, end of output.gpr; pushal
    b.emit32(FID_OUTPUT + offsetof(fid_output, eflags));
    b.emit({0x60, 0xbc});  // mov esp, after output.eflags; pushfl
    b.emit32(FID_OUTPUT + offsetof(fid_output, signal));
    b.emit({0x9c, 0x0f, 0xae, 0x05});  // fxsave [output.fxsave]
    b.emit32(FID_OUTPUT + offsetof(fid_output, fxsave));
}
// Natively, back into the harness; the emulator stops before it.
void emit_tail(Builder &b) {
    b.emit({0x8b, 0x25});
    b.emit32(FID_SAVED_ESP);
    b.emit({0x61, 0xfc, 0xc3});  // popal; cld; ret
}

void random_inputs(Builder &b, fid_case &bytes) {
    for (uint32_t &value : bytes.input.gpr) value = b.chance(4) ? b.pick(64) : static_cast<uint32_t>(b.random());
    bytes.input.gpr[FID_EBX] = FID_MEMORY;
    bytes.input.gpr[FID_ESP] = 0;
    // The arithmetic flags and DF at random; IF and bit 1 as in user mode.
    bytes.input.eflags = 0x202 | (static_cast<uint32_t>(b.random()) & (kArithmetic | 0x400));
    bytes.input.mxcsr = 0x1f80 | b.pick(4) << 13;
    for (auto &xmm : bytes.input.xmm) fill_interesting(b, xmm);
    for (uint32_t at = 0; at < FID_MEMORY_BYTES; at += 16) fill_interesting(b, bytes.memory + at);
}

}  // namespace

const char *class_name(InstructionClass kind) {
    constexpr const char *kNames[] = {"alu",         "shift",   "muldiv",       "string",
                                      "bcd",         "bitscan", "x87",          "x87-transcendental",
                                      "x87-control", "sse",     "sse2-integer", "conversion"};
    static_assert(std::size(kNames) == kClasses);
    return kNames[static_cast<int>(kind)];
}

namespace {

// The code page around a sequence: stubs, and where the emulator stops.
void place_sequence(Case &result, Builder &b, const std::vector<uint8_t> &sequence) {
    emit_entry(b);
    b.code.insert(b.code.end(), sequence.begin(), sequence.end());
    emit_exit(b);
    result.stop_address = FID_CODE_PAGE + static_cast<uint32_t>(b.code.size());
    emit_tail(b);
    std::memcpy(result.bytes.code, b.code.data(), b.code.size());
    result.bytes.code_bytes = static_cast<uint32_t>(b.code.size());
    result.sequence = sequence;
}

}  // namespace

std::optional<Case> case_of(const std::string &hex) {
    std::vector<uint8_t> sequence;
    for (size_t at = 0; at < hex.size();) {
        if (hex[at] == ' ') {
            at++;
            continue;
        }
        unsigned byte;
        if (at + 2 > hex.size() || std::sscanf(hex.c_str() + at, "%2x", &byte) != 1) return std::nullopt;
        sequence.push_back(static_cast<uint8_t>(byte));
        at += 2;
    }
    if (sequence.size() > FID_CODE_BYTES / 2) return std::nullopt;
    Case result{};
    result.kind = InstructionClass::X87;
    result.bytes.input.gpr[FID_EBX] = FID_MEMORY;
    result.bytes.input.eflags = 0x202;
    result.bytes.input.mxcsr = 0x1f80;
    Builder b;
    place_sequence(result, b, sequence);
    return result;
}

Case generate_case(uint64_t seed, uint64_t index) {
    Builder b;
    b.random.seed(seed * 0x9e3779b97f4a7c15ull + index);
    Case result{};
    result.kind = static_cast<InstructionClass>(index % kClasses);
    random_inputs(b, result.bytes);
    Builder code;
    const auto &templates = result.kind < InstructionClass::X87 ? integer_templates(result.kind)
                                                                : float_templates(result.kind);
    uint32_t instructions = 1 + b.pick(kMostInstructions);
    for (uint32_t placed = 0, tries = 0; placed < instructions && tries < 100; tries++) {
        const Template &chosen = templates[b.pick(static_cast<uint32_t>(templates.size()))];
        if (!fits(b, chosen)) continue;
        chosen.emit(b);
        placed++;
    }
    place_sequence(result, code, b.code);
    result.undefined_eflags = b.undefined;
    result.undefined_fsw = b.undefined_fsw;
    result.traits = b.traits;
    return result;
}

std::string hex_bytes(const std::vector<uint8_t> &bytes) {
    std::string text;
    char pair[4];
    for (uint8_t byte : bytes) {
        snprintf(pair, sizeof pair, "%02x ", byte);
        text += pair;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace fidelity
