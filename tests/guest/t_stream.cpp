// The stream layer's write side on records built here: growth and
// publication of memory and whole-file buffers, refusals that must leave a
// stream untouched, the writers' results and the indicators. The console
// side (system-call pattern) is checked from the host.
#include "check.h"
#include "check_case.h"
#include "stdio.h"
#include "stdio/stream.h"
#include "stdlib.h"

using kiv::stdio::file_write_bytes;

namespace {

constexpr uint32_t kFirstCapacity = 256;

FILE record_of_kind(uint32_t kind) {
    FILE stream{};
    stream.kind = kind;
    return stream;
}

void fill(char *bytes, uint32_t count, char value) {
    for (uint32_t i = 0; i < count; i++) bytes[i] = value;
}

// Capacities 256 then doubling, the NUL always stored and counted in the
// room needed, for both buffered kinds; only memory streams publish.
void check_growth() {
    static char bytes[600];
    fill(bytes, sizeof bytes, 'q');
    const uint32_t kinds[] = {KIV_FILE_MEMORY, KIV_FILE_WHOLE};
    for (uint32_t kind : kinds) {
        int before = g_check_failures;
        char *published = nullptr;
        size_t published_size = 0;
        FILE stream = record_of_kind(kind);
        stream.user_buf = &published;
        stream.user_size = &published_size;
        bool publishes = kind == KIV_FILE_MEMORY;

        CHECK_EQ(file_write_bytes(&stream, bytes, 0), 0);
        CHECK(stream.buf == nullptr && stream.cap == 0);
        CHECK_EQ(file_write_bytes(&stream, "abc", 3), 0);
        CHECK_EQ(stream.cap, kFirstCapacity);
        CHECK_EQ(stream.len, 3);
        CHECK_BYTES(stream.buf, "abc", 4);
        CHECK(published == (publishes ? stream.buf : nullptr));
        CHECK_EQ(published_size, publishes ? 3 : 0);

        CHECK_EQ(file_write_bytes(&stream, bytes, 252), 0);
        CHECK_EQ(stream.cap, kFirstCapacity);
        char *first_block = stream.buf;
        CHECK_EQ(file_write_bytes(&stream, "!", 1), 0);
        CHECK_EQ(stream.cap, 2 * kFirstCapacity);
        CHECK(stream.buf != first_block);
        CHECK_BYTES(stream.buf, "abcqq", 5);
        CHECK_EQ(stream.buf[255], '!');
        CHECK_EQ(stream.buf[256], 0);
        CHECK(published == (publishes ? stream.buf : nullptr));
        CHECK_EQ(published_size, publishes ? 256 : 0);

        CHECK_EQ(file_write_bytes(&stream, bytes, 600), 0);
        CHECK_EQ(stream.cap, 1024);
        CHECK_EQ(stream.len, 856);
        check_case_end(before, kind == KIV_FILE_MEMORY ? "memory stream" : "whole-file stream");
    }
}

// A memory stream publishes only when both of the caller's variables exist.
void check_publication_needs_both_variables() {
    char *published = nullptr;
    FILE stream = record_of_kind(KIV_FILE_MEMORY);
    stream.user_buf = &published;
    CHECK_EQ(file_write_bytes(&stream, "x", 1), 0);
    CHECK(published == nullptr);
}

// Appends that could never fit: the room needed passes 2^31, or does not
// fit in 32 bits at all. Nothing may be written, even behind a buffer
// whose capacity a wrapped size would seem to satisfy.
void check_impossible_sizes_refused() {
    static char guard[kFirstCapacity];
    struct Case {
        const char *name;
        uint32_t len;
        uint32_t count;
    };
    const Case cases[] = {
        {"required just over 2^31", 0x7ffffff0u, 0x10}, {"count alone over 2^31", 0, 0x80000000u},
        {"required wraps to 0", 0xfffffffeu, 1},        {"required wraps to 1", 0xffffffffu, 1},
        {"count wraps the sum", 0x100, 0xffffff00u},
    };
    for (const Case &c : cases) {
        int before = g_check_failures;
        FILE stream = record_of_kind(KIV_FILE_WHOLE);
        stream.buf = guard;
        stream.cap = sizeof guard;
        stream.len = c.len;
        CHECK_EQ(file_write_bytes(&stream, guard, c.count), -1);
        CHECK(stream.buf == guard);
        CHECK_EQ(stream.len, c.len);
        CHECK_EQ(stream.cap, sizeof guard);
        check_case_end(before, c.name);
    }
}

void check_refusals() {
    FILE memory = record_of_kind(KIV_FILE_MEMORY);
    FILE descriptor_two = record_of_kind(KIV_FILE_DESCRIPTOR);
    descriptor_two.fd = 2;
    CHECK_EQ(file_write_bytes(nullptr, "x", 1), -1);
    CHECK_EQ(file_write_bytes(nullptr, "x", 0), -1);
    CHECK_EQ(file_write_bytes(&memory, nullptr, 0), -1);
    CHECK_EQ(file_write_bytes(stdin, "x", 1), -1);
    CHECK_EQ(file_write_bytes(&descriptor_two, "x", 1), -1);
    CHECK_EQ(file_write_bytes(stdin, "x", 0), 0);
}

void check_writers() {
    FILE stream = record_of_kind(KIV_FILE_WHOLE);
    CHECK_EQ(fputc(0x141, &stream), 0x141);
    CHECK_EQ(fputc(-1, &stream), -1);
    CHECK_EQ(fputs("bc", &stream), 2);
    CHECK_EQ(fputs("", &stream), 0);
    CHECK_EQ(fwrite("defg", 2, 2, &stream), 2);
    CHECK_EQ(stream.len, 8);
    CHECK_BYTES(stream.buf,
                "A\xff"
                "bcdefg",
                9);
    CHECK_EQ(ferror(&stream), 0);

    CHECK_EQ(fputs(nullptr, &stream), -1);
    CHECK_EQ(fputs("", nullptr), -1);
    CHECK_EQ(fputs("x", stdin), -1);
    CHECK_EQ(fputs("", stdin), 0);
    CHECK_EQ(fputc('x', stdin), -1);
    CHECK_EQ(fwrite("x", 1, 1, stdin), 0);
    CHECK_EQ(ferror(stdin), 0);
    CHECK_EQ(fwrite(nullptr, 1, 1, &stream), 0);
    CHECK_EQ(fwrite("x", 0, 1, &stream), 0);
    CHECK_EQ(fwrite("x", 1, 0, &stream), 0);
    CHECK_EQ(fwrite("x", 1, 1, nullptr), 0);
    // The product needs 33 bits: refused before anything is read.
    CHECK_EQ(fwrite("x", 0x10000, 0x10000, &stream), 0);
    CHECK_EQ(stream.len, 8);
    CHECK_EQ(puts(nullptr), -1);
}

void check_indicators() {
    FILE stream = record_of_kind(KIV_FILE_MEMORY);
    stream.eof = 1;
    stream.error = 7;
    CHECK_EQ(feof(&stream), 1);
    CHECK_EQ(ferror(&stream), 7);
    CHECK_EQ(feof(nullptr), 1);
    CHECK_EQ(ferror(nullptr), 1);
    CHECK_EQ(fflush(nullptr), 0);
    CHECK_EQ(fflush(&stream), 0);
    setbuf(&stream, nullptr);
}

void check_standard_streams() {
    CHECK(stdin != stdout && stdout != stderr && stdin != stderr);
    CHECK_EQ(stdin->kind, KIV_FILE_DESCRIPTOR);
    CHECK_EQ(stdin->fd, 0);
    CHECK_EQ(stdout->kind, KIV_FILE_DESCRIPTOR);
    CHECK_EQ(stdout->fd, 1);
    CHECK_EQ(stderr->kind, KIV_FILE_DESCRIPTOR);
    CHECK_EQ(stderr->fd, 1);
    CHECK(stdout->buf == nullptr && stdout->len == 0 && stdout->cap == 0);
}

// Writers read stdout at each call, so storing a stream there redirects
// puts and putchar; puts appends text and newline separately.
void check_redirected_stdout() {
    FILE *console = stdout;
    FILE stream = record_of_kind(KIV_FILE_WHOLE);
    stdout = &stream;
    CHECK_EQ(puts("hi"), 0);
    CHECK_EQ(puts(""), 0);
    CHECK_EQ(putchar('!'), '!');
    stdout = console;
    CHECK_EQ(stream.len, 5);
    CHECK_BYTES(stream.buf, "hi\n\n!", 6);
}

// Heap exhaustion while growing: -1, and the stream keeps its content and
// capacity, so a smaller write still fits. Runs last: it uses up the heap.
void check_growth_failure_keeps_stream() {
    static char bytes[300];
    fill(bytes, sizeof bytes, 'z');
    char *published = nullptr;
    size_t published_size = 0;
    FILE stream = record_of_kind(KIV_FILE_MEMORY);
    stream.user_buf = &published;
    stream.user_size = &published_size;
    CHECK_EQ(file_write_bytes(&stream, bytes, 300), 0);
    char *block = stream.buf;
    for (uint32_t chunk = 0x10000; chunk != 0; chunk /= 2)
        while (malloc(chunk) != nullptr) {
        }
    CHECK_EQ(file_write_bytes(&stream, bytes, 300), -1);
    CHECK(stream.buf == block && published == block);
    CHECK_EQ(stream.len, 300);
    CHECK_EQ(stream.cap, 512);
    CHECK_EQ(published_size, 300);
    CHECK_EQ(stream.buf[300], 0);
    CHECK_EQ(file_write_bytes(&stream, "end", 3), 0);
    CHECK_EQ(stream.len, 303);
    CHECK_BYTES(stream.buf + 300, "end", 4);
}

}  // namespace

int main() {
    check_growth();
    check_publication_needs_both_variables();
    check_impossible_sizes_refused();
    check_refusals();
    check_writers();
    check_indicators();
    check_standard_streams();
    check_redirected_stdout();
    check_growth_failure_keeps_stream();
    return check_done();
}
