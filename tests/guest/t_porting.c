/* The kit's porting headers from C: non-local jumps through optimised
 * frames, NDEBUG, the "C" locale, wide strings and conversions, and the
 * stdio names that fail cleanly. */
#include <limits.h>
#include <stdint.h>

#include "check.h"
#include "errno.h"
#include "locale.h"
#include "setjmp.h"
#include "stdio.h"
#include "stdlib.h"
#include "string.h"
#include "time.h"
#include "wchar.h"
#include "wctype.h"

/* Whatever the build type says, assertions are off from here on. */
#ifndef NDEBUG
#define NDEBUG
#endif
#include "assert.h"

/* registers_survive(env): loads magic values into EBX, ESI, EDI and EBP,
 * calls setjmp, and hands env to clobber_and_jump, which overwrites them and
 * longjmps back. Returns a mask of the registers that did not come back
 * (bit 0 EBX, 1 ESI, 2 EDI, 3 EBP), with its own registers restored. */
int registers_survive(jmp_buf env);
void clobber_and_jump(jmp_buf env);

__asm__(
    "    .text\n"
    "    .globl registers_survive\n"
    "registers_survive:\n"
    "    pushl %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    movl 20(%esp), %eax\n"
    "    movl $0x0b0b0b0b, %ebx\n"
    "    movl $0x05050505, %esi\n"
    "    movl $0x0d0d0d0d, %edi\n"
    "    movl $0x0e0e0e0e, %ebp\n"
    "    pushl %eax\n"
    "    pushl %eax\n"
    "    call setjmp\n"
    "    addl $4, %esp\n"
    "    testl %eax, %eax\n"
    "    jnz 1f\n"
    "    call clobber_and_jump\n"
    "1:  xorl %eax, %eax\n"
    "    cmpl $0x0b0b0b0b, %ebx\n"
    "    je 2f\n"
    "    orl $1, %eax\n"
    "2:  cmpl $0x05050505, %esi\n"
    "    je 3f\n"
    "    orl $2, %eax\n"
    "3:  cmpl $0x0d0d0d0d, %edi\n"
    "    je 4f\n"
    "    orl $4, %eax\n"
    "4:  cmpl $0x0e0e0e0e, %ebp\n"
    "    je 5f\n"
    "    orl $8, %eax\n"
    "5:  addl $4, %esp\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebx\n"
    "    popl %ebp\n"
    "    ret\n");

void clobber_and_jump(jmp_buf env) {
    __asm__ volatile("movl $1, %%ebx\n\tmovl $2, %%esi\n\tmovl $3, %%edi" ::: "ebx", "esi", "edi");
    longjmp(env, 1);
}

static jmp_buf g_env;
static int g_depth_reached;

/* Recurses, keeping values of its own in each frame, and jumps from the
 * deepest one. */
static __attribute__((noinline)) int descend(int depth, int value) {
    int mine = value * 3 + depth;
    if (depth < 0) return mine;
    if (depth == 0) {
        g_depth_reached = 1;
        longjmp(g_env, value);
    }
    return descend(depth - 1, value) + mine;
}

static void jumps(int seed) {
    static const struct {
        int depth;
        int value;
        int expected; /* what setjmp returns the second time */
    } cases[] = {{0, 7, 7}, {5, 42, 42}, {50, -3, -3}, {3, 0, 1}};
    unsigned i;
    for (i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        int before = g_check_failures;
        int kept = seed * 11 + 5; /* unchanged after setjmp: kept in a register */
        volatile int changed = 1;
        int result;
        g_depth_reached = 0;
        result = setjmp(g_env);
        if (result == 0) {
            changed = 2;
            descend(cases[i].depth, cases[i].value);
            CHECK(!"descend returned");
        }
        CHECK_EQ(result, cases[i].expected);
        CHECK_EQ(g_depth_reached, 1);
        CHECK_EQ(kept, seed * 11 + 5);
        CHECK_EQ(changed, 2);
        if (g_check_failures != before) check_say("  in jump case\n");
    }
}

static void signal_forms(void) {
    sigjmp_buf env;
    volatile int passes = 0;
    if (sigsetjmp(env, 1) == 0) {
        passes++;
        siglongjmp(env, 9);
    }
    CHECK_EQ(passes, 1);
}

static void no_debug(void) {
    int evaluated = 0;
    assert(evaluated++ == 5);
    CHECK_EQ(evaluated, 0);
}

