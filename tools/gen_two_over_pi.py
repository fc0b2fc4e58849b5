#!/usr/bin/env python3
"""Writes libc/math/two_over_pi.cpp: the binary digits of 2/pi, as many as
the argument reduction of the largest long double needs, computed with
Machin's formula in integer arithmetic.
Usage: gen_two_over_pi.py > libc/math/two_over_pi.cpp"""

WORDS = 528          # 32-bit words: 16896 bits, past 2^16384's reach plus the window
GUARD = 64           # extra bits computed, then dropped


def arctan_inverse(n, one):
    """arctan(1/n) scaled by `one`."""
    total, power, k, sign = 0, one // n, 1, 1
    while power:
        total += sign * (power // k)
        power //= n * n
        k += 2
        sign = -sign
    return total


def main():
    bits = WORDS * 32 + GUARD
    one = 1 << (bits + 8)
    pi = 16 * arctan_inverse(5, one) - 4 * arctan_inverse(239, one)
    two_over_pi = (2 * one * (1 << bits)) // pi  # 2/pi scaled by 2^bits
    digits = two_over_pi >> GUARD
    words = [(digits >> (32 * (WORDS - 1 - i))) & 0xffffffff for i in range(WORDS)]
    print("// The binary digits of 2/pi, most significant first: word i holds bits")
    print("// 32i+1 to 32i+32 after the binary point. Written by tools/gen_two_over_pi.py.")
    print('#include "math/trig_reduce.h"')
    print()
    print("namespace kivm {")
    print()
    print("const uint32_t kTwoOverPi[kTwoOverPiWords] = {")
    for i in range(0, WORDS, 6):
        print("    " + " ".join("0x%08x," % w for w in words[i:i + 6]))
    print("};")
    print()
    print("}  // namespace kivm")


main()
