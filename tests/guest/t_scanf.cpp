// Formatted input: the directives, the four blank sets, each conversion's
// digit and word rules, and fscanf's token reading over a file.
#include "check.h"
#include "fcntl.h"
#include "stdio.h"

namespace {

constexpr int32_t kUntouched = 0x5a5a5a5a;
constexpr uint32_t kPageSize = 4096;
constexpr uint32_t kWordSize = 16;

void report_case(int line, const char *input, const char *format) {
    check_fail(__FILE__, line, format);
    check_say("  input '");
    check_say(input);
    check_say("'\n");
}

// Two integer destinations; an expected kUntouched means nothing stored.
void check_integers() {
    struct Case {
        int line;
        const char *input;
        const char *format;
        int result;
        int32_t values[2];
    };
    const Case cases[] = {
        {__LINE__, "42", "%d", 1, {42, kUntouched}},
        {__LINE__, "  -17", "%d", 1, {-17, kUntouched}},
        {__LINE__, "+5", "%d", 1, {5, kUntouched}},
        {__LINE__, "- 5", "%d", 0, {kUntouched, kUntouched}},
        {__LINE__, "+-5", "%d", 0, {kUntouched, kUntouched}},
        {__LINE__, "4294967297", "%d", 1, {1, kUntouched}},
        {__LINE__, "\t5", "%d", 1, {5, kUntouched}},
        // base prefixes of 'i'
        {__LINE__, "0x1f", "%i", 1, {31, kUntouched}},
        {__LINE__, "0X1F", "%i", 1, {31, kUntouched}},
        {__LINE__, "-0x10", "%i", 1, {-16, kUntouched}},
        {__LINE__, "010", "%i", 1, {8, kUntouched}},
        {__LINE__, "08", "%i%d", 2, {0, 8}},
        {__LINE__, "0x", "%i", 0, {kUntouched, kUntouched}},
        {__LINE__, "0xg", "%i", 0, {kUntouched, kUntouched}},
        {__LINE__, "19", "%i", 1, {19, kUntouched}},
        // hexadecimal: no prefix, a sign allowed
        {__LINE__, "0x1f", "%xx%x", 2, {0, 31}},
        {__LINE__, "ff", "%x", 1, {255, kUntouched}},
        {__LINE__, "-ff", "%X", 1, {-255, kUntouched}},
        {__LINE__, "FfFfFfFf1", "%x", 1, {static_cast<int32_t>(0xfffffff1u), kUntouched}},
        // 'u' refuses any sign
        {__LINE__, "-1", "%u", 0, {kUntouched, kUntouched}},
        {__LINE__, "+1", "%u", 0, {kUntouched, kUntouched}},
        {__LINE__, " 4294967295", "%u", 1, {-1, kUntouched}},
        // blanks: a number skips spaces and tabs only, a directive newlines too
        {__LINE__, "\n 5", "%d", 0, {kUntouched, kUntouched}},
        {__LINE__, "\n 5", " %d", 1, {5, kUntouched}},
        {__LINE__, "1\n\t 2", "%d\n%d", 2, {1, 2}},
        {__LINE__, "1 2", "%d   \t\n%d", 2, {1, 2}},
        {__LINE__, "\v5", " %d", 0, {kUntouched, kUntouched}},
        {__LINE__, "\v5", "\v%d", 1, {5, kUntouched}},
        {__LINE__, "\r5", "%d", 0, {kUntouched, kUntouched}},
        // suppression and widths
        {__LINE__, "5", "%*d%d", 0, {kUntouched, kUntouched}},
        {__LINE__, "5 6", "%*d%d", 1, {6, kUntouched}},
        {__LINE__, "12345", "%2d", 1, {12345, kUntouched}},
        {__LINE__, "7 8", "%5d%*5d", 1, {7, kUntouched}},
        // literals and '%%'
        {__LINE__, "100%", "%d%%", 1, {100, kUntouched}},
        {__LINE__, "100", "%d%%", 1, {100, kUntouched}},
        {__LINE__, "%7", "%*%%d", 1, {7, kUntouched}},
        {__LINE__, "1,2", "%d,%d", 2, {1, 2}},
        {__LINE__, "1;2", "%d,%d", 1, {1, kUntouched}},
        {__LINE__, "x1", "X%d", 0, {kUntouched, kUntouched}},
        // what the scanner does not know ends the scan where it stands
        {__LINE__, "7", "%ld", 0, {kUntouched, kUntouched}},
        {__LINE__, "7 8", "%d %o", 1, {7, kUntouched}},
        {__LINE__, "7 8", "%d %[0-9]", 1, {7, kUntouched}},
        {__LINE__, "7 8", "%d %5*d", 1, {7, kUntouched}},
        {__LINE__, "7 8", "%d %", 1, {7, kUntouched}},
        {__LINE__, "7", "%W", 0, {kUntouched, kUntouched}},
        {__LINE__, "7", "%y", 0, {kUntouched, kUntouched}},
        // empty input or format
        {__LINE__, "", "%d", 0, {kUntouched, kUntouched}},
        {__LINE__, "5", "", 0, {kUntouched, kUntouched}},
        {__LINE__, "  ", " %d", 0, {kUntouched, kUntouched}},
    };
    for (const Case &c : cases) {
        int32_t values[2] = {kUntouched, kUntouched};
        int result = sscanf(c.input, c.format, &values[0], &values[1]);
        if (result != c.result || values[0] != c.values[0] || values[1] != c.values[1])
            report_case(c.line, c.input, c.format);
    }
}

// Two word destinations; an expected null means nothing stored.
void check_words() {
    struct Case {
        int line;
        const char *input;
        const char *format;
        int result;
        const char *words[2];
    };
    const Case cases[] = {
        {__LINE__, "a\nb", "%s%s", 2, {"a", ""}},
        {__LINE__, "a\nb", "%s %s", 2, {"a", "b"}},
        {__LINE__, "a\tb", "%s%s", 2, {"a", "b"}},
        {__LINE__, "ab\rcd\v\fx e", "%s", 1, {"ab\rcd\v\fx", nullptr}},
        {__LINE__, "   ", "%s", 0, {nullptr, nullptr}},
        {__LINE__, "a\n", "%s%*s%s", 2, {"a", ""}},
        {__LINE__, "one two", "%*s%s", 1, {"two", nullptr}},
        {__LINE__, "1x 2", "%*d%s", 1, {"x", nullptr}},
        // a width bounds the word and leaves the rest for what follows
        {__LINE__, "abcdefgh", "%3s%s", 2, {"abc", "defgh"}},
        {__LINE__, "abc def", "%5s%s", 2, {"abc", "def"}},
        {__LINE__, "abcdef", "%*2s%s", 1, {"cdef", nullptr}},
    };
    for (const Case &c : cases) {
        char words[2][kWordSize] = {"#", "#"};
        int result = sscanf(c.input, c.format, words[0], words[1]);
        bool ok = result == c.result;
        for (int i = 0; i < 2; i++) ok = ok && check_text_equal(words[i], c.words[i] != nullptr ? c.words[i] : "#");
        if (!ok) report_case(c.line, c.input, c.format);
    }
}

void check_characters() {
    struct Case {
        int line;
        const char *input;
        const char *format;
        int result;
        char chars[2];
    };
    const Case cases[] = {
        {__LINE__, " x", "%c", 1, {' ', '#'}},     {__LINE__, "\nx", "%c%c", 2, {'\n', 'x'}},
        {__LINE__, "a,b", "%c,%c", 2, {'a', 'b'}}, {__LINE__, "a;b", "%c,%c", 1, {'a', '#'}},
        {__LINE__, "abc", "%5c%c", 2, {'a', 'b'}}, {__LINE__, "ab", "%*c%c", 1, {'b', '#'}},
        {__LINE__, "a", "%c%c", 1, {'a', '#'}},    {__LINE__, "", "%c", 0, {'#', '#'}},
    };
    for (const Case &c : cases) {
        char chars[2] = {'#', '#'};
        int result = sscanf(c.input, c.format, &chars[0], &chars[1]);
        if (result != c.result || chars[0] != c.chars[0] || chars[1] != c.chars[1])
            report_case(c.line, c.input, c.format);
    }
}

void check_mixed() {
    int32_t number = kUntouched;
    char word[kWordSize] = "#";
    CHECK_EQ(sscanf("12abc", "%d%s", &number, word), 2);
    CHECK_EQ(number, 12);
    CHECK(check_text_equal(word, "abc"));
}

// Null pointers: no input or format reads nothing; a null destination uses
// up its argument but stores and counts nothing, and the input moves on.
void check_null_pointers() {
    int32_t number = kUntouched;
    char ch = '#';
    char word[kWordSize] = "#";
    CHECK_EQ(sscanf(nullptr, "%d", &number), 0);
    CHECK_EQ(sscanf("5", nullptr, &number), 0);
    CHECK_EQ(number, kUntouched);
    CHECK_EQ(sscanf("5 6", "%d%d", nullptr, &number), 1);
    CHECK_EQ(number, 6);
    CHECK_EQ(sscanf("xy", "%c%c", nullptr, &ch), 1);
    CHECK_EQ(ch, 'y');
    CHECK_EQ(sscanf("ab cd", "%s%s", nullptr, word), 1);
    CHECK(check_text_equal(word, "cd"));
}

// "%15s" into the last 16 bytes of a mapped page: a copy that ignored the
// width would run off the page.
void check_width_guards_page_edge() {
    char *page = static_cast<char *>(mmap(nullptr, kPageSize, 3, 0x22, -1, 0));
    CHECK(page != MAP_FAILED);
    if (page == MAP_FAILED) return;
    char *word = page + kPageSize - kWordSize;
    char rest[32];
    CHECK_EQ(sscanf("abcdefghijklmnopqrstuvwxyz", "%15s%s", word, rest), 2);
    CHECK(check_text_equal(word, "abcdefghijklmno"));
    CHECK(check_text_equal(rest, "pqrstuvwxyz"));
    munmap(page, kPageSize);
}

// fscanf reads descriptor streams only; the record is built here so these
// checks depend on nothing but the scanner.
FILE descriptor_stream(int fd) {
    FILE stream{};
    stream.kind = KIV_FILE_DESCRIPTOR;
    stream.fd = fd;
    return stream;
}

int open_with(const char *name, const char *content, uint32_t length) {
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC);
    write(fd, content, length);
    close(fd);
    return open(name, O_RDONLY);
}