static void c_locale(void) {
    static const struct {
        int category;
        const char *name;
        int accepted;
    } cases[] = {{LC_ALL, "C", 1},           {LC_NUMERIC, "POSIX", 1}, {LC_CTYPE, "", 1}, {LC_ALL, 0, 1},
                 {LC_ALL, "en_US.UTF-8", 0}, {LC_TIME, "de_DE", 0},    {99, "C", 0},      {-1, 0, 0}};
    unsigned i;
    const struct lconv *conventions = localeconv();
    for (i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        const char *answer = setlocale(cases[i].category, cases[i].name);
        CHECK_EQ(answer != 0, cases[i].accepted);
        if (answer != 0) CHECK(strcmp(answer, "C") == 0);
    }
    CHECK(strcmp(conventions->decimal_point, ".") == 0);
    CHECK(strcmp(conventions->thousands_sep, "") == 0);
    CHECK_EQ(conventions->frac_digits, CHAR_MAX);
}

static void wide_strings(void) {
    wchar_t buffer[16];
    wchar_t *saved = 0;
    wchar_t tokens[] = L"a,b,,c";
    const wchar_t *tokens_expected[] = {L"a", L"b", L"c"};
    unsigned i;
    CHECK_EQ(wcslen(L"kivos"), 5);
    CHECK(wcscmp(L"abc", L"abd") < 0 && wcscmp(L"b", L"a") > 0 && wcscmp(L"x", L"x") == 0);
    CHECK(wcsncmp(L"abcX", L"abcY", 3) == 0);
    CHECK(wcscmp(L"\x100", L"a") > 0);
    wcscpy(buffer, L"ab");
    wcscat(buffer, L"cd");
    wcsncat(buffer, L"efgh", 2);
    CHECK(wcscmp(buffer, L"abcdef") == 0);
    CHECK(wcschr(buffer, L'd') == buffer + 3 && wcschr(buffer, L'z') == 0 && wcschr(buffer, 0) == buffer + 6);
    CHECK(wcsrchr(L"abab", L'b') != 0 && *(wcsrchr(L"abab", L'b') + 1) == 0);
    CHECK(wcsstr(buffer, L"cde") == buffer + 2 && wcsstr(buffer, L"") == buffer && wcsstr(buffer, L"x") == 0);
    CHECK_EQ(wcsspn(L"aabx", L"ab"), 3);
    CHECK_EQ(wcscspn(L"xyza", L"ab"), 3);
    CHECK(wcspbrk(buffer, L"fe") == buffer + 4);
    wmemset(buffer, L'z', 3);
    CHECK(wmemcmp(buffer, L"zzzdef", 6) == 0);
    wmemmove(buffer + 1, buffer, 5);
    CHECK(wmemcmp(buffer, L"zzzzde", 6) == 0);
    CHECK(wmemchr(buffer, L'd', 6) == buffer + 4 && wmemchr(buffer, L'd', 4) == 0);
    for (i = 0; i < 3; i++) {
        wchar_t *token = wcstok(i == 0 ? tokens : 0, L",", &saved);
        CHECK(token != 0 && wcscmp(token, tokens_expected[i]) == 0);
    }
    CHECK(wcstok(0, L",", &saved) == 0);
}

