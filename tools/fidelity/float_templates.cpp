// Floating-point templates: the x87 unit, SSE and SSE2, and conversions.
#include "builder.h"
#include "fidelity_layout.h"

namespace fidelity {

namespace {

// x87: loads of every format, arithmetic, compares, stores and conversions.
void fpu_load(Builder &b) {
    constexpr std::array<uint8_t, 2> kLoads[] = {{0xd9, 0}, {0xdd, 0}, {0xdb, 5}, {0xdf, 0}, {0xdb, 0}, {0xdf, 5}};
    if (b.chance(4)) {
        constexpr uint8_t kConstants[] = {0xe8, 0xe9, 0xea, 0xeb, 0xec, 0xed, 0xee};
        uint8_t constant = kConstants[b.pick(std::size(kConstants))];
        b.emit({0xd9, constant});
        if (constant != 0xe8 && constant != 0xee && b.x87_rounding != 0) b.traits |= kRoundedConstant;
    } else {
        auto load = kLoads[b.pick(std::size(kLoads))];
        b.emit({load[0]});
        b.memory(load[1]);
        if (load[0] == 0xdb && load[1] == 5) b.traits |= kExtendedLoad;
    }
    b.depth++;
    b.fsw(C1, C0 | C2 | C3);
}
void fpu_arithmetic(Builder &b) {
    uint8_t op = static_cast<uint8_t>(b.pick(8));
    if (op == 2 || op == 3) op = static_cast<uint8_t>(b.pick(2));  // fcom and fcomp have templates of their own
    switch (b.pick(4)) {
    case 0:
        b.emit({0xd8});
        b.direct(op, b.st());
        break;  // st0 op= st(i)
    case 1:
        b.emit({0xdc});
        b.direct(op, b.st());
        break;  // st(i) op= st0
    case 2:
        b.emit({static_cast<uint8_t>(b.chance(2) ? 0xd8 : 0xdc)});
        b.memory(op);
        break;  // st0 op= m32/m64
    default:
        b.emit({0xda});
        b.memory(op);
        break;  // st0 op= m32 integer
    }
    b.fpu_arithmetic();
}
void fpu_unary(Builder &b) {
    constexpr uint8_t kUnary[] = {0xe0, 0xe1, 0xfa, 0xfc,
                                  0xfd, 0xf8, 0xf5};  // fchs fabs fsqrt frndint fscale fprem fprem1
    uint8_t op = kUnary[b.pick(std::size(kUnary))];
    b.emit({0xd9, op});
    if ((op == 0xfd || op == 0xfc) && b.x87_precision != 3) b.traits |= kReducedPrecisionScale;
    if (op == 0xfd) b.traits |= kScale;
    if (op == 0xf8 || op == 0xf5) {
        b.fsw(kAllConditionCodes, 0);
        b.traits |= kPartialRemainder;
    } else {
        b.fpu_arithmetic();
    }
}
void fpu_compare(Builder &b) {
    switch (b.pick(4)) {
    case 0:
        b.emit({0xd8});
        b.direct(2, b.st());
        break;  // fcom st(i)
    case 1:
        b.emit({0xdd});
        b.direct(4, b.st());
        break;                                                                       // fucom st(i)
    case 2: b.emit({0xd9, static_cast<uint8_t>(b.chance(2) ? 0xe4 : 0xe5)}); break;  // ftst, fxam
    default:
        b.emit({0xdb});
        b.direct(static_cast<uint8_t>(5 + b.pick(2)), b.st());  // fucomi, fcomi
        b.flags(kArithmetic, 0);
        b.traits |= kComparesIntoEflags;
        b.fsw(C1, 0);
        return;
    }
    b.fsw(kAllConditionCodes, 0);
}
void fpu_status_to_ax(Builder &b) {
    b.emit({0xdf, 0xe0});
    b.traits |= kStatusToAx;
}
void fpu_conditional_move(Builder &b) {
    b.emit({static_cast<uint8_t>(b.chance(2) ? 0xda : 0xdb)});
    b.direct(static_cast<uint8_t>(b.pick(4)), b.st());
}
void fpu_exchange(Builder &b) {
    b.emit({0xd9});
    b.direct(1, b.st());
    b.fsw(C1, C0 | C2 | C3);
}
void fpu_store(Builder &b) {
    // fst m32/m64, fstp m32/m64/m80, fist m16/m32, fistp m16/m32/m64, fbstp
    constexpr std::array<uint8_t, 3> kStores[] = {{0xd9, 2, 0}, {0xdd, 2, 0}, {0xd9, 3, 1}, {0xdd, 3, 1},
                                                  {0xdb, 7, 1}, {0xdf, 2, 0}, {0xdb, 2, 0}, {0xdf, 3, 1},
                                                  {0xdb, 3, 1}, {0xdf, 7, 1}, {0xdf, 6, 1}};
    auto store = kStores[b.pick(std::size(kStores))];
    b.emit({store[0]});
    b.memory(store[1]);
    b.depth -= store[2];
    b.fsw(C1, C0 | C2 | C3);
    if (store[0] == 0xdf && store[1] == 6) b.traits |= kPackedBcdStore;
}
void fpu_pop(Builder &b) {
    b.emit({0xdd});
    b.direct(3, b.st());  // fstp st(i)
    b.depth--;
    b.fsw(C1, C0 | C2 | C3);
}
void fpu_transcendental(Builder &b) {
    constexpr uint8_t kOps[] = {0xf0, 0xf1, 0xf2, 0xf3, 0xf9, 0xfe, 0xff, 0xfb, 0xf4};
    uint8_t op = kOps[b.pick(std::size(kOps))];
    b.emit({0xd9, op});
    if (op == 0xf1 || op == 0xf3 || op == 0xf9) b.depth--;
    if (op == 0xf2 || op == 0xfb || op == 0xf4) b.depth++;
    b.fsw(C1 | C2, C0 | C3);
    b.traits |= op == 0xf4 ? kExtract : kTranscendental;
}
// Rounding and precision control, exceptions always masked.
void fpu_control(Builder &b) {
    b.x87_precision = b.pick(4);
    b.x87_rounding = b.pick(4);
    uint16_t control = static_cast<uint16_t>(0x7f | b.x87_precision << 8 | b.x87_rounding << 10);
    b.emit({0x66, 0xc7, 0x83});
    b.emit32(FID_MEMORY_BYTES - 4);
    b.emit({static_cast<uint8_t>(control), static_cast<uint8_t>(control >> 8)});
    b.emit({0xd9, 0xab});  // fldcw [ebx + disp32]
    b.emit32(FID_MEMORY_BYTES - 4);
    if (b.chance(4)) b.emit({0xdb, 0xe2});  // fnclex
}

// SSE and SSE2: packed and scalar arithmetic, compares, shuffles, logic.
void sse_load(Builder &b) {
    b.emit({0x0f, 0x10});  // movups xmm, m128
    b.memory(b.xmm());
}
void sse_arithmetic(Builder &b) {
    constexpr uint8_t kPrefixes[] = {0, 0x66, 0xf3, 0xf2};                  // ps, pd, ss, sd
    constexpr uint8_t kOps[] = {0x58, 0x59, 0x5c, 0x5d, 0x5e, 0x5f, 0x51};  // add mul sub min div max sqrt
    uint8_t prefix = kPrefixes[b.pick(4)];
    if (prefix != 0) b.emit({prefix});
    b.emit({0x0f, kOps[b.pick(std::size(kOps))]});
    if (b.chance(4) && prefix >= 0xf2) b.memory(b.xmm());
    else b.direct(b.xmm(), b.xmm());
}
void sse_compare(Builder &b) {
    bool doubles = b.chance(2);
    if (b.chance(2)) {
        if (doubles) b.emit({0x66});
        b.emit({0x0f, static_cast<uint8_t>(b.chance(2) ? 0x2e : 0x2f)});  // ucomis, comis
        b.direct(b.xmm(), b.xmm());
        b.flags(kArithmetic, 0);
        return;
    }
    constexpr uint8_t kPrefixes[] = {0, 0x66, 0xf3, 0xf2};
    uint8_t prefix = kPrefixes[b.pick(4)];
    if (prefix != 0) b.emit({prefix});
    b.emit({0x0f, 0xc2});
    b.direct(b.xmm(), b.xmm());
    b.emit({static_cast<uint8_t>(b.pick(8))});
}
void sse_shuffle_logic(Builder &b) {
    constexpr uint8_t kOps[] = {0x54, 0x55, 0x56, 0x57, 0x14, 0x15, 0xc6};  // and andn or xor unpckl unpckh shuf
    uint8_t op = kOps[b.pick(std::size(kOps))];
    if (b.chance(2)) b.emit({0x66});
    b.emit({0x0f, op});
    b.direct(b.xmm(), b.xmm());
    if (op == 0xc6) b.emit({static_cast<uint8_t>(b.random())});
}
void sse_rounding(Builder &b) {
    uint32_t mxcsr = 0x1f80 | b.pick(4) << 13 | (b.chance(4) ? 0x8000 : 0) | (b.chance(4) ? 0x40 : 0);
    if ((mxcsr & 0x8040) != 0) b.traits |= kFlushToZero;
    b.emit({0xc7, 0x83});
    b.emit32(FID_MEMORY_BYTES - 8);
    b.emit32(mxcsr);
    b.emit({0x0f, 0xae, 0x93});  // ldmxcsr [ebx + disp32]
    b.emit32(FID_MEMORY_BYTES - 8);
}
void sse_approximation(Builder &b) {
    if (b.chance(2)) b.emit({0xf3});  // rsqrtss/rcpss, else the packed forms
    b.emit({0x0f, static_cast<uint8_t>(b.chance(2) ? 0x52 : 0x53)});
    b.direct(b.xmm(), b.xmm());
    b.traits |= kApproximation;
}
void sse2_integer(Builder &b) {
    constexpr uint8_t kOps[] = {0xfc, 0xfd, 0xfe, 0xd4, 0xf8, 0xf9, 0xfa, 0xfb, 0xd5, 0xe5, 0xf4, 0xf5, 0xdb, 0xdf,
                                0xeb, 0xef, 0x74, 0x75, 0x76, 0x64, 0x65, 0x66, 0x63, 0x67, 0x6b, 0x60, 0x61, 0x62,
                                0x68, 0x69, 0x6a, 0x6c, 0x6d, 0xec, 0xed, 0xdc, 0xdd, 0xe8, 0xe9, 0xd8, 0xd9, 0xda,
                                0xde, 0xea, 0xee, 0xe0, 0xe3, 0xf6, 0xd1, 0xd2, 0xd3, 0xe1, 0xe2, 0xf1, 0xf2, 0xf3};
    b.emit({0x66, 0x0f});
    switch (b.pick(4)) {
    case 0: {  // shifts by an immediate
        // words and doublewords: srl, sra, sll; quadwords: srl, sll and the byte shifts
        constexpr std::array<uint8_t, 2> kShifts[] = {{0x71, 2}, {0x71, 4}, {0x71, 6}, {0x72, 2}, {0x72, 4},
                                                      {0x72, 6}, {0x73, 2}, {0x73, 6}, {0x73, 3}, {0x73, 7}};
        auto [group, kind] = kShifts[b.pick(std::size(kShifts))];
        b.emit({group});
        b.direct(kind, b.xmm());
        b.emit({static_cast<uint8_t>(b.pick(40))});
        return;
    }
    case 1:
        b.emit({0x70});
        b.direct(b.xmm(), b.xmm());
        b.emit({static_cast<uint8_t>(b.random())});
        return;  // pshufd
    default:
        b.emit({kOps[b.pick(std::size(kOps))]});
        b.direct(b.xmm(), b.xmm());
        return;
    }
}
void sse2_to_general(Builder &b) {
    constexpr uint8_t kOps[] = {0x7e, 0xd7};  // movd r32, xmm; pmovmskb
    uint8_t op = kOps[b.pick(2)];
    b.emit({0x66, 0x0f, op});
    if (op == 0x7e) b.direct(b.xmm(), b.gpr());
    else b.direct(b.gpr(), b.xmm());
}

// Conversions between integers, floats, doubles and the x87.
void convert_sse(Builder &b) {
    switch (b.pick(4)) {
    case 0: {  // cvtsi2ss/sd xmm, r32 or m32
        b.emit({static_cast<uint8_t>(b.chance(2) ? 0xf3 : 0xf2), 0x0f, 0x2a});
        if (b.chance(2)) b.direct(b.xmm(), b.any_gpr());
        else b.memory(b.xmm());
        return;
    }
    case 1: {  // cvt(t)ss/sd2si r32, xmm
        b.emit(
            {static_cast<uint8_t>(b.chance(2) ? 0xf3 : 0xf2), 0x0f, static_cast<uint8_t>(b.chance(2) ? 0x2c : 0x2d)});
        b.direct(b.gpr(), b.xmm());
        return;
    }
    default: {  // between packed and scalar formats
        constexpr std::array<uint8_t, 2> kOps[] = {{0xf3, 0x5a}, {0xf2, 0x5a}, {0, 0x5a},    {0x66, 0x5a},
                                                   {0, 0x5b},    {0x66, 0x5b}, {0xf3, 0x5b}, {0xf3, 0xe6},
                                                   {0xf2, 0xe6}, {0x66, 0xe6}};
        auto op = kOps[b.pick(std::size(kOps))];
        if (op[0] != 0) b.emit({op[0]});
        b.emit({0x0f, op[1]});
        b.direct(b.xmm(), b.xmm());
    }
    }
}
// An SSE value through memory into the x87 and back.
void convert_through_memory(Builder &b) {
    uint32_t offset = b.pick(FID_MEMORY_BYTES / 16 - 1) * 16;
    bool doubles = b.chance(2);
    b.emit({static_cast<uint8_t>(doubles ? 0xf2 : 0xf3), 0x0f, 0x11, static_cast<uint8_t>(0x83 | b.xmm() << 3)});
    b.emit32(offset);  // movsd/movss [ebx + offset], xmm
    b.emit({static_cast<uint8_t>(doubles ? 0xdd : 0xd9), 0x83});
    b.emit32(offset);  // fld m64/m32
    b.depth++;
    b.fsw(C1, C0 | C2 | C3);
}

}  // namespace

const std::vector<Template> &float_templates(InstructionClass kind) {
    // In InstructionClass order.
    static const std::vector<Template> kTemplates[] = {
        // x87
        {{fpu_load, 0, 0, 0, 1},
         {fpu_arithmetic, 0, 0, 1},
         {fpu_unary, 0, 0, 2},
         {fpu_compare, 0, 0, 2},
         {fpu_status_to_ax, 0, kAllConditionCodes},
         {fpu_conditional_move, ZF | CF | PF, 0, 2},
         {fpu_exchange, 0, 0, 2},
         {fpu_store, 0, 0, 1, -1},
         {fpu_pop, 0, 0, 1, -1}},
        // x87 transcendental
        {{fpu_load, 0, 0, 0, 1}, {fpu_transcendental, 0, 0, 2, 1}},
        // x87 control
        {{fpu_control},
         {fpu_load, 0, 0, 0, 1},
         {fpu_arithmetic, 0, 0, 1},
         {fpu_unary, 0, 0, 2},
         {fpu_store, 0, 0, 1, -1}},
        // SSE
        {{sse_load}, {sse_arithmetic}, {sse_compare}, {sse_shuffle_logic}, {sse_rounding}, {sse_approximation}},
        // SSE2 integer
        {{sse2_integer}, {sse2_to_general}, {sse_load}},
        // conversions
        {{convert_sse}, {sse_rounding}, {convert_through_memory, 0, 0, 0, 1}, {fpu_control}, {fpu_store, 0, 0, 1, -1}},
    };
    return kTemplates[static_cast<int>(kind) - static_cast<int>(InstructionClass::X87)];
}

}  // namespace fidelity
