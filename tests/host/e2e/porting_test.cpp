// The kit's porting functions in the guest against the host's C library in
// its "C" locale: the fixture prints what the guest computed, and the same
// lines are computed here with the host's functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "case_name.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

constexpr int kAbortStatus = 1;

std::string hex(uint64_t value, int digits) {
    std::ostringstream out;
    out << std::hex;
    out.width(digits);
    out.fill('0');
    out << value;
    return out.str();
}

std::string porting_output(const std::vector<std::string> &args) {
    GuestRun run = run_guest(guest_program("fx_porting"), args);
    EXPECT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    return run.out;
}

TEST(PortingCtype, EveryByteAndEofAsTheHostsCLocale) {
    int (*const classes[])(int) = {isalnum, isalpha, isblank, iscntrl, isdigit, isgraph,
                                   islower, isprint, ispunct, isspace, isupper, isxdigit};
    std::string expected;
    for (int c = EOF; c < 256; c++) {
        expected += std::to_string(c) + " ";
        for (auto is_in : classes) expected += is_in(c) != 0 ? "1" : "0";
        expected += " " + std::to_string(tolower(c)) + " " + std::to_string(toupper(c)) + "\n";
    }
    EXPECT_EQ(porting_output({"ctype"}), expected);
}

struct IntegerText {
    const char *name;
    int base;
    const char *text;
};

const IntegerText kIntegerTexts[] = {
    {"zero", 10, "0"},
    {"minus_zero", 10, "-0"},
    {"plain", 10, "123"},
    {"negative", 10, "-123"},
    {"blanks_sign_tail", 10, " \t\n\v\f\r+42xyz"},
    {"largest", 10, "9223372036854775807"},
    {"one_past_largest", 10, "9223372036854775808"},
    {"smallest", 10, "-9223372036854775808"},
    {"one_below_smallest", 10, "-9223372036854775809"},
    {"far_too_long", 10, "99999999999999999999999999"},
    {"unsigned_largest", 10, "18446744073709551615"},
    {"unsigned_one_past", 10, "18446744073709551616"},
    {"minus_one", 10, "-1"},
    {"minus_unsigned_largest", 10, "-18446744073709551615"},
    {"hex_prefix_base_16", 16, "0x7fffffffffffffff"},
    {"hex_prefix_base_0", 0, "0X1Aq"},
    {"hex_prefix_without_digits", 16, "0x"},
    {"hex_prefix_then_other", 0, "0xg"},
    {"octal", 0, "0755"},
    {"octal_stops_at_8", 0, "08"},
    {"base_36", 36, "Zz9"},
    {"binary", 2, "1101201"},
    {"empty", 10, ""},
    {"blanks_only", 10, "   "},
    {"sign_only", 10, "-"},
    {"two_signs", 10, "+-1"},
    {"base_1", 1, "5"},
    {"base_37", 37, "5"},
    {"negative_base", -2, "5"},
};

void PrintTo(const IntegerText &row, std::ostream *out) { *out << row.name; }

bool is_iso_base(int base) { return base == 0 || (base >= 2 && base <= 36); }

// For a base ISO C does not allow, where `end` goes is left open (glibc
// leaves it alone, its sanitizer's interceptor does not): the kit's is at
// the text, as for any text with nothing read.
template <typename Convert> std::string integer_lines(const IntegerText &row, Convert convert) {
    char *end = nullptr;
    errno = 0;
    uint64_t value = static_cast<uint64_t>(convert(row.text, &end, row.base));
    long offset = is_iso_base(row.base) ? end - row.text : 0;
    return hex(value, 16) + " " + std::to_string(offset) + " " + std::to_string(errno) + "\n";
}

class PortingIntegers : public ::testing::TestWithParam<IntegerText> {};

TEST_P(PortingIntegers, StrtollAndStrtoullAsTheHost) {
    const IntegerText &row = GetParam();
    std::vector<std::string> args{std::to_string(row.base), row.text};
    EXPECT_EQ(porting_output({"strtoll", args[0], args[1]}), integer_lines(row, strtoll));
    EXPECT_EQ(porting_output({"strtoull", args[0], args[1]}), integer_lines(row, strtoull));
}

INSTANTIATE_TEST_SUITE_P(Texts, PortingIntegers, ::testing::ValuesIn(kIntegerTexts), kCaseName);