static void wide_conversions(void) {
    static const struct {
        const wchar_t *text;
        long value;
        int end;
        int error;
    } numbers[] = {{L" 42x", 42, 3, 0},
                   {L"0x1F", 31, 4, 0},
                   {L"-17", -17, 3, 0},
                   {L"7\x263a", 7, 1, 0},
                   {L"z", 0, 0, 0},
                   {L"99999999999", LONG_MAX, 11, ERANGE},
                   {L"-2147483649", LONG_MIN, 11, ERANGE}};
    char bytes[8];
    wchar_t wide[8];
    const char *source = "h\xe9!";
    const wchar_t *wide_source = L"ok\x100";
    mbstate_t state;
    unsigned i;
    for (i = 0; i < sizeof numbers / sizeof numbers[0]; i++) {
        wchar_t *end;
        long value;
        errno = 0;
        value = wcstol(numbers[i].text, &end, 0);
        CHECK_EQ(value, numbers[i].value);
        CHECK_EQ(end - numbers[i].text, numbers[i].end);
        CHECK_EQ(errno, numbers[i].error);
    }
    CHECK_EQ(wcstoll(L"-9000000000", 0, 10) == -9000000000LL, 1);
    CHECK_EQ(wcstoul(L" -1", 0, 10), ULONG_MAX);
    CHECK_EQ(wcstoul(L"-4294967295", 0, 10), 1);
    errno = 0;
    CHECK_EQ(wcstoul(L"4294967296", 0, 10), ULONG_MAX);
    CHECK_EQ(errno, ERANGE);
    CHECK_EQ(btowc('A'), L'A');
    CHECK_EQ(btowc(EOF), WEOF);
    CHECK_EQ(btowc((char)0xe9), 0xe9);
    CHECK_EQ(wctob(L'z'), 'z');
    CHECK_EQ(wctob(0x263a), EOF);
    memset(&state, 0, sizeof state);
    CHECK_EQ(mbsinit(&state), 1);
    CHECK_EQ(mbrtowc(wide, "q", 1, &state), 1);
    CHECK_EQ(wide[0], L'q');
    CHECK_EQ(mbrtowc(wide, "", 1, &state), 0);
    CHECK_EQ(mbrtowc(wide, "q", 0, &state), (size_t)-2);
    CHECK_EQ(mbstowcs(wide, source, 8), 3);
    CHECK(wide[1] == 0xe9 && wide[3] == 0);
    CHECK_EQ(mbstowcs(0, source, 0), 3);
    errno = 0;
    CHECK_EQ(wcstombs(bytes, wide_source, 8), (size_t)-1);
    CHECK_EQ(errno, EILSEQ);
    CHECK_EQ(wcstombs(bytes, L"fine", 8), 4);
    CHECK(strcmp(bytes, "fine") == 0);
    CHECK_EQ(wctomb(bytes, 0x41), 1);
    CHECK_EQ(wctomb(bytes, 0x263a), -1);
    CHECK_EQ(mblen("x", 1), 1);
    CHECK_EQ(mblen("", 1), 0);
    CHECK_EQ(MB_CUR_MAX, 1);
}

static void wide_classes(void) {
    static const struct {
        const char *name;
        wint_t member;
        wint_t outsider;
    } classes[] = {{"alpha", L'q', L'1'}, {"digit", L'7', L'x'},  {"space", L'\t', L'_'}, {"upper", L'Q', L'q'},
                   {"punct", L'!', L'a'}, {"xdigit", L'F', L'g'}, {"blank", L' ', L'\n'}, {"cntrl", 0x7f, L' '}};
    unsigned i;
    for (i = 0; i < sizeof classes / sizeof classes[0]; i++) {
        wctype_t class_id = wctype(classes[i].name);
        CHECK(class_id != 0);
        CHECK(iswctype(classes[i].member, class_id));
        CHECK(!iswctype(classes[i].outsider, class_id));
        CHECK(!iswctype(0x263a, class_id));
    }
    CHECK_EQ(wctype("colour"), 0);
    CHECK_EQ(towupper(L'a'), L'A');
    CHECK_EQ(towlower(0x100), 0x100);
    CHECK_EQ(towctrans(L'B', wctrans("tolower")), L'b');
    CHECK(wctrans("rot13") == 0);
    CHECK(iswalpha(L'z') && !iswalpha(0xe9) && iswspace(L'\n') && !iswdigit(WEOF));
}

/* Wide characters through the byte streams, one byte each. */
static void wide_streams(void) {
    char *memory = 0;
    size_t size = 0;
    wchar_t line[8];
    FILE *stream = open_memstream(&memory, &size);
    CHECK(stream != 0);
    if (stream == 0) return;
    CHECK_EQ(fputws(L"w\xe9!\n", stream), 0);
    CHECK_EQ(fputwc(L'z', stream), L'z');
    errno = 0;
    CHECK_EQ(fputwc(0x263a, stream), WEOF);
    CHECK_EQ(errno, EILSEQ);
    CHECK_EQ(size, 5);
    CHECK(memcmp(memory, "w\xe9!\nz", 5) == 0);
    CHECK(writefile("wide.txt", memory, size) >= 0);
    stream = fopen("wide.txt", "r");
    CHECK(stream != 0);
    if (stream == 0) return;
    CHECK(fgetws(line, 8, stream) == line && wcscmp(line, L"w\xe9!\n") == 0);
    CHECK_EQ(fgetwc(stream), L'z');
    CHECK_EQ(getwc(stream), WEOF);
    CHECK(fgetws(line, 8, stream) == 0);
    CHECK_EQ(fwide(stream, 1), 0);
    CHECK_EQ(fclose(stream), 0);
}

