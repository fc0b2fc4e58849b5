// Random instruction sequences by instruction class, with random inputs, as
// cases for both sides of the differential test. Each sequence knows which
// EFLAGS and x87 condition bits the architecture leaves undefined at its
// end: those are not compared.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "fidelity_layout.h"

namespace fidelity {

enum class InstructionClass {
    Alu,
    Shift,
    MulDiv,
    String,
    Bcd,
    BitScan,
    X87,
    X87Transcendental,
    X87Control,
    Sse,
    Sse2Integer,
    Conversion,
    kCount
};
inline constexpr int kClasses = static_cast<int>(InstructionClass::kCount);
const char *class_name(InstructionClass kind);

// What a sequence holds that the emulator is known to compute differently.
enum Trait : uint32_t {
    kApproximation = 1,            // rcpps, rcpss, rsqrtps, rsqrtss
    kTranscendental = 2,           // f2xm1, fyl2x, fyl2xp1, fptan, fpatan, fsin, fcos, fsincos
    kPartialRemainder = 4,         // fprem, fprem1
    kExtract = 8,                  // fxtract
    kPackedBcdStore = 16,          // fbstp
    kComparesIntoEflags = 32,      // fcomi, fucomi
    kStatusToAx = 64,              // fnstsw ax
    kFlushToZero = 128,            // MXCSR with FZ or DAZ
    kRoundedConstant = 256,        // fldpi, fldl2e, fldl2t, fldlg2, fldln2 rounding other than to nearest
    kReducedPrecisionScale = 512,  // fscale, frndint under precision control other than 64 bits
    kScale = 1024,                 // fscale
    kExtendedLoad = 2048,          // fld m80
};

struct Case {
    InstructionClass kind;
    fid_case bytes;
    uint32_t stop_address;          // the exit stub's end: the emulator stops there
    uint32_t undefined_eflags;      // left undefined by the sequence
    uint16_t undefined_fsw;         // x87 condition bits left undefined
    uint32_t traits;                // Trait bits
    std::vector<uint8_t> sequence;  // the instructions under test alone
};

// The case number `index` of the run seeded with `seed`: the same whatever
// else is generated.
Case generate_case(uint64_t seed, uint64_t index);

// A case of the given instructions (hex bytes, "d9 eb d9 fc"), with EBX at
// the memory, every other register, XMM and the memory zero, MXCSR and the
// x87 as a process starts: a reproducer. Nothing when the text is not hex.
std::optional<Case> case_of(const std::string &hex);

// The sequence as hex bytes, for a reproducer.
std::string hex_bytes(const std::vector<uint8_t> &bytes);

}  // namespace fidelity