// Edges of the float format, of the texts ISO C allows and of rounding.
const char *const kFloatTexts[] = {
    "0",
    "-0",
    "1",
    "0.1",
    "3.14159",
    "-2.5e-3",
    "1e38",
    "3.4028235e38",
    "3.40282357e38",
    "3.4028236e38",
    "1e39",
    "-1e39",
    "1e-38",
    "1.17549435e-38",
    "1.1754942e-38",
    "1e-45",
    "1.4e-45",
    "7e-46",
    "7.1e-46",
    "1e-46",
    "1e-50",
    "0x1p-149",
    "0x1p-150",
    "0x1.8p-150",
    "0x1.fffffep127",
    "0x1.ffffffp127",
    "0x1p128",
    "0X.8P1",
    "0x.8",
    "0x1.",
    "inf",
    "-INFINITY",
    "infinit",
    "nan",
    "-nan",
    "NAN(123)",
    "nan(",
    "nan(a b)",
    "  .5e1x",
    "5.",
    "e5",
    ".e5",
    "1e",
    "1e+",
    "1e+x",
    "0x",
    "0xp3",
    "123456789012345678901234567890",
    "0.000000000000000000000000000000000000000000001",
    "16777217",
    "16777219",
    "1.000000059604644775390625",
    "1.00000005960464477539",
    "0.1e-999999",
    "1e999999",
    "-.0e5",
    "00000000000000000000000000000000000000012.5",
    "1.5e+00000000000000000000000000000001",
    "340282346638528859811704183484516925440",
    "+.000000000000000000000000000000000000000000000000001e50",
};

TEST(PortingStrtof, EdgeTextsAsTheHost) {
    std::vector<std::string> args{"strtof"};
    std::string expected;
    for (const char *text : kFloatTexts) {
        args.push_back(text);
        char *end = nullptr;
        errno = 0;
        float value = strtof(text, &end);
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        expected += hex(bits, 8) + " " + std::to_string(end - text) + " " + std::to_string(errno) + "\n";
    }
    EXPECT_EQ(porting_output(args), expected);
}

struct SortCase {
    const char *name;
    size_t count;
    int spread;  // values are drawn from -spread to spread
    uint32_t seed;
};

const SortCase kSortCases[] = {
    {"empty", 0, 10, 1},
    {"one", 1, 10, 2},
    {"two", 2, 10, 3},
    {"seven", 7, 1000, 4},
    {"many_equal", 200, 3, 5},
    {"hundred", 100, 1000000, 6},
    {"thousand", 1000, 1 << 30, 7},
    {"all_equal", 64, 0, 8},
};

void PrintTo(const SortCase &row, std::ostream *out) { *out << row.name; }

class PortingSort : public ::testing::TestWithParam<SortCase> {};

// The sorted numbers, and for each key (every number, and numbers beside
// them that may be absent) whether it is there.
TEST_P(PortingSort, QsortAndBsearchAsTheHost) {
    const SortCase &row = GetParam();
    std::mt19937 random(row.seed);
    std::uniform_int_distribution<int> draw(-row.spread, row.spread);
    std::vector<int> numbers(row.count);
    for (int &n : numbers) n = draw(random);
    std::vector<std::string> args{"sort"};
    for (int n : numbers) args.push_back(std::to_string(n));
    args.push_back("--");
    std::vector<int> keys;
    for (int n : numbers) keys.insert(keys.end(), {n, n + 1, n - 1});
    for (int k : keys) args.push_back(std::to_string(k));
    std::sort(numbers.begin(), numbers.end());
    std::string expected;
    for (int n : numbers) expected += std::to_string(n) + " ";
    expected += "\n";
    for (int k : keys) expected += std::binary_search(numbers.begin(), numbers.end(), k) ? "1" : "0";
    expected += "\n";
    EXPECT_EQ(porting_output(args), expected);
}

INSTANTIATE_TEST_SUITE_P(Arrays, PortingSort, ::testing::ValuesIn(kSortCases), kCaseName);

TEST(PortingStringSpans, AsTheHost) {
    const char *const pairs[][2] = {{"hello world", "leh"}, {"abc", ""},  {"", "abc"},
                                    {"xyz", "abc"},         {"aaa", "a"}, {"\x80\xff x", "\xff\x80"},
                                    {"a-b_c", "_-"},        {"tail", "l"}};
    std::vector<std::string> args{"span"};
    std::string expected;
    for (const auto &pair : pairs) {
        const char *s = pair[0], *set = pair[1];
        args.insert(args.end(), {s, set});
        const char *brk = strpbrk(s, set);
        const void *chr = memchr(s, set[0], strlen(s));
        expected += std::to_string(strspn(s, set)) + " " + std::to_string(strcspn(s, set)) + " " +
                    std::to_string(brk != nullptr ? brk - s : -1) + " " +
                    std::to_string(chr != nullptr ? static_cast<const char *>(chr) - s : -1) + "\n";
    }
    EXPECT_EQ(porting_output(args), expected);
}

