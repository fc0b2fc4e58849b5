// Argument reduction for sin, cos and tan (Payne and Hanek): x = m 2^e
// with an integer m of 64 bits, and x 2/pi mod 4 is m times the window of
// 2/pi's digits that starts where m 2^e turns earlier digits into
// multiples of 4. The window's 224 bits leave, after the integer part and
// the deepest cancellation any long double meets, 64 significant bits of
// the fraction.
#include "math/trig_reduce.h"

#include "math/internal.h"

namespace kivm {

namespace {

constexpr int kWindowWords = 7;
constexpr int kProductWords = kWindowWords + 2;
constexpr int kProductBits = kProductWords * 32;
constexpr int kWordBits = 32;

using Product = uint32_t[kProductWords];

// 32 digits of 2/pi from digit `first` on (digit 1 is the first after the
// binary point).
uint32_t digits_from(int first) {
    int word = (first - 1) / kWordBits;
    int shift = (first - 1) % kWordBits;
    uint64_t pair = (static_cast<uint64_t>(kTwoOverPi[word]) << kWordBits) | kTwoOverPi[word + 1];
    return static_cast<uint32_t>(pair >> (kWordBits - shift));
}

// m times the window of digits from `first` on, least significant word first.
void multiply_window(uint64_t m, int first, Product product) {
    uint32_t window[kWindowWords];
    for (int i = 0; i < kWindowWords; i++) window[kWindowWords - 1 - i] = digits_from(first + i * kWordBits);
    const uint32_t halves[2] = {static_cast<uint32_t>(m), static_cast<uint32_t>(m >> kWordBits)};
    for (int i = 0; i < kProductWords; i++) product[i] = 0;
    for (int h = 0; h < 2; h++) {
        uint64_t carry = 0;
        for (int i = 0; i < kWindowWords; i++) {
            uint64_t sum = static_cast<uint64_t>(halves[h]) * window[i] + product[i + h] + carry;
            product[i + h] = static_cast<uint32_t>(sum);
            carry = sum >> kWordBits;
        }
        product[kWindowWords + h] = static_cast<uint32_t>(carry);
    }
}

bool bit(const Product product, int index) {
    if (index < 0 || index >= kProductBits) return false;
    return (product[index / kWordBits] >> (index % kWordBits)) & 1;
}

// The 64 bits whose lowest is bit `low` (bits below 0 read as zeros).
uint64_t bits_from(const Product product, int low) {
    uint64_t value = 0;
    for (int i = 63; i >= 0; i--) value = (value << 1) | (bit(product, low + i) ? 1 : 0);
    return value;
}

void negate(Product product) {
    uint64_t carry = 1;
    for (int i = 0; i < kProductWords; i++) {
        uint64_t sum = static_cast<uint64_t>(static_cast<uint32_t>(~product[i])) + carry;
        product[i] = static_cast<uint32_t>(sum);
        carry = sum >> kWordBits;
    }
}

// |x| > pi/4, finite.
Reduced reduce_magnitude(long double x) {
    int exponent = 0;
    uint64_t m = bits_of(split_exponent(x, exponent)).significand;
    int e = exponent - kSignificandBits;  // x = m 2^e
    int first = e - 1 > 1 ? e - 1 : 1;
    Product product;
    multiply_window(m, first, product);
    int point = first + kWindowWords * kWordBits - 1 - e;  // fraction bits below the binary point
    unsigned quadrant = (bit(product, point) ? 1u : 0u) | (bit(product, point + 1) ? 2u : 0u);
    bool negative = bit(product, point - 1);  // fraction >= 1/2: take the next quadrant
    if (negative) {
        negate(product);
        quadrant = (quadrant + 1) & 3;
    }
    int top = point - 1;
    while (top >= 0 && !bit(product, top)) top--;
    if (top < 0) return {0.0L, quadrant};
    long double fraction = scale(static_cast<long double>(bits_from(product, top - 63)), top - 63 - point);
    long double r = fraction * kHalfPi;
    return {negative ? -r : r, quadrant};
}

}  // namespace

Reduced reduce_half_pi(long double x) {
    if (absolute(x) <= kQuarterPi) return {x, 0};
    Reduced reduced = reduce_magnitude(absolute(x));
    if (!sign_of(x)) return reduced;
    return {-reduced.r, (4 - reduced.quadrant) & 3};
}

}  // namespace kivm