void check_fscanf_token_per_call() {
    FILE stream = descriptor_stream(open_with("two.txt", "  12 34", 7));
    int32_t first = kUntouched, second = kUntouched;
    CHECK_EQ(fscanf(&stream, "%d %d", &first, &second), 1);
    CHECK_EQ(first, 12);
    CHECK_EQ(second, kUntouched);
    CHECK_EQ(stream.pos, 5);  // the blanks, the token and the blank after it
    CHECK_EQ(stream.eof, 0);
    CHECK_EQ(fscanf(&stream, "%d", &second), 1);
    CHECK_EQ(second, 34);
    CHECK_EQ(stream.pos, 7);
    CHECK_EQ(stream.eof, 1);
    CHECK_EQ(fscanf(&stream, "%d", &second), -1);
    CHECK_EQ(stream.pos, 7);
    close(stream.fd);
}

void check_fscanf_delimiters() {
    FILE stream = descriptor_stream(open_with("cr.txt", "5\r6,7\v8\n", 8));
    int32_t values[2] = {kUntouched, kUntouched};
    char word[kWordSize];
    CHECK_EQ(fscanf(&stream, "%d", &values[0]), 1);
    CHECK_EQ(values[0], 5);
    CHECK_EQ(fscanf(&stream, "%d,%d", &values[0], &values[1]), 2);  // one token: "6,7\v8"
    CHECK_EQ(values[1], 7);
    CHECK_EQ(stream.pos, 8);
    CHECK_EQ(stream.eof, 0);
    CHECK_EQ(fscanf(&stream, "%s", word), -1);
    CHECK_EQ(stream.eof, 1);
    close(stream.fd);
}

