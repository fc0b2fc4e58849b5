// String and memory functions: null and low-address answers, exact
// comparison values, padding and bounds, copy directions, strtok's saved
// position, and strdup/strndup block sizes.
#include "check_case.h"
#include "errno.h"
#include "stdlib.h"
#include "stdlib/heap.h"
#include "string.h"

namespace {

// Never dereferenced: the functions must answer these without reading.
char *const kLow = reinterpret_cast<char *>(0x10);
char *const kLowTop = reinterpret_cast<char *>(0xfff);

uint32_t block_size(const void *payload) { return static_cast<const uint32_t *>(payload)[-1]; }

enum class Compare { Str, StrN, Case, CaseN, Mem };

struct CompareCase {
    const char *name;
    Compare op;
    const char *a;
    const char *b;
    size_t n;
    int want;
};

const CompareCase kCompareCases[] = {
    {"cmp null null", Compare::Str, nullptr, nullptr, 0, 0},
    {"cmp null empty", Compare::Str, nullptr, "", 0, -1},
    {"cmp empty null", Compare::Str, "", nullptr, 0, 1},
    {"cmp low text", Compare::Str, kLowTop, "a", 0, -1},
    {"cmp text low", Compare::Str, "a", kLow, 0, 1},
    {"cmp low low same", Compare::Str, kLow, kLow, 0, 0},
    {"cmp low low differ", Compare::Str, kLow, kLowTop, 0, -1},
    {"cmp a c", Compare::Str, "a", "c", 0, -2},
    {"cmp ff a unsigned", Compare::Str, "\xff", "a", 0, 158},
    {"cmp a ends first", Compare::Str, "ab", "abc", 0, -99},
    {"cmp b ends first", Compare::Str, "abc", "ab", 0, 99},
    {"cmp equal", Compare::Str, "abc", "abc", 0, 0},
    {"ncmp n0 null", Compare::StrN, nullptr, "x", 0, 0},
    {"ncmp n0 differ", Compare::StrN, "a", "b", 0, 0},
    {"ncmp null", Compare::StrN, nullptr, "x", 1, -1},
    {"ncmp low b", Compare::StrN, "x", kLowTop, 1, 1},
    {"ncmp within bound", Compare::StrN, "abcX", "abcY", 3, 0},
    {"ncmp at bound", Compare::StrN, "abcX", "abcY", 4, -1},
    {"ncmp stops at end", Compare::StrN, "ab", "ab", 10, 0},
    {"case ABC abd", Compare::Case, "ABC", "abd", 0, -1},
    {"case folds down", Compare::Case, "_", "A", 0, -2},
    {"case bracket unfolded", Compare::Case, "[", "a", 0, -6},
    {"case no high folding", Compare::Case, "\xc4", "\xe4", 0, -32},
    {"case Z a", Compare::Case, "Z", "a", 0, 25},
    {"case equal mixed", Compare::Case, "HeLLo", "hEllO", 0, 0},
    {"case null null", Compare::Case, nullptr, nullptr, 0, 0},
    {"case null a", Compare::Case, nullptr, "a", 0, -1},
    {"case a null", Compare::Case, "a", nullptr, 0, 1},
    {"ncase bound 5", Compare::CaseN, "HELLOx", "helloy", 5, 0},
    {"ncase bound 6", Compare::CaseN, "HELLOx", "helloy", 6, -1},
    {"ncase n0 null", Compare::CaseN, nullptr, "a", 0, 0},
    {"ncase null", Compare::CaseN, nullptr, "a", 3, -1},
    {"ncase b null", Compare::CaseN, "a", nullptr, 3, 1},
    {"ncase a ends first", Compare::CaseN, "A", "ab", 3, -98},
    {"mem past zero", Compare::Mem, "ab\0x", "ab\0y", 4, -1},
    {"mem before diff", Compare::Mem, "ab\0x", "ab\0y", 3, 0},
    {"mem unsigned", Compare::Mem, "\x80", "\x01", 1, 127},
    {"mem n0 null", Compare::Mem, nullptr, nullptr, 0, 0},
};

int run_compare(const CompareCase &c) {
    switch (c.op) {
    case Compare::Str: return strcmp(c.a, c.b);
    case Compare::StrN: return strncmp(c.a, c.b, c.n);
    case Compare::Case: return strcasecmp(c.a, c.b);
    case Compare::CaseN: return strncasecmp(c.a, c.b, c.n);
    case Compare::Mem: return memcmp(c.a, c.b, c.n);
    }
    return 0;
}

void test_compare() {
    for (const CompareCase &c : kCompareCases) {
        int before = g_check_failures;
        CHECK_EQ(run_compare(c), c.want);
        check_case_end(before, c.name);
    }
}

struct LengthCase {
    const char *name;
    const char *s;
    size_t max;  // 0xffffffff: strlen, else strnlen
    size_t want;
};

constexpr size_t kWhole = 0xffffffffu;

const LengthCase kLengthCases[] = {
    {"len null", nullptr, kWhole, 0}, {"len low", kLow, kWhole, 0}, {"len low top", kLowTop, kWhole, 0},
    {"len text", "abc", kWhole, 3},   {"len empty", "", kWhole, 0}, {"nlen low", kLowTop, 5, 0},
    {"nlen below", "abc", 2, 2},      {"nlen zero", "abc", 0, 0},   {"nlen above", "abc", 10, 3},
};

void test_length() {
    for (const LengthCase &c : kLengthCases) {
        int before = g_check_failures;
        CHECK_EQ(c.max == kWhole ? strlen(c.s) : strnlen(c.s, c.max), c.want);
        check_case_end(before, c.name);
    }
}

enum class Copy { Cpy, NCpy, Cat, NCat };

constexpr size_t kCopyArea = 8;

struct CopyCase {
    const char *name;
    Copy op;
    const char *initial;  // nullptr: the destination itself is null
    const char *s;
    size_t n;
    char want[kCopyArea];
};

// Destinations start as `initial`, its terminator, then '#' filler.
const CopyCase kCopyCases[] = {
    {"cpy", Copy::Cpy, "zzzz", "ab", 0, {'a', 'b', 0, 'z', 0, '#', '#', '#'}},
    {"cpy null source", Copy::Cpy, "zz", nullptr, 0, {0, 'z', 0, '#', '#', '#', '#', '#'}},
    {"cpy null dest", Copy::Cpy, nullptr, "ab", 0, {}},
    {"ncpy pads zeros", Copy::NCpy, "", "ab", 5, {'a', 'b', 0, 0, 0, '#', '#', '#'}},
    {"ncpy truncates", Copy::NCpy, "", "abcdef", 3, {'a', 'b', 'c', '#', '#', '#', '#', '#'}},
    {"ncpy null source", Copy::NCpy, "", nullptr, 4, {0, 0, 0, 0, '#', '#', '#', '#'}},
    {"ncpy n0", Copy::NCpy, "q", "ab", 0, {'q', 0, '#', '#', '#', '#', '#', '#'}},
    {"ncpy null dest", Copy::NCpy, nullptr, "ab", 3, {}},
    {"cat", Copy::Cat, "x", "abc", 0, {'x', 'a', 'b', 'c', 0, '#', '#', '#'}},
    {"cat onto empty", Copy::Cat, "", "ab", 0, {'a', 'b', 0, '#', '#', '#', '#', '#'}},
    {"cat null source", Copy::Cat, "x", nullptr, 0, {'x', 0, '#', '#', '#', '#', '#', '#'}},
    {"cat null dest", Copy::Cat, nullptr, "a", 0, {}},
    {"ncat bound", Copy::NCat, "x", "abc", 2, {'x', 'a', 'b', 0, '#', '#', '#', '#'}},
    {"ncat short source", Copy::NCat, "x", "abc", 10, {'x', 'a', 'b', 'c', 0, '#', '#', '#'}},
    {"ncat n0", Copy::NCat, "x", "abc", 0, {'x', 0, '#', '#', '#', '#', '#', '#'}},
    {"ncat null source", Copy::NCat, "x", nullptr, 3, {'x', 0, '#', '#', '#', '#', '#', '#'}},
    {"ncat null dest", Copy::NCat, nullptr, "a", 1, {}},
};

char *run_copy(const CopyCase &c, char *d) {
    switch (c.op) {
    case Copy::Cpy: return strcpy(d, c.s);
    case Copy::NCpy: return strncpy(d, c.s, c.n);
    case Copy::Cat: return strcat(d, c.s);
    case Copy::NCat: return strncat(d, c.s, c.n);
    }
    return nullptr;
}

void test_copy() {
    for (const CopyCase &c : kCopyCases) {
        int before = g_check_failures;
        char area[kCopyArea + 1];
        for (char &byte : area) byte = '#';
        char *d = nullptr;
        if (c.initial != nullptr) {
            d = area;
            for (size_t i = 0; i <= check_length(c.initial); i++) area[i] = c.initial[i];
        }
        CHECK(run_copy(c, d) == d);
        if (d != nullptr) CHECK_BYTES(area, c.want, kCopyArea);
        CHECK_EQ(area[kCopyArea], '#');
        check_case_end(before, c.name);
    }
    // A low destination is given back without a write (a write would fault).
    CHECK(strcat(kLow, "a") == kLow);
    CHECK(strncat(kLowTop, "a", 1) == kLowTop);
}

enum class Search { Chr, RChr, Str };

struct SearchCase {
    const char *name;
    Search op;
    const char *h;
    int c;
    const char *needle;
    int want;  // offset into h, or -1 for null
};

const SearchCase kSearchCases[] = {
    {"chr terminator", Search::Chr, "abc", 0, nullptr, 3},
    {"rchr terminator", Search::RChr, "abc", 0, nullptr, 3},
    {"chr low 8 bits", Search::Chr, "abc", 0x161, nullptr, 0},
    {"chr 0x100 terminator", Search::Chr, "abc", 0x100, nullptr, 3},
    {"chr first", Search::Chr, "abca", 'a', nullptr, 0},
    {"rchr last", Search::RChr, "abca", 'a', nullptr, 3},
    {"chr high byte", Search::Chr, "a\xe9", 0xe9, nullptr, 1},
    {"rchr negative c", Search::RChr, "\xe9x\xe9", -23, nullptr, 2},
    {"chr missing", Search::Chr, "abc", 'z', nullptr, -1},
    {"rchr missing", Search::RChr, "abc", 'z', nullptr, -1},
    {"chr null", Search::Chr, nullptr, 'a', nullptr, -1},
    {"rchr null", Search::RChr, nullptr, 0, nullptr, -1},
    {"str empty needle", Search::Str, "abc", 0, "", 0},
    {"str empty both", Search::Str, "", 0, "", 0},
    {"str restart", Search::Str, "aab", 0, "ab", 1},
    {"str later", Search::Str, "abcabd", 0, "abd", 3},
    {"str at end", Search::Str, "xyab", 0, "ab", 2},
    {"str empty haystack", Search::Str, "", 0, "a", -1},
    {"str needle longer", Search::Str, "abc", 0, "abcd", -1},
    {"str null haystack", Search::Str, nullptr, 0, "a", -1},
    {"str null needle", Search::Str, "a", 0, nullptr, -1},
};

const char *run_search(const SearchCase &c) {
    switch (c.op) {
    case Search::Chr: return strchr(c.h, c.c);
    case Search::RChr: return strrchr(c.h, c.c);
    case Search::Str: return strstr(c.h, c.needle);
    }
    return nullptr;
}

void test_search() {
    for (const SearchCase &c : kSearchCases) {
        int before = g_check_failures;
        const char *found = run_search(c);
        CHECK_EQ(found == nullptr ? -1 : found - c.h, c.want);
        check_case_end(before, c.name);
    }
}

// Memory routines over every alignment of both ends and lengths that reach
// past two whole words, against a byte-at-a-time model; the bytes around
// the destination must stay as they were.
constexpr int kSpan = 48;
constexpr size_t kMaxLength = 19;

void fill_pattern(unsigned char *area, int seed) {
    for (int i = 0; i < kSpan; i++) area[i] = static_cast<unsigned char>(i * 7 + seed);
}

void test_memcpy_alignments() {
    for (size_t d_off = 0; d_off < 4; d_off++) {
        for (size_t s_off = 0; s_off < 4; s_off++) {
            for (size_t n = 0; n <= kMaxLength; n++) {
                unsigned char src[kSpan], dst[kSpan], want[kSpan];
                fill_pattern(src, 1);
                fill_pattern(dst, 100);
                fill_pattern(want, 100);
                for (size_t i = 0; i < n; i++) want[8 + d_off + i] = src[8 + s_off + i];
                CHECK(memcpy(dst + 8 + d_off, src + 8 + s_off, n) == dst + 8 + d_off);
                int before = g_check_failures;
                CHECK_BYTES(dst, want, kSpan);
                if (g_check_failures != before) {
                    check_say_number(d_off * 10000 + s_off * 100 + n);
                    check_say(" = memcpy dst offset, src offset, length\n");
                    return;
                }
            }
        }
    }
}

// A forward byte copy onto itself a few bytes higher repeats the first bytes.
void test_memcpy_forward_overlap() {
    for (size_t gap = 1; gap <= 5; gap++) {
        for (size_t n = 0; n <= kMaxLength; n++) {
            unsigned char area[kSpan], want[kSpan];
            fill_pattern(area, 3);
            fill_pattern(want, 3);
            for (size_t i = 0; i < n; i++) want[9 + gap + i] = want[9 + i];
            memcpy(area + 9 + gap, area + 9, n);
            int before = g_check_failures;
            CHECK_BYTES(area, want, kSpan);
            if (g_check_failures != before) {
                check_say_number(gap * 100 + n);
                check_say(" = memcpy overlap gap, length\n");
                return;
            }
        }
    }
}

void test_memmove() {
    for (int shift = -6; shift <= 6; shift++) {
        for (size_t n = 0; n <= kMaxLength; n++) {
            unsigned char area[kSpan], want[kSpan];
            fill_pattern(area, 5);
            fill_pattern(want, 5);
            unsigned char before_move[kSpan];
            fill_pattern(before_move, 5);
            for (size_t i = 0; i < n; i++) (want + 16 + shift)[i] = before_move[16 + i];
            CHECK(memmove(area + 16 + shift, area + 16, n) == area + 16 + shift);
            int before = g_check_failures;
            CHECK_BYTES(area, want, kSpan);
            if (g_check_failures != before) {
                check_say_number(int64_t{shift} * 100 + n);
                check_say(" = memmove shift, length\n");
                return;
            }
        }
    }
    unsigned char pair[6] = {1, 2, 3, 4, 5, 6};
    memmove(pair + 1, pair, 4);
    CHECK_BYTES(pair, "\x01\x01\x02\x03\x04\x06", 6);
    memmove(pair, pair + 1, 4);
    CHECK_BYTES(pair, "\x01\x02\x03\x04\x04\x06", 6);
}

void test_memset() {
    for (size_t off = 0; off < 4; off++) {
        for (size_t n = 0; n <= kMaxLength; n++) {
            unsigned char area[kSpan], want[kSpan];
            fill_pattern(area, 9);
            fill_pattern(want, 9);
            for (size_t i = 0; i < n; i++) want[8 + off + i] = 0xab;
            CHECK(memset(area + 8 + off, 0x1ab, n) == area + 8 + off);
            int before = g_check_failures;
            CHECK_BYTES(area, want, kSpan);
            if (g_check_failures != before) {
                check_say_number(off * 100 + n);
                check_say(" = memset offset, length\n");
                return;
            }
        }
    }
}

struct DupCase {
    const char *name;
    const char *s;
    size_t n;  // kWhole: strdup, else strndup
    const char *want;
};

const DupCase kDupCases[] = {
    {"dup", "hello", kWhole, "hello"}, {"dup empty", "", kWhole, ""},  {"dup low", kLowTop, kWhole, ""},
    {"ndup cut", "abcdef", 3, "abc"},  {"ndup short", "ab", 10, "ab"}, {"ndup n0", "ab", 0, ""},
    {"ndup low", kLow, 5, ""},
};

void test_duplicate() {
    for (const DupCase &c : kDupCases) {
        int before = g_check_failures;
        char *copy = c.n == kWhole ? strdup(c.s) : strndup(c.s, c.n);
        CHECK(copy != nullptr && copy != c.s);
        if (copy != nullptr) {
            size_t length = check_length(c.want);
            CHECK_BYTES(copy, c.want, length + 1);
            CHECK_EQ(block_size(copy), length + 1);
        }
        check_case_end(before, c.name);
    }
    CHECK(strdup(nullptr) == nullptr);
    CHECK(strndup(nullptr, 3) == nullptr);
}

// Runs last: it fills the heap.
void test_duplicate_when_full() {
    uint32_t room = kiv::heap::kArenaSize - kiv::heap::g_heap_used;
    CHECK(room >= 8 && malloc(room - 4) != nullptr);
    CHECK(strdup("a") == nullptr);
    CHECK(strndup("abc", 2) == nullptr);
    CHECK_EQ(errno, ENOMEM);
}

constexpr int kNoToken = -1;
constexpr int kMaxCalls = 5;

struct TokenCase {
    const char *name;
    const char *text;
    const char *delims;
    int want[kMaxCalls];  // token offsets of successive calls, kNoToken for null
};

const TokenCase kTokenCases[] = {
    {"spaces and commas", "  a,,b  ", " ,", {2, 5, kNoToken, kNoToken, kNoToken}},
    {"null delims", "abc", nullptr, {0, kNoToken, kNoToken, kNoToken, kNoToken}},
    {"empty delims", "a b", "", {0, kNoToken, kNoToken, kNoToken, kNoToken}},
    {"empty text", "", ",", {kNoToken, kNoToken, kNoToken, kNoToken, kNoToken}},
    {"only delims", ",,,", ",", {kNoToken, kNoToken, kNoToken, kNoToken, kNoToken}},
    {"trailing delim", "a,", ",", {0, kNoToken, kNoToken, kNoToken, kNoToken}},
    {"three tokens", "x;y;z", ";", {0, 2, 4, kNoToken, kNoToken}},
};

void test_strtok() {
    // Before any string there is no saved position.
    CHECK(strtok(nullptr, ",") == nullptr);
    for (const TokenCase &c : kTokenCases) {
        int before = g_check_failures;
        char text[16];
        for (size_t i = 0; i <= check_length(c.text); i++) text[i] = c.text[i];
        for (int call = 0; call < kMaxCalls; call++) {
            char *token = strtok(call == 0 ? text : nullptr, c.delims);
            CHECK_EQ(token == nullptr ? kNoToken : token - text, c.want[call]);
        }
        check_case_end(before, c.name);
    }
    // The delimiter after a token becomes its terminator; a new string
    // abandons the old one.
    char first[] = "a,b", second[] = "p q";
    CHECK(strtok(first, ",") == first);
    CHECK_BYTES(first, "a\0b", 4);
    CHECK(strtok(second, " ") == second);
    CHECK(strtok(nullptr, " ") == second + 2);
    CHECK(strtok(nullptr, ",") == nullptr);
}

struct ErrorTextCase {
    int code;
    const char *text;
};

const ErrorTextCase kErrorTexts[] = {
    {0, "ok"},
    {ENOENT, "no such file"},
    {EINVAL, "invalid argument"},
    {ENOSYS, "not implemented"},
    {ENOMEM, "error"},
    {1, "error"},
    {-2, "error"},
    {INT32_MIN, "error"},
    {INT32_MAX, "error"},
};

// Texts are constants: the same code gives the same pointer every time.
void test_strerror() {
    for (const ErrorTextCase &c : kErrorTexts) {
        int before = g_check_failures;
        const char *text = strerror(c.code);
        CHECK(text != nullptr);
        if (text != nullptr) CHECK_BYTES(text, c.text, check_length(c.text) + 1);
        CHECK(strerror(c.code) == text);
        if (g_check_failures != before) {
            check_say("  for code ");
            check_say_number(c.code);
            check_say("\n");
        }
    }
    CHECK(strerror(1) == strerror(-2));
}

}  // namespace

extern "C" int main() {
    test_strerror();
    test_strtok();
    test_compare();
    test_length();
    test_copy();
    test_search();
    test_memcpy_alignments();
    test_memcpy_forward_overlap();
    test_memmove();
    test_memset();
    test_duplicate();
    test_duplicate_when_full();
    return check_done();
}