TEST(PortingDivisions, AsTheHost) {
    const long long pairs[][2] = {{7, 2},
                                  {-7, 2},
                                  {7, -2},
                                  {-7, -2},
                                  {0, 5},
                                  {2147483647, -1},
                                  {-2147483647 - 1, 1},
                                  {-9223372036854775807LL, 3},
                                  {1234567, 1000}};
    std::vector<std::string> args{"div"};
    std::string expected;
    for (const auto &pair : pairs) {
        long long n = pair[0], d = pair[1];
        args.insert(args.end(), {std::to_string(n), std::to_string(d)});
        div_t q = div(static_cast<int>(n), static_cast<int>(d));
        std::ldiv_t lq = ldiv(static_cast<int32_t>(n), static_cast<int32_t>(d));
        lldiv_t llq = lldiv(n, d);
        for (long long v : {static_cast<long long>(q.quot), static_cast<long long>(q.rem),
                            static_cast<long long>(lq.quot), static_cast<long long>(lq.rem), llq.quot, llq.rem})
            expected += std::to_string(v) + " ";
        expected += std::to_string(llabs(n)) + "\n";
    }
    EXPECT_EQ(porting_output(args), expected);
}

constexpr char kTimeFormat[] = "%a %A %b %B %c|%d %e %H %I %j %m %M %p %S %w %y %Y|%D %F %T %R %r %x %X %h %n%t%%";

std::string time_lines(const std::tm &t) {
    std::string line;
    for (int v : {t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday, t.tm_yday})
        line += std::to_string(v) + " ";
    char text[256];
    size_t length = strftime(text, sizeof text, kTimeFormat, &t);
    return line + std::to_string(length) + " " + text + "|" + asctime(&t);
}

TEST(PortingTime, GmtimeStrftimeAsctimeAsTheHost) {
    const int32_t times[] = {0,        1,          86399,      86400, 951782400, 951868799,      978307199,
                             68169600, 1234567890, 2147483647, -1,    -86401,    -2147483647 - 1};
    std::vector<std::string> args{"gmtime"};
    std::string expected;
    for (int32_t when : times) {
        args.push_back(std::to_string(when));
        time_t host_when = when;
        std::tm t{};
        gmtime_r(&host_when, &t);
        expected += time_lines(t);
    }
    EXPECT_EQ(porting_output(args), expected);
}

// Fields out of range, normalised as the host's timegm does (the kit's
// local time is UTC).
TEST(PortingTime, MktimeNormalisesAsTheHost) {
    const int rows[][6] = {{70, 0, 1, 0, 0, 0},      {100, 1, 29, 12, 0, 0},    {99, 13, 1, 0, 0, 0},
                           {100, -1, 1, 0, 0, 0},    {100, 0, 0, 0, 0, 0},      {100, 0, 1, 25, 61, 61},
                           {120, 5, 31, 0, 0, -1},   {138, 0, 19, 3, 14, 7},    {1, 11, 13, 20, 45, 52},
                           {69, 11, 31, 23, 59, 59}, {100, 24, -400, -48, 0, 0}};
    std::vector<std::string> args{"mktime"};
    std::string expected;
    for (const auto &row : rows) {
        std::tm t{};
        int *fields[] = {&t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec};
        for (int k = 0; k < 6; k++) {
            *fields[k] = row[k];
            args.push_back(std::to_string(row[k]));
        }
        time_t normalised = timegm(&t);
        expected += std::to_string(normalised) + " " + time_lines(t);
    }
    EXPECT_EQ(porting_output(args), expected);
}

TEST(PortingAssert, ReportsOnDescriptorTwoAndEndsAsAbort) {
    CommandRun run = run_kivrun({guest_program("fx_porting"), "assert", "x"});
    EXPECT_EQ(run.status, kAbortStatus);
    EXPECT_EQ(run.out, "");
    std::regex line(R"(^\S*fx_porting\.cpp:[0-9]+: void \{anonymous\}::failed_assertion\(int, char\*\*\): )"
                    R"(Assertion `argv\[0\]\[0\] == '#'' failed\.\n$)");
    EXPECT_TRUE(std::regex_search(run.err, line)) << run.err;
}

}  // namespace
}  // namespace kiv::test
