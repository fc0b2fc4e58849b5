// The pieces random sequences are made of: a builder that emits
// instructions and follows what they leave undefined, and the templates of
// each instruction class.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <random>
#include <vector>

#include "generator.h"

namespace fidelity {

constexpr uint32_t CF = 0x1, PF = 0x4, AF = 0x10, ZF = 0x40, SF = 0x80, OF = 0x800;
constexpr uint32_t kArithmetic = CF | PF | AF | ZF | SF | OF;
constexpr uint32_t kConditions = CF | PF | ZF | SF | OF;  // what jcc, setcc and cmovcc read
constexpr uint16_t C0 = 0x100, C1 = 0x200, C2 = 0x400, C3 = 0x4000;
constexpr uint16_t kAllConditionCodes = C0 | C1 | C2 | C3;
constexpr uint32_t kX87Registers = 8;
constexpr uint32_t kMostInstructions = 10;

struct Builder {
    std::mt19937_64 random;
    std::vector<uint8_t> code;
    uint32_t undefined = 0;
    uint16_t undefined_fsw = 0;
    uint32_t depth = 0;  // x87 registers in use, as far as the sequence knows
    uint32_t traits = 0;
    uint32_t x87_rounding = 0, x87_precision = 3;  // the control word's fields as the sequence set them

    uint32_t pick(uint32_t count) { return static_cast<uint32_t>(random() % count); }
    bool chance(uint32_t one_in) { return pick(one_in) == 0; }
    void emit(std::initializer_list<uint8_t> bytes) { code.insert(code.end(), bytes); }
    void emit32(uint32_t value) {
        for (int i = 0; i < 4; i++) code.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    // General registers a sequence may change: never EBX (the memory
    // base) nor ESP.
    uint8_t gpr() {
        constexpr uint8_t kFree[] = {0, 1, 2, 5, 6, 7};
        return kFree[pick(std::size(kFree))];
    }
    // Byte registers outside EBX: al, cl, dl, ah, ch, dh.
    uint8_t gpr8() {
        constexpr uint8_t kFree[] = {0, 1, 2, 4, 5, 6};
        return kFree[pick(std::size(kFree))];
    }
    uint8_t any_gpr() { return static_cast<uint8_t>(pick(8)); }
    uint8_t xmm() { return static_cast<uint8_t>(pick(8)); }
    void direct(uint8_t reg, uint8_t rm) { code.push_back(static_cast<uint8_t>(0xc0 | reg << 3 | rm)); }
    // [ebx + disp32] inside the sequence's memory, `align`-aligned, room
    // for 16 bytes.
    void memory(uint8_t reg, uint32_t align = 1) {
        code.push_back(static_cast<uint8_t>(0x83 | reg << 3));
        emit32(pick((FID_MEMORY_BYTES - 16) / align + 1) * align);
    }
    // EFLAGS bits the instruction sets (defined) and leaves undefined.
    void flags(uint32_t defined, uint32_t left_undefined) {
        undefined = (undefined & ~(defined | left_undefined)) | left_undefined;
    }
    void fsw(uint16_t defined, uint16_t left_undefined) {
        undefined_fsw = static_cast<uint16_t>((undefined_fsw & ~(defined | left_undefined)) | left_undefined);
    }
    // The x87 arithmetic's usual effect: C1 says how it rounded.
    void fpu_arithmetic() { fsw(C1, C0 | C2 | C3); }
    uint8_t st() { return static_cast<uint8_t>(depth == 0 ? 0 : pick(depth)); }
    void count_shift(uint32_t count, uint32_t defined_when_shifted, uint32_t undefined_when_shifted) {
        if (count == 0) return;
        flags(defined_when_shifted | (count == 1 ? OF : 0), undefined_when_shifted | (count == 1 ? 0 : OF));
    }
};

using Emit = void (*)(Builder &);

struct Template {
    Emit emit;
    uint32_t reads = 0;      // EFLAGS bits read
    uint16_t reads_fsw = 0;  // x87 condition bits read
    uint32_t needs = 0;      // x87 registers in use needed
    int pushes = 0;          // x87 registers it adds (negative: frees)
};

// The templates of an integer class, and of a floating-point one.
const std::vector<Template> &integer_templates(InstructionClass kind);
const std::vector<Template> &float_templates(InstructionClass kind);

}  // namespace fidelity
