// The kit's libm in the guest against the host's glibc, one table of
// arguments per function (tests/guest/math_table.h builds the same
// arguments on both sides): every double and float result within the
// function's ulps of glibc's, every long double result within its own
// bound, zeros with glibc's sign, NaN where glibc has NaN, and errno as
// glibc sets it for domain errors, poles and overflow.
//
// The guest calls each function with the FPU in single precision (rounding
// to nearest, exceptions masked), not the ABI's extended precision: the
// library sets the precision it needs itself, and a result that depended
// on the caller's would be off by millions of ulps.
//
// Where glibc's own double or float result is farther than that from the
// correctly rounded value (its tanh and cbrt are off by up to 3 ulps), the
// reference is glibc's long double function rounded to the type, and the
// guest's result must be within the bound of that instead.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>

#include "case_name.h"
#include "guest_runner.h"
#include "tests/guest/math_table.h"

namespace {

using kiv_math_table::MathFunction;

// The distance in representable values; zeros of opposite sign and NaN
// against a number count as far apart.
constexpr __int128 kFar = 1'000'000'000;

template <typename T> __int128 ordered(T value) {
    if constexpr (sizeof(T) == sizeof(float)) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        __int128 magnitude = bits & 0x7fffffffu;
        return bits >> 31 ? -magnitude : magnitude;
    } else if constexpr (sizeof(T) == sizeof(double)) {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        __int128 magnitude = bits & ~(1ull << 63);
        return bits >> 63 ? -magnitude : magnitude;
    } else {
        uint64_t significand;
        uint16_t sign_exponent;
        std::memcpy(&significand, &value, sizeof significand);
        std::memcpy(&sign_exponent, reinterpret_cast<const char *>(&value) + 8, sizeof sign_exponent);
        unsigned exponent = sign_exponent & 0x7fff;
        // The explicit integer bit carries into the exponent's count, so
        // consecutive values (subnormal into normal too) are consecutive
        // integers.
        __int128 magnitude = (static_cast<__int128>(exponent == 0 ? 0 : exponent - 1) << 63) + significand;
        return sign_exponent >> 15 ? -magnitude : magnitude;
    }
}

template <typename T> __int128 distance(T a, T b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : kFar;
    if ((a == 0 || b == 0) && std::signbit(a) != std::signbit(b)) return kFar;
    __int128 d = ordered(a) - ordered(b);
    return d < 0 ? -d : d;
}

template <typename T> std::string shown(T value) {
    std::ostringstream out;
    out.precision(21);
    out << static_cast<long double>(value);
    return out.str();
}

// One function's results from the guest, read in table order.
class GuestResults {
public:
    explicit GuestResults(std::string bytes) : bytes_(std::move(bytes)) {}

    template <typename T> bool next(T &value, unsigned &error) {
        constexpr unsigned size = kiv_math_table::kValueBytes<T>;
        if (position_ + size + 1 > bytes_.size()) return false;
        value = T{};
        std::memcpy(&value, bytes_.data() + position_, size);
        error = static_cast<unsigned char>(bytes_[position_ + size]);
        position_ += size + 1;
        return true;
    }
    bool finished() const { return position_ == bytes_.size(); }

private:
    std::string bytes_;
    size_t position_ = 0;
};

struct Worst {
    __int128 ulps = 0;
    std::string where;
};

template <typename T>
void check_table(const MathFunction &function, unsigned index, unsigned bound, GuestResults &guest, const char *type) {
    kiv_math_table::Table<T> table(function, index);
    Worst worst;
    unsigned misses = 0;
    for (unsigned i = 0; i < table.size(); i++) {
        kiv_math_table::Arguments<T> arguments = table.at(i);
        T result;
        unsigned guest_error;
        ASSERT_TRUE(guest.next(result, guest_error)) << type << ": the guest stopped at argument " << i;
        errno = 0;
        T expected = kiv_math_table::evaluate(function, arguments);
        auto host_error = static_cast<unsigned>(errno);
        long double reference = kiv_math_table::evaluate<long double>(function, {arguments.x, arguments.y});
        __int128 d = distance(result, expected);
        bool glibc_off = distance(expected, static_cast<T>(reference)) > bound;
        if (d > bound && glibc_off) d = distance(result, static_cast<T>(reference));
        std::string where = std::string(type) + " " + function.name + "(" + shown(arguments.x) +
                            (function.binary() ? ", " + shown(arguments.y) : "") + ") = " + shown(result) + ", glibc " +
                            shown(expected);
        if (d > worst.ulps) worst = {d, where};
        if (d > bound && misses++ < 5) ADD_FAILURE() << where << ": " << static_cast<long long>(d) << " ulps";
        // Underflow is left out: glibc's rules for it differ between functions.
        bool underflow = (host_error == ERANGE || guest_error == ERANGE) && std::isfinite(expected);
        if (!underflow) {
            EXPECT_EQ(guest_error, host_error) << "errno of " << where;
        }
    }
    EXPECT_EQ(misses, 0u) << type << ": worst " << static_cast<long long>(worst.ulps) << " ulps, " << worst.where;
}

constexpr const char *kCallerInSinglePrecision = "--control=007f";

class MathTable : public ::testing::TestWithParam<unsigned> {};

TEST_P(MathTable, GuestWithinBoundOfGlibc) {
    unsigned index = GetParam();
    const MathFunction &function = kiv_math_table::kFunctions[index];
    kiv::test::GuestRun run = kiv::test::run_guest(kiv::test::guest_program("fx_math"),
                                                   {kCallerInSinglePrecision, function.name});
    ASSERT_EQ(run.result.outcome, kiv::RunResult::Outcome::Exited) << run.result.message;
    ASSERT_EQ(run.result.status, 0);
    GuestResults guest(run.out);
    check_table<double>(function, index, function.ulps, guest, "double");
    check_table<float>(function, index, function.ulps, guest, "float");
    check_table<long double>(function, index, function.long_ulps, guest, "long double");
    EXPECT_TRUE(guest.finished()) << "the guest wrote more results than the tables hold";
}

INSTANTIATE_TEST_SUITE_P(Functions, MathTable, ::testing::Range(0u, kiv_math_table::kFunctionCount),
                         [](const auto &instance) {
                             return kiv::test::test_name(kiv_math_table::kFunctions[instance.param].name);
                         });

// The ulp distance itself, on neighbours the host computes.
TEST(MathDistance, CountsRepresentableValues) {
    EXPECT_EQ(distance(1.0, std::nextafter(1.0, 2.0)), 1);
    EXPECT_EQ(distance(-1.0f, std::nextafter(-1.0f, -2.0f)), 1);
    EXPECT_EQ(distance(0.0, 5e-324), 1);
    EXPECT_EQ(distance(0.0, -0.0), kFar);
    EXPECT_EQ(distance(1.0L, std::nextafter(1.0L, 0.0L)), 1);
    EXPECT_EQ(distance(__LDBL_MIN__, std::nextafter(__LDBL_MIN__, 0.0L)), 1);
    EXPECT_EQ(distance(std::nan(""), 1.0), kFar);
    EXPECT_EQ(distance(std::nan(""), -std::nan("")), 0);
}

}  // namespace
