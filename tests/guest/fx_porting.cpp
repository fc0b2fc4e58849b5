// Prints what the kit's porting functions compute, one line per input, for
// the host test to hold against the host's C library. The first argument
// names the function family, the rest are its inputs.
#include <stdint.h>

// Whatever the build type says, assertions are on here.
#undef NDEBUG
#include "assert.h"
#include "check.h"
#include "ctype.h"
#include "errno.h"
#include "stdio.h"
#include "stdlib.h"
#include "string.h"
#include "time.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void say_hex(uint64_t value, int digits) {
    char text[17];
    for (int i = digits - 1; i >= 0; i--, value >>= 4) text[i] = kHexDigits[value & 0xf];
    text[digits] = '\0';
    check_say(text);
}

void say_field(int64_t value) {
    check_say_number(value);
    check_say(" ");
}

// 0 or 1 for each class, in ctype.h's order, then the two mappings.
void ctype_table(int, char **) {
    int (*const classes[])(int) = {isalnum, isalpha, isblank, iscntrl, isdigit, isgraph,
                                   islower, isprint, ispunct, isspace, isupper, isxdigit};
    for (int c = EOF; c < 256; c++) {
        say_field(c);
        for (auto is_in : classes) check_say(is_in(c) != 0 ? "1" : "0");
        check_say(" ");
        say_field(tolower(c));
        check_say_number(toupper(c));
        check_say("\n");
    }
}

// Pairs of base and text: the value (hex, 64 bits), the end's offset, errno.
template <typename Convert> void integer_conversions(int argc, char **argv, Convert convert) {
    for (int i = 0; i + 1 < argc; i += 2) {
        char *end = nullptr;
        errno = 0;
        auto value = static_cast<uint64_t>(convert(argv[i + 1], &end, atoi(argv[i])));
        say_hex(value, 16);
        check_say(" ");
        say_field(end - argv[i + 1]);
        check_say_number(errno);
        check_say("\n");
    }
}

void signed_conversions(int argc, char **argv) { integer_conversions(argc, argv, strtoll); }
void unsigned_conversions(int argc, char **argv) { integer_conversions(argc, argv, strtoull); }

// The float's bits, the end's offset, errno.
void float_conversions(int argc, char **argv) {
    for (int i = 0; i < argc; i++) {
        char *end = nullptr;
        errno = 0;
        float value = strtof(argv[i], &end);
        uint32_t bits;
        memcpy(&bits, &value, sizeof bits);
        say_hex(bits, 8);
        check_say(" ");
        say_field(end - argv[i]);
        check_say_number(errno);
        check_say("\n");
    }
}

int compare_ints(const void *a, const void *b) {
    int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
    return (x > y) - (x < y);
}

// Numbers up to "--", then keys: the sorted numbers on one line, then per
// key whether bsearch found an element equal to it.
void sort_and_search(int argc, char **argv) {
    static int numbers[4096];
    int count = 0;
    for (; count < argc && !check_text_equal(argv[count], "--"); count++) numbers[count] = atoi(argv[count]);
    auto sorted = static_cast<size_t>(count);
    qsort(numbers, sorted, sizeof numbers[0], compare_ints);
    for (int i = 0; i < count; i++) say_field(numbers[i]);
    check_say("\n");
    for (int i = count + 1; i < argc; i++) {
        int key = atoi(argv[i]);
        const int *found = static_cast<const int *>(bsearch(&key, numbers, sorted, sizeof numbers[0], compare_ints));
        check_say(found != nullptr && *found == key ? "1" : "0");
    }
    check_say("\n");
}

// Pairs of text and set: strspn, strcspn, strpbrk's and memchr's offsets
// (-1 for null), memchr looking for the set's first byte.
void spans(int argc, char **argv) {
    for (int i = 0; i + 1 < argc; i += 2) {
        const char *s = argv[i], *set = argv[i + 1];
        const char *brk = strpbrk(s, set);
        const char *chr = static_cast<const char *>(memchr(s, set[0], strlen(s)));
        say_field(static_cast<int64_t>(strspn(s, set)));
        say_field(static_cast<int64_t>(strcspn(s, set)));
        say_field(brk != nullptr ? brk - s : -1);
        check_say_number(chr != nullptr ? chr - s : -1);
        check_say("\n");
    }
}

// Pairs of numerator and denominator: div, ldiv, lldiv and llabs.
void divisions(int argc, char **argv) {
    for (int i = 0; i + 1 < argc; i += 2) {
        long long n = strtoll(argv[i], nullptr, 10), d = strtoll(argv[i + 1], nullptr, 10);
        div_t q = div(static_cast<int>(n), static_cast<int>(d));
        ldiv_t lq = ldiv(static_cast<long>(n), static_cast<long>(d));
        lldiv_t llq = lldiv(n, d);
        const int64_t results[] = {q.quot, q.rem, lq.quot, lq.rem, llq.quot, llq.rem};
        for (int64_t v : results) say_field(v);
        check_say_number(llabs(n));
        check_say("\n");
    }
}

constexpr char kTimeFormat[] = "%a %A %b %B %c|%d %e %H %I %j %m %M %p %S %w %y %Y|%D %F %T %R %r %x %X %h %n%t%%";

void say_time(const struct tm &t) {
    const int fields[] = {t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday, t.tm_yday};
    for (int v : fields) say_field(v);
    char text[256];
    size_t length = strftime(text, sizeof text, kTimeFormat, &t);
    say_field(static_cast<int64_t>(length));
    check_say(text);
    check_say("|");
    check_say(asctime(&t));
}

// Seconds since 1970: the broken-down UTC time, its strftime and asctime.
void broken_down_times(int argc, char **argv) {
    for (int i = 0; i < argc; i++) {
        time_t when = static_cast<time_t>(strtoll(argv[i], nullptr, 10));
        say_time(*gmtime(&when));
    }
}

// Six fields (years since 1900, month, day, hour, minute, second), any of
// them out of range: mktime's result and the fields it normalised.
void normalised_times(int argc, char **argv) {
    for (int i = 0; i + 5 < argc; i += 6) {
        struct tm t {};
        int *fields[] = {&t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec};
        for (int k = 0; k < 6; k++) *fields[k] = atoi(argv[i + k]);
        say_field(mktime(&t));
        say_time(t);
    }
}

void failed_assertion(int, char **argv) { assert(argv[0][0] == '#'); }

struct Family {
    const char *name;
    void (*run)(int argc, char **argv);
};

constexpr Family kFamilies[] = {
    {"ctype", ctype_table},
    {"strtoll", signed_conversions},
    {"strtoull", unsigned_conversions},
    {"strtof", float_conversions},
    {"sort", sort_and_search},
    {"span", spans},
    {"div", divisions},
    {"gmtime", broken_down_times},
    {"mktime", normalised_times},
    {"assert", failed_assertion},
};

}  // namespace

extern "C" int main(int argc, char **argv) {
    if (argc < 2) return CHECK_NO_SCENARIO_NAMED;
    for (const Family &family : kFamilies) {
        if (check_text_equal(argv[1], family.name)) {
            family.run(argc - 2, argv + 2);
            return 0;
        }
    }
    return CHECK_UNKNOWN_SCENARIO;
}
