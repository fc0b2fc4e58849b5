// strtold and strtod in the guest against a reference computed with the
// host's own x87 extended arithmetic (the same 80-bit format and rounding):
// every generated text must give the same ten bytes, the same double and the
// same end position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "guest_runner.h"

namespace {

static_assert(sizeof(long double) >= 10 && __LDBL_MANT_DIG__ == 64, "the host must have x87 extended long double");

constexpr unsigned kStepCap = 1024;
constexpr unsigned kExponentCeiling = 4096;

// The conversion, written out step by step as the runtime defines it; one
// rounded extended operation per step.
struct Reference {
    long double value;
    size_t end;
};

class ReferenceParser {
public:
    explicit ReferenceParser(const std::string &text) : s_(text) {}

    Reference parse() {
        while (at(i_) == ' ' || (at(i_) >= '\t' && at(i_) <= '\r')) i_++;
        long double sign = 1.0L;
        if (at(i_) == '+' || at(i_) == '-') sign = at(i_++) == '-' ? -1.0L : 1.0L;
        bool number;
        if (at(i_) == '0' && (at(i_ + 1) == 'x' || at(i_ + 1) == 'X')) {
            i_ += 2;
            number = hex_form();
        } else if (decimal(at(i_)) >= 0) {
            digits(10);
            if (at(i_) == '.') i_++;
            decimal_tail();
            number = true;
        } else if (at(i_) == '.' && decimal(at(i_ + 1)) >= 0) {
            i_++;
            decimal_tail();
            number = true;
        } else {
            number = false;
        }
        if (!number) return {0.0L, 0};
        return {acc_ * sign, i_};
    }

private:
    char at(size_t k) const { return k < s_.size() ? s_[k] : '\0'; }
    static int decimal(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }
    static int hex(char c) {
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return decimal(c);
    }

    unsigned digits(int radix) {
        unsigned count = 0;
        for (int d; (d = radix == 16 ? hex(at(i_)) : decimal(at(i_))) >= 0; i_++, count++) {
            acc_ = acc_ * radix;
            acc_ = acc_ + d;
        }
        return count;
    }

    // Returns the signed exponent, or false when the letter is not followed
    // (after an optional sign) by a digit.
    bool exponent(char lower, char upper, bool &negative, unsigned &magnitude) {
        if (at(i_) != lower && at(i_) != upper) return false;
        size_t k = i_ + 1;
        negative = at(k) == '-';
        if (at(k) == '+' || at(k) == '-') k++;
        if (decimal(at(k)) < 0) return false;
        magnitude = 0;
        for (int digit; (digit = decimal(at(k))) >= 0; k++)
            magnitude = std::min(magnitude * 10 + static_cast<unsigned>(digit), kExponentCeiling);
        i_ = k;
        return true;
    }

    void decimal_tail() {
        unsigned fraction = std::min(digits(10), kStepCap);
        for (unsigned k = 0; k < fraction; k++) acc_ = acc_ / 10;
        bool negative;
        unsigned magnitude;
        if (!exponent('e', 'E', negative, magnitude)) return;
        for (unsigned k = 0; k < std::min(magnitude, kStepCap); k++) acc_ = negative ? acc_ / 10 : acc_ * 10;
    }

    bool hex_form() {
        unsigned whole = digits(16);
        unsigned fraction = 0;
        if (at(i_) == '.') {
            i_++;
            fraction = digits(16);
        }
        if (whole + fraction == 0) return false;
        for (unsigned k = 0; k < std::min(fraction, kStepCap); k++) acc_ = acc_ * 0.0625L;
        bool negative;
        unsigned magnitude;
        if (!exponent('p', 'P', negative, magnitude)) return true;
        for (unsigned k = 0; k < std::min(magnitude, kStepCap); k++) acc_ = negative ? acc_ * 0.5L : acc_ + acc_;
        return true;
    }