/* The calendar's failures and the allocation edges. */
static void calendar_and_memory_edges(void) {
    struct tm beyond = {8, 14, 3, 19, 0, 138, 0, 0, 0}; /* 2038-01-19 03:14:08, 2^31 seconds */
    char text[4];
    void *block;
    errno = 0;
    CHECK_EQ(mktime(&beyond), -1);
    CHECK_EQ(errno, EOVERFLOW);
    CHECK_EQ(beyond.tm_sec, 8); /* left as it was */
    CHECK_EQ(strftime(text, sizeof text, "%Q", &beyond), 0);
    CHECK_EQ(strftime(text, sizeof text, "%Y", &beyond), 0); /* "2038" and its NUL need 5 */
    CHECK_EQ(strftime(text, sizeof text, "%y", &beyond), 2);
    CHECK(strcmp(text, "38") == 0);
    block = aligned_alloc(4, 12);
    CHECK(block != 0 && (uintptr_t)block % 4 == 0);
    errno = 0;
    CHECK(aligned_alloc(3, 12) == 0 && errno == EINVAL);
    CHECK_EQ(at_quick_exit(0), 0);
}

/* What needs a kernel service kivos lacks fails with ENOSYS. */
static void unsupported_services(void) {
    char name[L_tmpnam];
    wchar_t wide[4];
    errno = 0;
    CHECK_EQ(rename("a", "b"), -1);
    CHECK_EQ(errno, ENOSYS);
    errno = 0;
    CHECK(tmpfile() == 0 && errno == ENOSYS);
    errno = 0;
    CHECK(tmpnam(name) == 0 && errno == ENOSYS);
    errno = 0;
    CHECK_EQ(system("ls"), -1);
    CHECK_EQ(errno, ENOSYS);
    CHECK_EQ(system(0), 0);
    errno = 0;
    CHECK_EQ(time(0), -1);
    CHECK_EQ(errno, ENOSYS);
    errno = 0;
    CHECK_EQ(clock(), -1);
    CHECK_EQ(errno, ENOSYS);
    errno = 0;
    CHECK_EQ(swprintf(wide, 4, L"%d", 1), -1);
    CHECK_EQ(errno, ENOSYS);
    CHECK_EQ(ungetc('x', stdin), EOF);
}

/* Line input, positions and the indicators on a file of the root. */
static void line_input(void) {
    static const char content[] = "first line\nsecond\nlast";
    static const char *const lines[] = {"first line\n", "second\n", "last"};
    char line[32];
    char small[4];
    fpos_t start;
    unsigned i;
    FILE *file;
    char *memory;
    size_t memory_size;
    CHECK(writefile("lines.txt", content, sizeof content - 1) >= 0);
    file = fopen("lines.txt", "r");
    CHECK(file != 0);
    if (file == 0) return;
    CHECK_EQ(fgetpos(file, &start), 0);
    for (i = 0; i < 3; i++) CHECK(fgets(line, sizeof line, file) == line && strcmp(line, lines[i]) == 0);
    CHECK(fgets(line, sizeof line, file) == 0);
    CHECK(feof(file));
    clearerr(file);
    CHECK(!feof(file));
    CHECK_EQ(fsetpos(file, &start), 0);
    CHECK(fgets(small, sizeof small, file) == small && strcmp(small, "fir") == 0);
    CHECK_EQ(getc(file), 's');
    CHECK_EQ(setvbuf(file, 0, _IONBF, 0), 0);
    CHECK(setvbuf(file, 0, 7, 0) != 0);
    CHECK(fgetpos(stdin, &start) != 0);
    CHECK_EQ(fclose(file), 0);
    CHECK_EQ(fileno(stdout), 1);
    file = fdopen(STDIN_FILENO, "r");
    CHECK(file != 0 && fileno(file) == STDIN_FILENO);
    errno = 0;
    CHECK(fdopen(1, "a") == 0 && errno == EINVAL);
    file = open_memstream(&memory, &memory_size);
    errno = 0;
    CHECK(file != 0 && fileno(file) == -1 && errno == EBADF);
    CHECK(freopen("lines.txt", "r", stdin) == stdin);
    CHECK(fgets(line, sizeof line, stdin) == line && strcmp(line, lines[0]) == 0);
    CHECK_EQ(remove("lines.txt"), 0);
    CHECK_EQ(remove("lines.txt"), -1);
}

int main(int argc, char **argv) {
    (void)argv;
    CHECK_EQ(registers_survive(g_env), 0);
    jumps(argc);
    signal_forms();
    no_debug();
    c_locale();
    wide_strings();
    wide_conversions();
    wide_classes();
    unsupported_services();
    line_input();
    wide_streams();
    calendar_and_memory_edges();
    return check_done();
}
