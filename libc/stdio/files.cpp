// Creating, reading, positioning and closing streams. Reads go straight to
// the kernel, one read per request; a file opened for writing is collected
// in memory and reaches the kernel whole, in one writefile, at fclose.
#include "fcntl.h"
#include "stdio/stream.h"
#include "stdlib.h"
#include "string.h"
#include "unistd.h"

namespace kiv::stdio {

namespace {

// The standard descriptors cannot be positioned, and fclose never closes
// them.
constexpr int32_t kLastStandardDescriptor = 2;
constexpr char kStandardStreamName[] = "-";
// What a whole-file stream hands the kernel when nothing was ever written:
// writefile refuses a null buffer.
constexpr char kNoContent[] = "";

bool is_positionable(const FILE *stream) {
    return stream != nullptr && stream->kind == KIV_FILE_DESCRIPTOR && stream->fd > kLastStandardDescriptor;
}

bool is_readable(const FILE *stream) { return stream != nullptr && stream->kind == KIV_FILE_DESCRIPTOR; }

FILE *new_record(uint32_t kind) {
    FILE *stream = static_cast<FILE *>(calloc(1, sizeof(FILE)));
    if (stream != nullptr) stream->kind = kind;
    return stream;
}

FILE *open_for_reading(const char *filename) {
    int fd = open(filename, O_RDONLY);
    if (fd < 0) return nullptr;
    FILE *stream = new_record(KIV_FILE_DESCRIPTOR);
    if (stream == nullptr) {
        close(fd);
        return nullptr;
    }
    stream->fd = fd;
    return stream;
}

// No system call yet: the file is created (or replaced) only at fclose.
FILE *open_for_writing(const char *filename) {
    FILE *stream = new_record(KIV_FILE_WHOLE);
    if (stream == nullptr) return nullptr;
    stream->path = strdup(filename);
    if (stream->path == nullptr) {
        free(stream);
        return nullptr;
    }
    return stream;
}

int write_whole_file(const FILE *stream) {
    if (stream->path == nullptr) return EOF;
    const char *content = stream->buf != nullptr ? stream->buf : kNoContent;
    return writefile(stream->path, content, stream->len) < 0 ? EOF : 0;
}

int finish(const FILE *stream) {
    switch (stream->kind) {
    case KIV_FILE_DESCRIPTOR: return stream->fd > kLastStandardDescriptor ? close(stream->fd) : 0;
    case KIV_FILE_WHOLE: return write_whole_file(stream);
    default: return 0;
    }
}

// A memory stream's buffer belongs to the caller's variable, not to it.
void release(FILE *stream) {
    if (stream->kind != KIV_FILE_MEMORY && stream->buf != nullptr) free(stream->buf);
    if (stream->path != nullptr) free(stream->path);
    free(stream);
}

}  // namespace

}  // namespace kiv::stdio

using namespace kiv::stdio;

extern "C" {

// Only the first byte of the mode counts.
FILE *fopen(const char *filename, const char *mode) {
    if (mode == nullptr || (mode[0] != 'r' && mode[0] != 'w')) return nullptr;
    bool reading = mode[0] == 'r';
    if (filename == nullptr || strcmp(filename, kStandardStreamName) == 0) return reading ? stdin : stdout;
    return reading ? open_for_reading(filename) : open_for_writing(filename);
}

// The record goes even when the close or the file write failed.
int fclose(FILE *stream) {
    if (stream == nullptr) return EOF;
    if (is_standard(stream)) return 0;
    int result = finish(stream);
    release(stream);
    return result;
}

// One read, however much is asked for; a trailing partial element is
// consumed but not counted.
size_t fread(void *buffer, size_t size, size_t count, FILE *stream) {
    uint32_t total;
    if (buffer == nullptr || !is_readable(stream) || size == 0 || count == 0) return 0;
    if (__builtin_mul_overflow(size, count, &total)) return 0;
    int got = read(stream->fd, buffer, total);
    if (got <= 0) {
        stream->eof = 1;
        return 0;
    }
    stream->pos += got;
    if (static_cast<uint32_t>(got) < total) stream->eof = 1;
    return static_cast<uint32_t>(got) / size;
}

int fgetc(FILE *stream) {
    unsigned char byte;
    if (!is_readable(stream)) return EOF;
    int got = read(stream->fd, &byte, 1);
    if (got <= 0) {
        stream->eof = 1;
        return EOF;
    }
    stream->pos += got;
    return byte;
}

int getchar(void) { return fgetc(stdin); }

int fseek(FILE *stream, long offset, int whence) {
    if (!is_positionable(stream)) return -1;
    int offset_now = lseek(stream->fd, offset, whence);
    if (offset_now < 0) return -1;
    stream->eof = 0;
    stream->pos = offset_now;
    return 0;
}

// The counter kept by reads and seeks; no system call.
long ftell(FILE *stream) { return is_positionable(stream) ? stream->pos : -1; }

void rewind(FILE *stream) {
    if (stream == nullptr) return;
    if (is_positionable(stream)) {
        int offset_now = lseek(stream->fd, 0, SEEK_SET);
        if (offset_now >= 0) stream->pos = offset_now;
    }
    stream->error = 0;
    stream->eof = 0;
}

FILE *open_memstream(char **bufp, size_t *sizep) {
    if (bufp == nullptr || sizep == nullptr) return nullptr;
    FILE *stream = new_record(KIV_FILE_MEMORY);
    if (stream == nullptr) return nullptr;
    stream->user_buf = bufp;
    stream->user_size = sizep;
    *bufp = nullptr;
    *sizep = 0;
    return stream;
}

}  // extern "C"
