/* A tiny self-checking harness for guest test programs. Failures are
 * reported through the raw write wrapper only (never through the stdio under
 * test); main returns the number of failed checks. Valid C and C++. */
#ifndef KIV_GUEST_CHECK_H
#define KIV_GUEST_CHECK_H

#include <stdint.h>

#include "unistd.h"

static int g_check_failures;

static inline unsigned check_length(const char *text) {
    unsigned n = 0;
    while (text[n] != 0) n++;
    return n;
}

static inline int check_text_equal(const char *a, const char *b) {
    while (*a != 0 && *a == *b) a++, b++;
    return *a == *b;
}

static inline void check_say(const char *text) { write(1, text, check_length(text)); }

static inline void check_say_number(int64_t value) {
    char digits[24];
    int at = 23;
    uint64_t magnitude = value < 0 ? 0 - (uint64_t)value : (uint64_t)value;
    digits[at] = 0;
    do {
        digits[--at] = (char)('0' + magnitude % 10u);
        magnitude /= 10u;
    } while (magnitude != 0);
    if (value < 0) digits[--at] = '-';
    check_say(digits + at);
}

static inline void check_fail(const char *file, int line, const char *what) {
    g_check_failures++;
    check_say("FAIL ");
    check_say(file);
    check_say(":");
    check_say_number(line);
    check_say(": ");
    check_say(what);
    check_say("\n");
}

/* CHECK(condition): counts a failure when the condition is false. */
#define CHECK(cond)                                         \
    do {                                                    \
        if (!(cond)) check_fail(__FILE__, __LINE__, #cond); \
    } while (0)

/* CHECK_EQ(actual, expected): integers, printed on failure. */
#define CHECK_EQ(actual, expected)                                    \
    do {                                                              \
        int64_t check_a_ = (int64_t)(actual);                         \
        int64_t check_e_ = (int64_t)(expected);                       \
        if (check_a_ != check_e_) {                                   \
            check_fail(__FILE__, __LINE__, #actual " == " #expected); \
            check_say("  got ");                                      \
            check_say_number(check_a_);                               \
            check_say(", want ");                                     \
            check_say_number(check_e_);                               \
            check_say("\n");                                          \
        }                                                             \
    } while (0)

/* CHECK_BYTES(actual, expected, n): n bytes equal. */
#define CHECK_BYTES(actual, expected, n)                                        \
    do {                                                                        \
        const unsigned char *check_x_ = (const unsigned char *)(actual);        \
        const unsigned char *check_y_ = (const unsigned char *)(expected);      \
        unsigned check_i_;                                                      \
        for (check_i_ = 0; check_i_ < (unsigned)(n); check_i_++) {              \
            if (check_x_[check_i_] != check_y_[check_i_]) {                     \
                check_fail(__FILE__, __LINE__, #actual " bytes == " #expected); \
                check_say("  first difference at byte ");                       \
                check_say_number(check_i_);                                     \
                check_say("\n");                                                \
                break;                                                          \
            }                                                                   \
        }                                                                       \
    } while (0)

/* A system call straight to the kernel, past the wrappers' guards. */
static inline int32_t check_raw_call(uint32_t number, uint32_t a, uint32_t b, uint32_t c) {
    int32_t result;
    __asm__ volatile("int $0x80" : "=a"(result) : "a"(number), "b"(a), "c"(b), "d"(c) : "memory");
    return result;
}

/* A fixture's scenarios, chosen by name with the first argument. A
 * scenario's non-zero result becomes the exit status; otherwise the status
 * is the number of failed checks. */
struct check_scenario {
    const char *name;
    int (*run)(void);
};

#define CHECK_NO_SCENARIO_NAMED 100
#define CHECK_UNKNOWN_SCENARIO 101

static inline int check_run_scenario(int argc, char **argv, const struct check_scenario *scenarios, unsigned count) {
    unsigned i;
    if (argc < 2) return CHECK_NO_SCENARIO_NAMED;
    for (i = 0; i < count; i++) {
        if (check_text_equal(argv[1], scenarios[i].name)) {
            int result = scenarios[i].run();
            return result != 0 ? result : g_check_failures;
        }
    }
    return CHECK_UNKNOWN_SCENARIO;
}

#define CHECK_SCENARIO_COUNT(table) (unsigned)(sizeof(table) / sizeof((table)[0]))

/* End of main: report and return the failure count as the exit status. */
static inline int check_done(void) {
    if (g_check_failures == 0) check_say("ok\n");
    return g_check_failures > 255 ? 255 : g_check_failures;
}

#endif
