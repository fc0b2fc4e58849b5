// Integer templates: ALU and flags, shifts and rotates, multiply and
// divide, string instructions, decimal adjustments, bit scans and tests.
#include "builder.h"

namespace fidelity {

namespace {

// Integer ALU: the eight two-operand operations (add, or, adc, sbb, and,
// sub, xor, cmp) in every form, and friends. The logical ones leave AF
// undefined.
bool logical(uint32_t op) { return op == 1 || op == 4 || op == 6; }
void alu_effect(Builder &b, uint32_t op) {
    b.flags(logical(op) ? kArithmetic & ~AF : kArithmetic, logical(op) ? AF : 0);
}

uint32_t alu_op(Builder &b, uint32_t reads_carry) {
    // adc and sbb read CF: chosen only by the templates that may read it.
    uint32_t op;
    do op = b.pick(8);
    while (!reads_carry && (op == 2 || op == 3));
    return op;
}

template <bool kCarry> void alu_register(Builder &b) {
    uint32_t op = alu_op(b, kCarry);
    uint32_t width = b.pick(3);
    if (width == 1) b.emit({0x66});
    b.emit({static_cast<uint8_t>(op << 3 | (width == 0 ? 0 : 1))});
    if (width == 0) b.direct(b.any_gpr(), b.gpr8());
    else b.direct(b.any_gpr(), b.gpr());
    alu_effect(b, op);
}
template <bool kCarry> void alu_immediate(Builder &b) {
    uint32_t op = alu_op(b, kCarry);
    bool byte = b.chance(2);
    b.emit({static_cast<uint8_t>(byte ? 0x83 : 0x81)});
    b.direct(static_cast<uint8_t>(op), b.gpr());
    if (byte) b.emit({static_cast<uint8_t>(b.random())});
    else b.emit32(static_cast<uint32_t>(b.random()));
    alu_effect(b, op);
}
template <bool kCarry> void alu_memory(Builder &b) {
    uint32_t op = alu_op(b, kCarry);
    bool to_memory = b.chance(2);
    b.emit({static_cast<uint8_t>(op << 3 | (to_memory ? 1 : 3))});
    b.memory(b.gpr());
    alu_effect(b, op);
}
void inc_dec(Builder &b) {
    b.emit({static_cast<uint8_t>(0x40 | b.pick(2) << 3 | b.gpr())});
    b.flags(kArithmetic & ~CF, 0);
}
void neg_not(Builder &b) {
    bool negate = b.chance(2);
    b.emit({0xf7});
    b.direct(negate ? 3 : 2, b.gpr());
    if (negate) b.flags(kArithmetic, 0);
}
void test_registers(Builder &b) {
    b.emit({0x85});
    b.direct(b.any_gpr(), b.any_gpr());
    b.flags(kArithmetic & ~AF, AF);
}
void set_condition(Builder &b) {
    b.emit({0x0f, static_cast<uint8_t>(0x90 | b.pick(16))});
    b.direct(0, b.gpr8());
}
void move_condition(Builder &b) {
    b.emit({0x0f, static_cast<uint8_t>(0x40 | b.pick(16))});
    b.direct(b.gpr(), b.any_gpr());
}
void exchange_add(Builder &b) {
    bool compare = b.chance(2);  // cmpxchg, else xadd
    b.emit({0x0f, static_cast<uint8_t>(compare ? 0xb1 : 0xc1)});
    b.direct(b.gpr(), b.gpr());
    b.flags(kArithmetic, 0);
}
void byte_swap_extend(Builder &b) {
    constexpr uint8_t kExtend[] = {0xb6, 0xb7, 0xbe, 0xbf};
    if (b.chance(3)) {
        b.emit({0x0f, static_cast<uint8_t>(0xc8 | b.gpr())});
        return;
    }
    b.emit({0x0f, kExtend[b.pick(4)]});
    b.direct(b.gpr(), b.gpr8() & 3);
}

// Shifts and rotates of 32 bits by an immediate, one or CL.
void shift(Builder &b) {
    uint32_t op = b.pick(8);
    if (op == 6) op = 4;  // sal is shl
    uint32_t form = b.pick(3), count = b.pick(32);
    if (form == 1) count = 1;
    if (form == 2) b.emit({0xb1, static_cast<uint8_t>(count | b.pick(8) << 5)});  // mov cl, count (+ bits above 31)
    b.emit({form == 0 ? uint8_t{0xc1} : form == 1 ? uint8_t{0xd1} : uint8_t{0xd3}});
    b.direct(static_cast<uint8_t>(op), b.gpr());
    if (form == 0) b.emit({static_cast<uint8_t>(count)});
    bool rotate = op < 4;
    b.count_shift(count & 31, rotate ? CF : CF | SF | ZF | PF, rotate ? 0 : AF);
}
void rotate_carry(Builder &b) {
    uint32_t count = b.pick(32);
    b.emit({0xc1});
    b.direct(static_cast<uint8_t>(2 + b.pick(2)), b.gpr());
    b.emit({static_cast<uint8_t>(count)});
    b.count_shift(count, CF, 0);
}
void double_shift(Builder &b) {
    uint32_t count = b.pick(32);
    b.emit({0x0f, static_cast<uint8_t>(b.chance(2) ? 0xa4 : 0xac)});
    b.direct(b.any_gpr(), b.gpr());
    b.emit({static_cast<uint8_t>(count)});
    b.count_shift(count, CF | SF | ZF | PF, AF);
}

// Multiply and divide; a divide sometimes gets a fitting EDX first, and
// otherwise often faults (#DE).
void multiply(Builder &b) {
    switch (b.pick(4)) {
    case 0:
        b.emit({0xf7});
        b.direct(static_cast<uint8_t>(4 + b.pick(2)), b.any_gpr());
        break;
    case 1:
        b.emit({0x0f, 0xaf});
        b.direct(b.gpr(), b.any_gpr());
        break;
    case 2:
        b.emit({0x6b});
        b.direct(b.gpr(), b.any_gpr());
        b.emit({static_cast<uint8_t>(b.random())});
        break;
    default:
        b.emit({0xf6});
        b.direct(static_cast<uint8_t>(4 + b.pick(2)), b.gpr8());
        break;
    }
    b.flags(CF | OF, SF | ZF | AF | PF);
}
void divide(Builder &b) {
    bool is_signed = b.chance(2), wide = !b.chance(4);
    if (wide && !b.chance(3))
        b.emit(is_signed ? std::initializer_list<uint8_t>{0x99} : std::initializer_list<uint8_t>{0x31, 0xd2});
    b.emit({static_cast<uint8_t>(wide ? 0xf7 : 0xf6)});
    b.direct(static_cast<uint8_t>(is_signed ? 7 : 6), wide ? b.any_gpr() : b.gpr8());
    b.flags(0, kArithmetic);
}

// String instructions in both directions, a few elements from the middle
// of the sequence's memory.
void string_operation(Builder &b) {
    constexpr uint8_t kOperations[] = {0xa4, 0xa5, 0xa6, 0xa7, 0xaa, 0xab, 0xac, 0xad, 0xae, 0xaf};
    b.emit({static_cast<uint8_t>(b.chance(2) ? 0xfc : 0xfd)});  // cld or std
    b.emit({0xbe});
    b.emit32(FID_MEMORY + 64 + b.pick(128));
    b.emit({0xbf});
    b.emit32(FID_MEMORY + 64 + b.pick(128));
    b.emit({0xb9});
    b.emit32(b.pick(17));
    uint8_t operation = kOperations[b.pick(std::size(kOperations))];
    bool compares = operation == 0xa6 || operation == 0xa7 || operation == 0xae || operation == 0xaf;
    uint32_t prefix = b.pick(3);  // none, rep/repe, repne
    if (prefix == 1) b.emit({0xf3});
    if (prefix == 2) b.emit({static_cast<uint8_t>(compares ? 0xf2 : 0xf3)});
    if (b.chance(4)) b.emit({0x66});
    b.emit({operation});
    if (compares) b.flags(kArithmetic, 0);
}

// Decimal adjustments after an addition or subtraction that sets AF.
void bcd(Builder &b) {
    b.emit({static_cast<uint8_t>(b.chance(2) ? 0x04 : 0x2c), static_cast<uint8_t>(b.random())});  // add/sub al, imm
    b.flags(kArithmetic, 0);
    switch (b.pick(6)) {
    case 0:
    case 1:
        b.emit({static_cast<uint8_t>(b.chance(2) ? 0x27 : 0x2f)});
        b.flags(CF | AF | SF | ZF | PF, OF);
        break;
    case 2:
    case 3:
        b.emit({static_cast<uint8_t>(b.chance(2) ? 0x37 : 0x3f)});
        b.flags(CF | AF, OF | SF | ZF | PF);
        break;
    default:
        // aam 0 divides by zero.
        b.emit({static_cast<uint8_t>(b.chance(2) ? 0xd4 : 0xd5), static_cast<uint8_t>(b.chance(8) ? 0 : b.random())});
        b.flags(SF | ZF | PF, OF | AF | CF);
    }
}

void bit_scan(Builder &b) {
    b.emit({0x0f, static_cast<uint8_t>(b.chance(2) ? 0xbc : 0xbd)});
    b.direct(b.gpr(), b.any_gpr());
    b.flags(ZF, CF | OF | SF | AF | PF);
}
void bit_test(Builder &b) {
    constexpr uint8_t kRegisterForms[] = {0xa3, 0xab, 0xb3, 0xbb};
    if (b.chance(2)) {
        b.emit({0x0f, kRegisterForms[b.pick(4)]});
        b.direct(b.any_gpr(), b.gpr());
    } else {
        b.emit({0x0f, 0xba});
        if (b.chance(2)) b.direct(static_cast<uint8_t>(4 + b.pick(4)), b.gpr());
        else b.memory(static_cast<uint8_t>(4 + b.pick(4)));
        b.emit({static_cast<uint8_t>(b.pick(32))});
    }
    b.flags(CF, OF | SF | AF | PF);
}

}  // namespace

const std::vector<Template> &integer_templates(InstructionClass kind) {
    // In InstructionClass order.
    static const std::vector<Template> kTemplates[] = {
        // ALU
        {{alu_register<false>},
         {alu_register<true>, CF},
         {alu_immediate<false>},
         {alu_immediate<true>, CF},
         {alu_memory<false>},
         {alu_memory<true>, CF},
         {inc_dec},
         {neg_not},
         {test_registers},
         {set_condition, kConditions},
         {move_condition, kConditions},
         {exchange_add},
         {byte_swap_extend}},
        // shifts and rotates
        {{shift}, {rotate_carry, CF}, {double_shift}},
        // multiply and divide
        {{multiply}, {divide}},
        // strings
        {{string_operation}},
        // decimal adjustments
        {{bcd}},
        // bit scans and tests
        {{bit_scan}, {bit_test}},
    };
    return kTemplates[static_cast<int>(kind) - static_cast<int>(InstructionClass::Alu)];
}

}  // namespace fidelity
