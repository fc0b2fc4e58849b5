// The stream layer's write side: the standard streams, the one append
// routine every writer goes through, and the writers and indicators built
// on it. Nothing is buffered on the way to a descriptor.
#include "stdio/stream.h"

#include "internal/syscall.h"
#include "stdlib.h"
#include "string.h"
#include "unistd.h"

namespace kiv::stdio {

namespace {

// Descriptor streams accept writes only on standard output.
constexpr int32_t kWritableDescriptor = 1;
constexpr uint32_t kFirstCapacity = 256;
// Capacities are 256 times a power of two formed in 32 bits, so no buffer
// can ever be larger than this.
constexpr uint32_t kLargestCapacity = 0x80000000u;

constexpr FILE descriptor_stream(int32_t fd) {
    FILE stream{};
    stream.kind = KIV_FILE_DESCRIPTOR;
    stream.fd = fd;
    return stream;
}

// Continues partial writes from the first byte the kernel did not take.
int write_all_to_console(const unsigned char *bytes, uint32_t length) {
    uint32_t done = 0;
    while (done < length) {
        int taken = write(kWritableDescriptor, bytes + done, kiv::sys::clamp_count(length - done));
        if (taken <= 0) return -1;
        done += static_cast<uint32_t>(taken);
    }
    return 0;
}

// 256, or the current capacity, doubled until it holds `required` bytes.
// `required` is at most 2^31 and larger than `capacity`, so no doubling
// leaves 32 bits.
uint32_t grown_capacity(uint32_t capacity, uint32_t required) {
    uint32_t grown = capacity == 0 ? kFirstCapacity : capacity;
    while (grown < required) grown *= 2;
    return grown;
}

// Makes room for `length` more bytes and the NUL; on failure the stream is
// untouched.
bool reserve(FILE *stream, uint32_t length) {
    uint64_t required = uint64_t{stream->len} + length + 1;
    if (required > kLargestCapacity) return false;
    if (stream->cap >= required) return true;
    uint32_t capacity = grown_capacity(stream->cap, static_cast<uint32_t>(required));
    void *block = realloc(stream->buf, capacity);
    if (block == nullptr) return false;
    stream->buf = static_cast<char *>(block);
    stream->cap = capacity;
    return true;
}

// Memory streams let their caller read the content at any moment, so the
// current block and length are handed out after every write.
void publish(FILE *stream) {
    if (stream->kind != KIV_FILE_MEMORY || stream->user_buf == nullptr || stream->user_size == nullptr) return;
    *stream->user_buf = stream->buf;
    *stream->user_size = stream->len;
}

int append_to_buffer(FILE *stream, const void *bytes, uint32_t length) {
    if (!reserve(stream, length)) return -1;
    memcpy(stream->buf + stream->len, bytes, length);
    stream->len += length;
    stream->buf[stream->len] = 0;
    publish(stream);
    return 0;
}

// The standard records: initialised data, so nothing has to run before main.
constinit FILE g_stdin = descriptor_stream(0);
constinit FILE g_stdout = descriptor_stream(1);
// Error output goes where ordinary output goes.
constinit FILE g_stderr = descriptor_stream(1);

}  // namespace

int file_write_bytes(FILE *stream, const void *bytes, uint32_t length) {
    if (stream == nullptr || bytes == nullptr) return -1;
    if (length == 0) return 0;
    if (stream->kind != KIV_FILE_DESCRIPTOR) return append_to_buffer(stream, bytes, length);
    if (stream->fd != kWritableDescriptor) return -1;
    return write_all_to_console(static_cast<const unsigned char *>(bytes), length);
}

}  // namespace kiv::stdio

using kiv::stdio::file_write_bytes;

extern "C" {

FILE *stdin = &kiv::stdio::g_stdin;
FILE *stdout = &kiv::stdio::g_stdout;
FILE *stderr = &kiv::stdio::g_stderr;

size_t fwrite(const void *data, size_t size, size_t count, FILE *stream) {
    uint32_t total;
    if (data == nullptr || stream == nullptr || size == 0 || count == 0) return 0;
    if (__builtin_mul_overflow(size, count, &total)) return 0;
    return file_write_bytes(stream, data, total) == 0 ? count : 0;
}

int fputc(int ch, FILE *stream) {
    unsigned char byte = static_cast<unsigned char>(ch);
    return file_write_bytes(stream, &byte, 1) == 0 ? ch : EOF;
}

int fputs(const char *s, FILE *stream) {
    if (s == nullptr) return EOF;
    uint32_t length = strlen(s);
    return file_write_bytes(stream, s, length) == 0 ? static_cast<int>(length) : EOF;
}

// Descriptor output is never held back and whole-file content waits for
// fclose, so there is nothing to flush.
int fflush(FILE *) { return 0; }

void setbuf(FILE *, char *) {}

int putchar(int ch) { return fputc(ch, stdout); }

// The text and its newline are two appends; stdout is read for each.
int puts(const char *s) {
    if (s == nullptr) return EOF;
    if (file_write_bytes(stdout, s, strlen(s)) != 0) return EOF;
    const char newline = '\n';
    return file_write_bytes(stdout, &newline, 1) == 0 ? 0 : EOF;
}

int feof(FILE *stream) { return stream == nullptr ? 1 : stream->eof; }

int ferror(FILE *stream) { return stream == nullptr ? 1 : stream->error; }

}  // extern "C"