    const std::string &s_;
    size_t i_ = 0;
    long double acc_ = 0.0L;
};

std::string hex_bytes(const void *value, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    const unsigned char *p = static_cast<const unsigned char *>(value);
    for (size_t i = 0; i < n; i++) {
        out += kDigits[p[i] >> 4];
        out += kDigits[p[i] & 0xf];
    }
    return out;
}

// The fixture's line for `text`, as the reference computes it.
std::string expected_line(const std::string &text) {
    Reference r = ReferenceParser(text).parse();
    double narrowed = static_cast<double>(r.value);
    return hex_bytes(&r.value, 10) + " " + hex_bytes(&narrowed, sizeof narrowed) + " " + std::to_string(r.end) + " " +
           std::to_string(r.end);
}

// A small deterministic generator, so every run checks the same texts.
class Texts {
public:
    unsigned below(unsigned n) {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<unsigned>(state_ >> 33) % n;
    }
    std::string run_of(const char *alphabet, unsigned count) {
        std::string out;
        size_t size = std::strlen(alphabet);
        for (unsigned i = 0; i < count; i++) out += alphabet[below(static_cast<unsigned>(size))];
        return out;
    }
    std::string decimal_digits(unsigned count) { return run_of("0123456789", count); }
    std::string hex_digits(unsigned count) { return run_of("0123456789abcdefABCDEF", count); }
    std::string sign() {
        static const char *const kSigns[] = {"", "", "+", "-"};
        return kSigns[below(4)];
    }
    std::string exponent(unsigned largest) {
        static const char *const kSigns[] = {"", "+", "-"};
        return std::string(kSigns[below(3)]) + std::to_string(below(largest + 1));
    }

private:
    uint64_t state_ = 0x2545f4914f6cdd1dull;
};

std::vector<std::string> generated_texts() {
    Texts g;
    std::vector<std::string> texts;
    static const char *const kLeads[] = {"", " ", "\t\n", "\v\f\r "};
    static const char *const kTails[] = {"", "x", "e", "e+", "p", ".", " 1", "E-q"};
    auto lead = [&] { return std::string(kLeads[g.below(4)]); };
    auto tail = [&] { return std::string(kTails[g.below(8)]); };
    // Integers long enough to need rounding in the digit steps.
    for (int i = 0; i < 60; i++) texts.push_back(lead() + g.sign() + g.decimal_digits(1 + g.below(30)) + tail());
    // Fractions, with and without integer digits.
    for (int i = 0; i < 80; i++)
        texts.push_back(g.sign() + g.decimal_digits(g.below(12)) + "." + g.decimal_digits(1 + g.below(25)) + tail());
    // Decimal exponents, ordinary and past the cap.
    for (int i = 0; i < 80; i++)
        texts.push_back(g.sign() + g.decimal_digits(1 + g.below(20)) + "." + g.decimal_digits(g.below(8)) +
                        "eE"[g.below(2)] + g.exponent(g.below(4) == 0 ? 6000 : 400) + tail());
    // Hexadecimal forms with binary exponents.
    for (int i = 0; i < 80; i++) {
        std::string text = lead() + g.sign() + (g.below(2) ? "0x" : "0X") + g.hex_digits(g.below(20));
        if (g.below(2)) text += "." + g.hex_digits(1 + g.below(20));
        if (g.below(3)) text += std::string(1, "pP"[g.below(2)]) + g.exponent(g.below(4) == 0 ? 6000 : 1100);
        texts.push_back(text + tail());
    }
    // Values near the edges of the double range, for the narrowing.
    for (int i = 0; i < 40; i++)
        texts.push_back(g.decimal_digits(1 + g.below(17)) + "e" + (g.below(2) ? "-" : "") +
                        std::to_string(300 + g.below(30)));
    // Fraction scaling caps: more than 1024 fraction digits.
    for (int i = 0; i < 4; i++) texts.push_back("0." + g.decimal_digits(1020 + g.below(40)) + "e" + g.exponent(50));
    for (int i = 0; i < 4; i++) texts.push_back("0x." + g.hex_digits(1020 + g.below(40)) + "p" + g.exponent(50));
    // So many integer digits that the accumulator leaves the extended range.
    texts.push_back("9" + g.decimal_digits(4935));
    texts.push_back("-0x" + g.hex_digits(4100));
    return texts;
}

// Hand-picked texts: every form, every non-number, every partial exponent.
const std::vector<std::string> kFixedTexts = {
    "1.5",
    "  -2.5e1x",
    "5.",
    "5.e3",
    ".5",
    ".",
    "-x",
    "+-1",
    "inf",
    "nan",
    "0x",
    "0xg",
    "1e",
    "1e+",
    "1e-x",
    "0x1p",
    "0x1p-",
    "0x1p3",
    "0x1.8p1",
    "0x.8",
    "-0x10",
    "1E2",
    "0123",
    "-0",
    "+0.0",
    "1e5000",
    "-1e5000",
    "1e-5000",
    "0x1p-5000",
    "0.1",
    "0.3",
    "1e23",
    "123456789012345678901234567890",
    "4.9e-324",
    "2.2250738585072014e-308",
    "1.7976931348623157e308",
    "1.7976931348623159e308",
    "\v7",
    "0x.",
    "0x.p1",
    "e5",
    "",
    "+",
    "0e9999",
    "00000.00001e5",
    "1e4294967296",
    "0x1p-4294967297",
    "1e-00000000000000000000000000003",
};

TEST(Strtold, GuestMatchesHostExtendedArithmetic) {
    std::vector<std::string> texts = kFixedTexts;
    for (std::string &text : generated_texts()) texts.push_back(std::move(text));
    kiv::test::TempDir root;
    kiv::RunOptions options;
    options.root = root.path().string();
    kiv::test::GuestRun run = kiv::test::run_guest(kiv::test::guest_program("fx_strtold"), texts, options);
    ASSERT_EQ(run.result.outcome, kiv::RunResult::Outcome::Exited) << run.result.message;
    ASSERT_EQ(run.result.status, 0);
    std::istringstream lines(run.out);
    size_t checked = 0;
    for (std::string line; std::getline(lines, line) && checked < texts.size(); checked++)
        EXPECT_EQ(line, expected_line(texts[checked]))
            << "text #" << checked << ": \"" << texts[checked].substr(0, 60) << "\"";
    EXPECT_EQ(checked, texts.size());
}

// The reference itself on values that need no rounding.
TEST(Strtold, ReferenceExactValues) {
    struct Case {
        const char *text;
        long double value;
        size_t end;
    };
    const Case kCases[] = {
        {"1.5", 1.5L, 3}, {"  -2.5e1x", -25.0L, 8}, {"0x1.8p1", 3.0L, 7}, {"1e", 1.0L, 1}, {"+-1", 0.0L, 0},
    };
    for (const Case &c : kCases) {
        Reference r = ReferenceParser(c.text).parse();
        EXPECT_EQ(r.value, c.value) << c.text;
        EXPECT_EQ(r.end, c.end) << c.text;
    }
}

}  // namespace