void check_fscanf_blanks_only() {
    FILE stream = descriptor_stream(open_with("blank.txt", " \t\r\n ", 5));
    char word[kWordSize] = "#";
    CHECK_EQ(fscanf(&stream, "%s", word), -1);
    CHECK_EQ(stream.eof, 1);
    CHECK_EQ(stream.pos, 5);
    CHECK(check_text_equal(word, "#"));
    close(stream.fd);
}

// A token longer than the token buffer is cut but consumed whole.
char g_long_token[302];

void check_fscanf_long_token() {
    for (uint32_t i = 0; i < 300; i++) g_long_token[i] = static_cast<char>('a' + i % 26);
    g_long_token[300] = ' ';
    g_long_token[301] = 'z';
    FILE stream = descriptor_stream(open_with("long.txt", g_long_token, sizeof g_long_token));
    char word[300];
    CHECK_EQ(fscanf(&stream, "%s", word), 1);
    CHECK_EQ(check_length(word), 255);
    CHECK_BYTES(word, g_long_token, 255);
    CHECK_EQ(stream.pos, 301);
    CHECK_EQ(fscanf(&stream, "%s", word), 1);
    CHECK(check_text_equal(word, "z"));
    close(stream.fd);
}

void check_fscanf_refusals() {
    int32_t number = kUntouched;
    FILE unreadable = descriptor_stream(99);
    CHECK_EQ(fscanf(&unreadable, "%d", &number), -1);
    CHECK_EQ(unreadable.eof, 1);
    FILE memory = descriptor_stream(open_with("mem.txt", "5", 1));
    memory.kind = KIV_FILE_MEMORY;
    CHECK_EQ(fscanf(&memory, "%d", &number), -1);
    memory.kind = KIV_FILE_WHOLE;
    CHECK_EQ(fscanf(&memory, "%d", &number), -1);
    memory.kind = KIV_FILE_DESCRIPTOR;
    CHECK_EQ(fscanf(&memory, nullptr), -1);
    CHECK_EQ(memory.pos, 0);
    CHECK_EQ(fscanf(nullptr, "%d", &number), -1);
    CHECK_EQ(number, kUntouched);
    close(memory.fd);
}

}  // namespace

extern "C" int main() {
    check_integers();
    check_words();
    check_characters();
    check_mixed();
    check_null_pointers();
    check_width_guards_page_edge();
    check_fscanf_token_per_call();
    check_fscanf_delimiters();
    check_fscanf_blanks_only();
    check_fscanf_long_token();
    check_fscanf_refusals();
    return check_done();
}
