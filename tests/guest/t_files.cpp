// File and memory streams in the sandbox: reading with the eof and
// position rules, positioning, files written whole at fclose, the mode and
// name rules of fopen, and memory streams publishing as they grow.
#include "check.h"
#include "stdio.h"
#include "string.h"
#include "unistd.h"

namespace {

constexpr char kTenBytes[] = "0123456789";

// Each run starts from the same files, whatever an earlier run left.
void make_file(const char *name, const char *content) { CHECK(writefile(name, content, strlen(content)) >= 0); }

void check_fread_eof_and_position() {
    make_file("ten.txt", kTenBytes);
    FILE *f = fopen("ten.txt", "r");
    CHECK(f != nullptr);
    if (f == nullptr) return;
    CHECK_EQ(f->kind, KIV_FILE_DESCRIPTOR);
    CHECK(f->fd > 2);
    CHECK_EQ(ftell(f), 0);
    char buffer[13] = {};
    CHECK_EQ(fread(buffer, 4, 3, f), 2);
    CHECK_BYTES(buffer, kTenBytes, 11);
    CHECK_EQ(feof(f), 1);
    CHECK_EQ(ftell(f), 10);
    CHECK_EQ(fread(buffer, 4, 3, f), 0);
    CHECK_EQ(ftell(f), 10);

    rewind(f);
    CHECK_EQ(feof(f), 0);
    CHECK_EQ(ftell(f), 0);
    CHECK_EQ(fread(buffer, 5, 1, f), 1);
    CHECK_EQ(ftell(f), 5);
    CHECK_EQ(feof(f), 0);
    CHECK_EQ(fgetc(f), '5');
    CHECK_EQ(ftell(f), 6);

    CHECK_EQ(fseek(f, 2, SEEK_SET), 0);
    CHECK_EQ(ftell(f), 2);
    CHECK_EQ(fgetc(f), '2');
    CHECK_EQ(fseek(f, 0, SEEK_END), 0);
    CHECK_EQ(ftell(f), 10);
    CHECK_EQ(fgetc(f), -1);
    CHECK_EQ(feof(f), 1);
    // A refused seek changes nothing.
    CHECK_EQ(fseek(f, -100, SEEK_SET), -1);
    CHECK_EQ(feof(f), 1);
    CHECK_EQ(ftell(f), 10);
    CHECK_EQ(fseek(f, 3, SEEK_SET), 0);
    CHECK_EQ(feof(f), 0);
    CHECK_EQ(fclose(f), 0);
}

void check_fgetc_returns_bytes_unsigned() {
    make_file("high.bin", "\xff\x80");
    FILE *f = fopen("high.bin", "rb");
    CHECK(f != nullptr);
    if (f == nullptr) return;
    CHECK_EQ(fgetc(f), 0xff);
    CHECK_EQ(fgetc(f), 0x80);
    CHECK_EQ(fgetc(f), -1);
    CHECK_EQ(fclose(f), 0);
}

bool file_holds(const char *name, const char *content) {
    FILE *f = fopen(name, "r");
    if (f == nullptr) return false;
    char buffer[64] = {};
    uint32_t got = fread(buffer, 1, sizeof buffer - 1, f);
    fclose(f);
    return got == strlen(content) && strcmp(buffer, content) == 0;
}

// The file appears only at fclose, written whole; an earlier version is
// replaced, and a stream never written makes an empty file.
void check_written_whole_at_close() {
    make_file("out.txt", "old content, longer");
    const char *name = "out.txt";
    FILE *f = fopen(name, "wb");
    CHECK(f != nullptr);
    if (f == nullptr) return;
    CHECK_EQ(f->kind, KIV_FILE_WHOLE);
    CHECK(f->path != name && strcmp(f->path, name) == 0);
    CHECK_EQ(fputs("hello ", f), 6);
    CHECK_EQ(fprintf(f, "%d", 42), 2);
    CHECK(file_holds("out.txt", "old content, longer"));
    CHECK_EQ(fclose(f), 0);
    CHECK(file_holds("out.txt", "hello 42"));

    make_file("empty.txt", "not yet empty");
    FILE *empty = fopen("empty.txt", "w");
    CHECK(empty != nullptr);
    CHECK_EQ(fclose(empty), 0);
    CHECK(file_holds("empty.txt", ""));
}

void check_fopen_modes_and_names() {
    make_file("ten.txt", kTenBytes);
    struct Case {
        int line;
        const char *name;
        const char *mode;
        FILE *expected;  // a standard stream, or null
    };
    const Case cases[] = {
        {__LINE__, nullptr, "r", stdin},         {__LINE__, "-", "r+", stdin},
        {__LINE__, nullptr, "w", stdout},        {__LINE__, "-", "wx", stdout},
        {__LINE__, "-", "a", nullptr},           {__LINE__, nullptr, "", nullptr},
        {__LINE__, "-", nullptr, nullptr},       {__LINE__, "ten.txt", "a", nullptr},
        {__LINE__, "ten.txt", "", nullptr},      {__LINE__, "ten.txt", "R", nullptr},
        {__LINE__, "missing.txt", "r", nullptr},
    };
    for (const Case &c : cases)
        if (fopen(c.name, c.mode) != c.expected) check_fail(__FILE__, c.line, "fopen result");

    // The shortcuts follow the pointers as they are now.
    FILE *console = stdout;
    FILE other{};
    stdout = &other;
    CHECK(fopen("-", "w") == &other);
    CHECK_EQ(fclose(&other), 0);
    stdout = console;
}

void check_standard_streams_survive_fclose() {
    FILE *const standard[] = {stdin, stdout, stderr};
    for (FILE *stream : standard) {
        CHECK_EQ(fclose(stream), 0);
        CHECK_EQ(stream->kind, KIV_FILE_DESCRIPTOR);
    }
    CHECK_EQ(fputs("", stdout), 0);
}

// rewind clears both indicators on every kind; a null stream gets the
// fixed answers. (What is refused on which kind, and without a system
// call, is checked from the host with the trace.)
void check_rewind_and_null_streams() {
    char *text;
    size_t size;
    FILE *const buffered[] = {open_memstream(&text, &size), fopen("never-written.txt", "w")};
    for (FILE *stream : buffered) {
        stream->eof = 1;
        stream->error = 1;
        rewind(stream);
        CHECK_EQ(feof(stream), 0);
        CHECK_EQ(ferror(stream), 0);
        CHECK_EQ(fclose(stream), 0);
    }
    char byte;
    CHECK_EQ(fread(&byte, 1, 1, nullptr), 0);
    CHECK_EQ(fread(nullptr, 1, 1, stdin), 0);
    CHECK_EQ(fread(&byte, 0, 1, stdin), 0);
    CHECK_EQ(fread(&byte, 0x10000, 0x10000, stdin), 0);
    CHECK_EQ(fgetc(nullptr), -1);
    CHECK_EQ(fseek(nullptr, 0, SEEK_SET), -1);
    CHECK_EQ(ftell(nullptr), -1);
    CHECK_EQ(fclose(nullptr), -1);
    rewind(nullptr);
}

void check_memory_stream() {
    char *text = reinterpret_cast<char *>(1);
    size_t size = 99;
    CHECK(open_memstream(nullptr, &size) == nullptr);
    CHECK(open_memstream(&text, nullptr) == nullptr);
    CHECK(text == reinterpret_cast<char *>(1) && size == 99);

    FILE *stream = open_memstream(&text, &size);
    CHECK(stream != nullptr);
    if (stream == nullptr) return;
    CHECK_EQ(stream->kind, KIV_FILE_MEMORY);
    CHECK(text == nullptr);
    CHECK_EQ(size, 0);
    CHECK_EQ(fputs("abc", stream), 3);
    CHECK_EQ(size, 3);
    CHECK_BYTES(text, "abc", 4);
    CHECK_EQ(stream->cap, 256);
    char *first_block = text;
    static char filler[297];
    for (char &c : filler) c = 'm';
    CHECK_EQ(fwrite(filler, 1, sizeof filler, stream), sizeof filler);
    CHECK_EQ(size, 300);
    CHECK_EQ(stream->cap, 512);
    CHECK(text != first_block && text == stream->buf);
    CHECK_EQ(fclose(stream), 0);
    CHECK_EQ(size, 300);
    CHECK_BYTES(text, "abcmmm", 6);
    CHECK_EQ(text[299], 'm');
    CHECK_EQ(text[300], 0);
}

}  // namespace

int main() {
    check_fread_eof_and_position();
    check_fgetc_returns_bytes_unsigned();
    check_written_whole_at_close();
    check_fopen_modes_and_names();
    check_standard_streams_survive_fclose();
    check_rewind_and_null_streams();
    check_memory_stream();
    return check_done();
}
