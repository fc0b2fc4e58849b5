// The buffer formatting engine: layout of every conversion, the store rule
// at the buffer's edge, and the full-length result.
#include "check.h"
#include "stdio.h"

namespace {

constexpr unsigned char kCanary = 0xa5;
constexpr uint32_t kPageSize = 4096;

uint32_t word(const void *pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

void check_one(int number, const char *format, const uint32_t (&args)[3], const char *expected) {
    char out[64];
    int length = snprintf(out, sizeof out, format, args[0], args[1], args[2]);
    if (length != static_cast<int>(check_length(expected)) || !check_text_equal(out, expected)) {
        check_fail(__FILE__, number, format);
        check_say("  got '");
        check_say(out);
        check_say("', want '");
        check_say(expected);
        check_say("'\n");
    }
}

// Each case: the format, up to three argument slots, the expected text.
// A failure names the case by its line.
void check_layouts() {
    struct Case {
        int line;
        const char *format;
        uint32_t args[3];
        const char *expected;
    };
    const Case cases[] = {
        // flags and their interplay
        {__LINE__, "%5d", {42}, "   42"},
        {__LINE__, "%-5d", {42}, "42   "},
        {__LINE__, "%05d", {static_cast<uint32_t>(-42)}, "-0042"},
        {__LINE__, "%+5d", {42}, "  +42"},
        {__LINE__, "%+05d", {42}, "+0042"},
        {__LINE__, "%-05d", {42}, "42   "},
        {__LINE__, "%0-5d", {42}, "42   "},
        {__LINE__, "%+-5d", {0}, "+0   "},
        {__LINE__, "%+x", {5}, "5"},
        {__LINE__, "%+05x", {5}, "00005"},
        // precision against zero fill
        {__LINE__, "%.5d", {42}, "00042"},
        {__LINE__, "%8.5d", {static_cast<uint32_t>(-42)}, "  -00042"},
        {__LINE__, "%-8.5d", {static_cast<uint32_t>(-42)}, "-00042  "},
        {__LINE__, "%05.3d", {7}, "  007"},
        {__LINE__, "%+.3d", {5}, "+005"},
        {__LINE__, "%08.4u", {42}, "    0042"},
        {__LINE__, "%.0d", {0}, "0"},
        {__LINE__, "%5.0d", {0}, "    0"},
        {__LINE__, "%.3x", {0}, "000"},
        // value extremes and letters
        {__LINE__, "%d", {0x80000000u}, "-2147483648"},
        {__LINE__, "%u", {0xffffffffu}, "4294967295"},
        {__LINE__, "%x", {0xffffffffu}, "ffffffff"},
        {__LINE__, "%x|%X", {0xab, 0xab}, "ab|AB"},
        {__LINE__, "%08X", {0xbeef}, "0000BEEF"},
        {__LINE__, "%i", {static_cast<uint32_t>(-7)}, "-7"},
        // %p ignores width, precision and flags
        {__LINE__, "%p", {0}, "0x0"},
        {__LINE__, "%10p|%-10p|%.8p", {0x1234, 0x1234, 0x1234}, "0x1234|0x1234|0x1234"},
        {__LINE__, "%010p", {0x1234}, "0x1234"},
        // %c and %% ignore width
        {__LINE__, "%5c", {'A'}, "A"},
        {__LINE__, "%5%", {}, "%"},
        // '*' width and precision
        {__LINE__, "%*d", {5, 42}, "   42"},
        {__LINE__, "%-*d", {5, 42}, "42   "},
        {__LINE__, "%*d", {static_cast<uint32_t>(-5), 42}, "42"},
        {__LINE__, "%-*d", {static_cast<uint32_t>(-5), 42}, "42"},
        {__LINE__, "%0*d", {5, 42}, "00042"},
        {__LINE__, "%.*d", {4, 42}, "0042"},
        {__LINE__, "%.*d", {static_cast<uint32_t>(-1), 42}, "42"},
        // length modifiers are skipped: one slot each
        {__LINE__, "%lld|%d", {5, 0, 7}, "5|0"},
        {__LINE__, "%ld%zd%lu", {1, 2, 3}, "123"},
        // unrecognised letters are shown; a cut-short one ends the walk
        {__LINE__, "%q|%5q|% d|%#x|%hd|%o", {}, "%q|%q|% d|%#x|%hd|%o"},
        {__LINE__, "abc%", {}, "abc"},
        {__LINE__, "ab%5", {}, "ab"},
        {__LINE__, "x%-", {}, "x"},
        {__LINE__, "x%ll", {}, "x"},
        {__LINE__, "x%z", {}, "x"},
        {__LINE__, "x%*", {1}, "x"},
        {__LINE__, "", {}, ""},
    };
    for (const Case &c : cases) check_one(c.line, c.format, c.args, c.expected);
}

void check_strings() {
    struct Case {
        int line;
        const char *format;
        uint32_t args[3];
        const char *expected;
    };
    const Case cases[] = {
        {__LINE__, "%s", {word("abc")}, "abc"},
        {__LINE__, "%5s", {word("abc")}, "  abc"},
        {__LINE__, "%-5s|", {word("abc")}, "abc  |"},
        {__LINE__, "%.2s", {word("abc")}, "ab"},
        {__LINE__, "%05s", {word("ab")}, "   ab"},
        {__LINE__, "%+s", {word("ab")}, "ab"},
        {__LINE__, "%s", {0}, "(null)"},
        {__LINE__, "%.3s", {0}, "(nu"},
        {__LINE__, "%5s|", {word("")}, "     |"},
        {__LINE__, "%.*s", {2, word("abcd")}, "ab"},
        {__LINE__, "%.*s", {static_cast<uint32_t>(-1), word("abcd")}, "abcd"},
    };
    for (const Case &c : cases) check_one(c.line, c.format, c.args, c.expected);
}

void check_zero_character() {
    char out[8] = "xxxxxxx";
    CHECK_EQ(snprintf(out, sizeof out, "a%cb", 0), 3);
    CHECK_BYTES(out, "a\0b\0", 4);
}

// Formats into a window of a canary-filled array, so a write one byte too
// far on either side shows.
void check_truncation() {
    struct Case {
        int line;
        const char *format;
        uint32_t args[3];
        uint32_t size;
        int result;
        const char *stored;  // what the window holds, terminator included
        uint32_t stored_length;
    };
    const Case cases[] = {
        {__LINE__, "abcdef", {}, 0, 6, "", 0},
        {__LINE__, "abcdef", {}, 1, 6, "", 1},
        {__LINE__, "abcdef", {}, 4, 6, "abc", 4},
        {__LINE__, "abcdef", {}, 6, 6, "abcde", 6},
        {__LINE__, "abcdef", {}, 7, 6, "abcdef", 7},
        {__LINE__, "%5d", {42}, 3, 5, "  ", 3},
        {__LINE__, "%d", {static_cast<uint32_t>(-5)}, 2, 2, "-", 2},
        {__LINE__, "%-10s", {word("ab")}, 4, 10, "ab ", 4},
        // padding and zeros far past a full buffer: the result is the
        // 32-bit count of the whole text
        {__LINE__, "%2147483647d%2147483647d", {1, 2}, 8, -2, "       ", 8},
        {__LINE__, "ab%.2147483647d", {5}, 5, -2147483647, "ab00", 5},
        {__LINE__, "%-2147483647s", {word("xyz")}, 6, 2147483647, "xyz  ", 6},
        // a text of 2^32 + 1 characters: the count wraps, the stores must not
        {__LINE__, "%-2147483647d%2147483647d%3d", {7, 8, 9}, 8, 1, "7      ", 8},
    };
    constexpr uint32_t kMargin = 4;
    for (const Case &c : cases) {
        unsigned char area[32];
        for (unsigned char &byte : area) byte = kCanary;
        char *window = reinterpret_cast<char *>(area + kMargin);
        int result = snprintf(window, c.size, c.format, c.args[0], c.args[1], c.args[2]);
        bool ok = result == c.result;
        for (uint32_t i = 0; i < sizeof area; i++) {
            bool inside = i >= kMargin && i < kMargin + c.stored_length;
            unsigned char want = inside ? static_cast<unsigned char>(c.stored[i - kMargin]) : kCanary;
            ok = ok && area[i] == want;
        }
        if (!ok) check_fail(__FILE__, c.line, c.format);
    }
}

void check_null_answers() {
    char out[4] = "xyz";
    CHECK_EQ(snprintf(out, sizeof out, nullptr), 0);
    CHECK_EQ(out[0], '\0');
    CHECK_EQ(out[1], 'y');
    CHECK_EQ(snprintf(nullptr, 0, "%d", 12345), 5);
    CHECK_EQ(snprintf(nullptr, 10, "%d", 12345), 5);
    CHECK_EQ(snprintf(nullptr, 0, nullptr), 0);
}

// sprintf (through vsprintf) assumes a 65536-byte buffer: the 70000th character is counted
// but only the first 65535 and a terminator are stored.
char g_long_text[70001];
unsigned char g_long_out[65536 + 16];

void check_sprintf_cap() {
    for (uint32_t i = 0; i < 70000; i++) g_long_text[i] = static_cast<char>('a' + i % 26);
    for (unsigned char &byte : g_long_out) byte = kCanary;
    char *out = reinterpret_cast<char *>(g_long_out);
    CHECK_EQ(sprintf(out, "%s", g_long_text), 70000);
    CHECK_BYTES(out, g_long_text, 65535);
    CHECK_EQ(g_long_out[65535], 0);
    CHECK_EQ(g_long_out[65536], kCanary);
}

// A precision lets the text be unterminated: the engine must not look past
// it, here past the end of a mapped page.
void check_precision_stops_at_page_edge() {
    char *page = static_cast<char *>(mmap(nullptr, kPageSize, 3, 0x22, -1, 0));
    CHECK(page != MAP_FAILED);
    if (page == MAP_FAILED) return;
    char *tail = page + kPageSize - 3;
    tail[0] = 'x', tail[1] = 'y', tail[2] = 'z';
    char out[8];
    CHECK_EQ(snprintf(out, sizeof out, "%.3s|%.*s", tail, 2, tail + 1), 6);
    CHECK_BYTES(out, "xyz|yz", 7);
    munmap(page, kPageSize);
}

}  // namespace

extern "C" int main() {
    check_layouts();
    check_strings();
    check_zero_character();
    check_truncation();
    check_null_answers();
    check_sprintf_cap();
    check_precision_stops_at_page_edge();
    return check_done();
}
