#include "compare.h"

#include <cstdio>
#include <cstring>

namespace fidelity {

namespace {

constexpr const char *kGprNames[FID_GPRS] = {"edi", "esi", "ebp", "esp", "ebx", "edx", "ecx", "eax"};
// fxsave's layout.
constexpr size_t kFcw = 0, kFsw = 2, kFtw = 4, kMxcsr = 24, kSt0 = 32, kXmm0 = 160, kRegisterSlot = 16;
constexpr size_t kX87Bytes = 10;
// The arithmetic flags, TF, IF, DF, AC and ID: what pushf shows a program
// (a fault's record also has RF, which pushf never shows).
constexpr uint32_t kComparedEflags = 0x00240fd5;

uint16_t word_at(const uint8_t *bytes, size_t at) {
    uint16_t value;
    std::memcpy(&value, bytes + at, sizeof value);
    return value;
}

void compare_x87(const Case &test, const uint8_t *native, const uint8_t *emulated, std::vector<std::string> &fields) {
    if (word_at(native, kFcw) != word_at(emulated, kFcw)) fields.push_back("fcw");
    if ((word_at(native, kFsw) ^ word_at(emulated, kFsw)) & ~test.undefined_fsw) fields.push_back("fsw");
    if (native[kFtw] != emulated[kFtw]) fields.push_back("ftw");
    // Only registers in use: an emptied one keeps whatever it held.
    uint32_t top = word_at(native, kFsw) >> 11 & 7;
    for (uint32_t i = 0; i < 8; i++) {
        bool in_use = (native[kFtw] >> ((top + i) & 7) & 1) != 0;
        if (in_use &&
            std::memcmp(native + kSt0 + kRegisterSlot * i, emulated + kSt0 + kRegisterSlot * i, kX87Bytes) != 0)
            fields.push_back("st" + std::to_string(i));
    }
}

void compare_sse(const uint8_t *native, const uint8_t *emulated, std::vector<std::string> &fields) {
    if (std::memcmp(native + kMxcsr, emulated + kMxcsr, 4) != 0) fields.push_back("mxcsr");
    for (size_t i = 0; i < 8; i++)
        if (std::memcmp(native + kXmm0 + kRegisterSlot * i, emulated + kXmm0 + kRegisterSlot * i, kRegisterSlot) != 0)
            fields.push_back("xmm" + std::to_string(i));
}

}  // namespace

std::vector<std::string> differing_fields(const Case &test, const fid_result &native, const fid_result &emulated) {
    std::vector<std::string> fields;
    const fid_output &n = native.output, &e = emulated.output;
    if (n.signal != e.signal || (n.signal != 0 && n.fault_eip != e.fault_eip)) fields.push_back("fault");
    for (int i = 0; i < FID_GPRS; i++)
        if (n.gpr[i] != e.gpr[i]) fields.push_back(kGprNames[i]);
    if ((n.eflags ^ e.eflags) & kComparedEflags & ~test.undefined_eflags) fields.push_back("eflags");
    if (n.signal == 0 && e.signal == 0) {
        compare_x87(test, n.fxsave, e.fxsave, fields);
        compare_sse(n.fxsave, e.fxsave, fields);
    }
    if (std::memcmp(native.memory, emulated.memory, FID_MEMORY_BYTES) != 0) fields.push_back("memory");
    return fields;
}

namespace {

std::string hex(const uint8_t *bytes, size_t length) {
    std::string text;
    char pair[3];
    for (size_t i = length; i-- > 0;) {
        snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

// The field's bytes in one result, most significant first.
std::string field_value(const std::string &field, const fid_result &result) {
    const fid_output &out = result.output;
    for (int i = 0; i < FID_GPRS; i++)
        if (field == kGprNames[i]) return hex(reinterpret_cast<const uint8_t *>(&out.gpr[i]), 4);
    if (field == "eflags") return hex(reinterpret_cast<const uint8_t *>(&out.eflags), 4);
    if (field == "fault")
        return std::to_string(out.signal) + "@" + hex(reinterpret_cast<const uint8_t *>(&out.fault_eip), 4);
    if (field == "fcw") return hex(out.fxsave + kFcw, 2);
    if (field == "fsw") return hex(out.fxsave + kFsw, 2);
    if (field == "ftw") return hex(out.fxsave + kFtw, 1);
    if (field == "mxcsr") return hex(out.fxsave + kMxcsr, 4);
    if (field.starts_with("st")) return hex(out.fxsave + kSt0 + kRegisterSlot * std::stoul(field.substr(2)), kX87Bytes);
    if (field.starts_with("xmm"))
        return hex(out.fxsave + kXmm0 + kRegisterSlot * std::stoul(field.substr(3)), kRegisterSlot);
    if (field == "memory") return hex(result.memory, FID_MEMORY_BYTES);
    return "...";
}

}  // namespace

std::string field_values(const std::vector<std::string> &fields, const fid_result &native, const fid_result &emulated) {
    std::string text;
    for (const std::string &field : fields)
        text += " " + field + " native " + field_value(field, native) + " kivrun " + field_value(field, emulated);
    return text;
}

namespace {

constexpr uint16_t kX87ExceptionFlags = 0x3f, kX87StackFault = 0x40, kX87RoundedUp = 0x200;
constexpr uint32_t kSseExceptionFlags = 0x3f;

uint32_t differing_bits(size_t at, size_t bytes, const fid_result &native, const fid_result &emulated) {
    uint32_t n = 0, e = 0;
    std::memcpy(&n, native.output.fxsave + at, bytes);
    std::memcpy(&e, emulated.output.fxsave + at, bytes);
    return n ^ e;
}

// A signalling NaN loaded from a float or double stays signalling: the
// emulator's value lacks the quiet bit the CPU sets, in a register or
// stored back to memory (bit 62 of the x87 significand; bit 51 of a double
// and bit 22 of a float in memory).
bool unquieted_nan(const fid_result &native, const fid_result &emulated, const std::string &field) {
    constexpr uint8_t kX87QuietBit = 0x40, kDoubleQuietBit = 0x08, kFloatQuietBit = 0x40;
    constexpr size_t kX87QuietByte = 7;
    if (field.starts_with("st")) {
        size_t at = kSt0 + kRegisterSlot * std::stoul(field.substr(2));
        for (size_t i = 0; i < kX87Bytes; i++) {
            uint8_t differs = native.output.fxsave[at + i] ^ emulated.output.fxsave[at + i];
            if (differs != (i == kX87QuietByte ? kX87QuietBit : 0)) return false;
        }
        return (native.output.fxsave[at + kX87QuietByte] & kX87QuietBit) != 0;
    }
    if (field != "memory") return false;
    for (size_t i = 0; i < FID_MEMORY_BYTES; i++) {
        uint8_t differs = native.memory[i] ^ emulated.memory[i];
        if (differs != 0 &&
            ((differs != kDoubleQuietBit && differs != kFloatQuietBit) || (native.memory[i] & differs) == 0))
            return false;
    }
    return true;
}

// Every lane that differs holds a NaN on both sides, as floats or as
// doubles: of two NaN operands the CPU returns the first, the emulator
// follows the x87's rule (the larger significand).
template <typename Bits, int kExponentBits> bool lanes_are_nans(const uint8_t *native, const uint8_t *emulated) {
    constexpr int kSignificandBits = static_cast<int>(8 * sizeof(Bits)) - 1 - kExponentBits;
    constexpr Bits kExponent = ((Bits{1} << kExponentBits) - 1) << kSignificandBits;
    constexpr Bits kSignificand = (Bits{1} << kSignificandBits) - 1;
    auto is_nan = [](Bits value) { return (value & kExponent) == kExponent && (value & kSignificand) != 0; };
    for (size_t at = 0; at < kRegisterSlot; at += sizeof(Bits)) {
        Bits n, e;
        std::memcpy(&n, native + at, sizeof n);
        std::memcpy(&e, emulated + at, sizeof e);
        if (n != e && (!is_nan(n) || !is_nan(e))) return false;
    }
    return true;
}

bool nan_operand_choice(const fid_result &native, const fid_result &emulated, const std::string &field) {
    if (!field.starts_with("xmm")) return false;
    size_t at = kXmm0 + kRegisterSlot * std::stoul(field.substr(3));
    return lanes_are_nans<uint32_t, 8>(native.output.fxsave + at, emulated.output.fxsave + at) ||
           lanes_are_nans<uint64_t, 11>(native.output.fxsave + at, emulated.output.fxsave + at);
}

bool trait_explains_values(const Case &test, uint32_t traits, const std::string &field) {
    return (test.traits & traits) != 0 && field != "fault";
}

// The differences that stay inside the emulator (docs/kernel.md lists
// each with a reproducer); each explains some fields of some cases. Those
// named after a trait explain every value such a sequence computes after it.
struct KnownDifference {
    const char *name;
    uint32_t traits;  // of the sequences it explains, or 0
    bool (*explains)(const Case &test, const fid_result &native, const fid_result &emulated, const std::string &field);
};

const KnownDifference kKnownDifferences[] = {
    // The x87 status word's exception flags, stack fault and round-up bit,
    // also as fnstsw stores them in AX.
    {"x87-exception-flags", 0,
     [](const Case &test, const fid_result &native, const fid_result &emulated, const std::string &field) {
         uint32_t ignored = kX87ExceptionFlags | kX87StackFault | kX87RoundedUp | test.undefined_fsw;
         if (field == "eax" && (test.traits & kStatusToAx) != 0)
             return ((native.output.gpr[FID_EAX] ^ emulated.output.gpr[FID_EAX]) & ~ignored) == 0;
         return field == "fsw" && (differing_bits(kFsw, 2, native, emulated) & ~ignored) == 0;
     }},
    // MXCSR's exception flags.
    {"sse-exception-flags", 0,
     [](const Case &, const fid_result &native, const fid_result &emulated, const std::string &field) {
         return field == "mxcsr" && (differing_bits(kMxcsr, 4, native, emulated) & ~kSseExceptionFlags) == 0;
     }},
    // fcomi and fucomi leave OF, SF and AF as they were instead of clearing them.
    {"fcomi-eflags", 0,
     [](const Case &test, const fid_result &native, const fid_result &emulated, const std::string &field) {
         constexpr uint32_t kLeft = 0x800 | 0x80 | 0x10;
         return field == "eflags" && (test.traits & kComparesIntoEflags) != 0 &&
                ((native.output.eflags ^ emulated.output.eflags) & ~kLeft) == 0;
     }},
    {"x87-signalling-nan-load", 0,
     [](const Case &, const fid_result &native, const fid_result &emulated, const std::string &field) {
         return unquieted_nan(native, emulated, field);
     }},
    {"sse-nan-operand-choice", 0,
     [](const Case &, const fid_result &native, const fid_result &emulated, const std::string &field) {
         return nan_operand_choice(native, emulated, field);
     }},
    {"sse-approximation", kApproximation, nullptr},
    {"sse-flush-to-zero", kFlushToZero, nullptr},
    {"x87-transcendental-precision", kTranscendental, nullptr},
    {"x87-partial-remainder", kPartialRemainder, nullptr},
    {"x87-fxtract-special", kExtract, nullptr},
    {"x87-fbstp-out-of-range", kPackedBcdStore, nullptr},
    {"x87-constant-rounding", kRoundedConstant, nullptr},
    {"x87-precision-control-scope", kReducedPrecisionScale, nullptr},
    {"x87-fscale-special", kScale, nullptr},
    {"x87-unsupported-format", kExtendedLoad, nullptr},
};

bool explains(const KnownDifference &known, const Case &test, const fid_result &native, const fid_result &emulated,
              const std::string &field) {
    if (known.explains != nullptr) return known.explains(test, native, emulated, field);
    return trait_explains_values(test, known.traits, field);
}

}  // namespace

const char *known_difference(const Case &test, const fid_result &native, const fid_result &emulated,
                             const std::vector<std::string> &fields) {
    const char *named = nullptr;
    for (const std::string &field : fields) {
        const KnownDifference *found = nullptr;
        for (const KnownDifference &known : kKnownDifferences)
            if (found == nullptr && explains(known, test, native, emulated, field)) found = &known;
        if (found == nullptr) return nullptr;
        if (named == nullptr) named = found->name;
    }
    return named;
}

}  // namespace fidelity
