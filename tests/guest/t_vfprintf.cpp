// The stream formatting engine, through memory streams: the layout of every
// conversion, the grammar's oddities, 64-bit extremes, failure results, and
// a precision-bounded %s at the very end of a mapped page.
#include "check.h"
#include "stdio.h"
#include "unistd.h"

namespace {

constexpr uint32_t kPageSize = 4096;
constexpr int kProtReadWrite = 3;
constexpr int kMapPrivateAnonymous = 0x22;

uint32_t word(const void *pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

bool same_bytes(const char *a, const char *b, uint32_t n) {
    for (uint32_t i = 0; i < n; i++)
        if (a[i] != b[i]) return false;
    return true;
}

struct Captured {
    int result;
    char *text;
    size_t size;
};

// Formats onto a fresh memory stream; every argument slot is 32 bits, a
// 64-bit value takes two (low word first).
Captured capture(const char *format, const uint32_t (&slots)[4]) {
    Captured captured{};
    FILE *stream = open_memstream(&captured.text, &captured.size);
    captured.result = fprintf(stream, format, slots[0], slots[1], slots[2], slots[3]);
    fclose(stream);
    return captured;
}

void check_one(int line, const char *format, const uint32_t (&slots)[4], const char *expected, int result) {
    Captured got = capture(format, slots);
    uint32_t length = check_length(expected);
    bool text_ok = got.size == length && (length == 0 || same_bytes(got.text, expected, length + 1));
    if (got.result == result && text_ok) return;
    check_fail(__FILE__, line, format);
    check_say("  got '");
    check_say(got.text != nullptr ? got.text : "");
    check_say("' result ");
    check_say_number(got.result);
    check_say(", want '");
    check_say(expected);
    check_say("' result ");
    check_say_number(result);
    check_say("\n");
}

void check_layouts() {
    const char *abc = "abc";
    struct Case {
        int line;
        const char *format;
        uint32_t slots[4];
        const char *expected;
        int result;
    };
    const Case cases[] = {
        // ordinary text and directives cut short by the end
        {__LINE__, "", {}, "", 0},
        {__LINE__, "abc%", {}, "abc", 3},
        {__LINE__, "%5", {}, "", 0},
        {__LINE__, "a%.", {}, "a", 1},
        {__LINE__, "a%l", {}, "a", 1},
        {__LINE__, "a%ll", {}, "a", 1},
        {__LINE__, "a%*", {3}, "a", 1},
        // signed decimal, width, zero flag, precision
        {__LINE__, "%d", {static_cast<uint32_t>(-42)}, "-42", 3},
        {__LINE__, "%5d", {static_cast<uint32_t>(-42)}, "  -42", 5},
        {__LINE__, "%05d", {static_cast<uint32_t>(-42)}, "-0042", 5},
        {__LINE__, "%.5d", {42}, "00042", 5},
        {__LINE__, "%8.5d", {static_cast<uint32_t>(-42)}, "  -00042", 8},
        {__LINE__, "%05.3d", {7}, "  007", 5},
        {__LINE__, "%007d", {5}, "0000005", 7},
        {__LINE__, "%0*d", {5, 42}, "00042", 5},
        {__LINE__, "%*d", {static_cast<uint32_t>(-5), 42}, "42", 2},
        {__LINE__, "%.*d", {static_cast<uint32_t>(-1), 42}, "42", 2},
        {__LINE__, "%.d", {0}, "0", 1},
        {__LINE__, "%.0d", {0}, "0", 1},
        {__LINE__, "%d", {0}, "0", 1},
        {__LINE__, "%i", {static_cast<uint32_t>(-7)}, "-7", 2},
        {__LINE__, "%ld", {static_cast<uint32_t>(-5)}, "-5", 2},
        {__LINE__, "%40d", {1}, "                                       1", 40},
        {__LINE__, "%.34d", {1}, "0000000000000000000000000000000001", 34},
        // extremes of both widths through the one 64-bit path
        {__LINE__, "%d", {0x80000000u}, "-2147483648", 11},
        {__LINE__, "%lld", {0, 0x80000000u}, "-9223372036854775808", 20},
        {__LINE__, "%llu", {0xffffffffu, 0xffffffffu}, "18446744073709551615", 20},
        {__LINE__, "%llx", {0xffffffffu, 0xffffffffu}, "ffffffffffffffff", 16},
        {__LINE__, "%llu", {0, 1}, "4294967296", 10},
        {__LINE__, "%lld|%d", {0xffffffffu, 0xffffffffu, 7}, "-1|7", 4},
        {__LINE__, "%llx", {0x9abcdef0u, 0x12345678u}, "123456789abcdef0", 16},
        // unsigned and hexadecimal
        {__LINE__, "%u", {0xffffffffu}, "4294967295", 10},
        {__LINE__, "%x", {255}, "ff", 2},
        {__LINE__, "%02x", {5}, "05", 2},
        {__LINE__, "%08x", {0x1234}, "00001234", 8},
        {__LINE__, "%lx", {0xabc}, "abc", 3},
        // pointers honour width, zero flag and precision
        {__LINE__, "%p", {0}, "0x0", 3},
        {__LINE__, "%10p", {0x1234}, "    0x1234", 10},
        {__LINE__, "%010p", {0x1234}, "0x00001234", 10},
        {__LINE__, "%.6p", {0x1234}, "0x001234", 8},
        {__LINE__, "%llp", {0, 1}, "0x100000000", 11},
        // strings
        {__LINE__, "%s", {0}, "(null)", 6},
        {__LINE__, "%.3s", {0}, "(nu", 3},
        {__LINE__, "%5s", {word(abc)}, "  abc", 5},
        {__LINE__, "%05s", {word(abc)}, "  abc", 5},
        {__LINE__, "%.2s", {word(abc)}, "ab", 2},
        {__LINE__, "%.0s|", {word(abc)}, "|", 1},
        {__LINE__, "%*s", {static_cast<uint32_t>(-5), word(abc)}, "abc", 3},
        {__LINE__, "%.*s", {static_cast<uint32_t>(-1), word(abc)}, "abc", 3},
        // characters, percent, and what this engine does not know
        {__LINE__, "%c", {'A'}, "A", 1},
        {__LINE__, "%5c", {'A'}, "A", 1},
        {__LINE__, "%c", {0x141}, "A", 1},
        {__LINE__, "%5%", {}, "%", 1},
        {__LINE__, "%X", {}, "%X", 2},
        {__LINE__, "%-5d|%d", {7}, "%-5d|7", 6},
        {__LINE__, "%hd", {}, "%hd", 3},
        {__LINE__, "%zu", {}, "%zu", 3},
        {__LINE__, "%+d", {}, "%+d", 3},
        {__LINE__, "%lld%lll", {1, 0}, "1%l", 3},
    };
    for (const Case &c : cases) check_one(c.line, c.format, c.slots, c.expected, c.result);
}

// The control record belongs to the console only: on any other stream a
// leading %c is an ordinary character.
void check_control_record_needs_console() {
    FILE whole{};
    whole.kind = KIV_FILE_WHOLE;
    CHECK_EQ(fprintf(&whole, "%c", 'A'), 1);
    CHECK_EQ(whole.len, 1);
    CHECK(whole.buf != nullptr && whole.buf[0] == 'A');
}

void check_failures() {
    FILE descriptor_zero{};
    descriptor_zero.kind = KIV_FILE_DESCRIPTOR;
    struct Case {
        int line;
        FILE *stream;
        const char *format;
        int result;
    };
    const Case cases[] = {
        {__LINE__, nullptr, "x", -1},
        {__LINE__, stdin, nullptr, -1},
        {__LINE__, stdin, "x", -1},
        {__LINE__, stdin, "%d", -1},
        {__LINE__, &descriptor_zero, "%s", -1},
        {__LINE__, stdin, "", 0},
        // a string conversion that outputs nothing hands over nothing
        {__LINE__, stdin, "%.0s", 0},
        {__LINE__, stdin, "%5", 0},
    };
    for (const Case &c : cases) {
        int result = fprintf(c.stream, c.format, "text");
        if (result != c.result) check_fail(__FILE__, c.line, "fprintf result");
    }
}

// An array without a terminator, cut by a precision, must not be read past
// its end: put it at the end of a page with nothing mapped after it.
void check_precision_bounds_unterminated_text() {
    char *page = static_cast<char *>(mmap(nullptr, kPageSize, kProtReadWrite, kMapPrivateAnonymous, -1, 0));
    CHECK(page != MAP_FAILED);
    void *after = mmap(page + kPageSize, kPageSize, kProtReadWrite, kMapPrivateAnonymous, -1, 0);
    CHECK(after == page + kPageSize);
    CHECK_EQ(munmap(after, kPageSize), 0);
    char *tail = page + kPageSize - 4;
    for (int i = 0; i < 4; i++) tail[i] = "wxyz"[i];
    char *text;
    size_t size;
    FILE *stream = open_memstream(&text, &size);
    CHECK_EQ(fprintf(stream, "%.4s|%.2s|%6.4s", tail, tail + 2, tail), 14);
    CHECK_EQ(size, 14);
    CHECK_BYTES(text, "wxyz|yz|  wxyz", 15);
    fclose(stream);
}

}  // namespace

int main() {
    check_layouts();
    check_control_record_needs_console();
    check_failures();
    check_precision_bounds_unterminated_text();
    return check_done();
}
