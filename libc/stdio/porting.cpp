// The kit's stdio additions for ported code, on the stream layer: line
// input, positions as records, error reports. What needs a kernel service
// kivos lacks (renaming, temporary files) fails with ENOSYS.
#include "errno.h"
#include "stdio/stream.h"
#include "stdlib.h"
#include "string.h"
#include "unistd.h"

namespace kiv::stdio {
namespace {

constexpr char kNewline = '\n';

// Reads bytes until a newline (kept) or until `room` bytes are stored;
// the count stored, or -1 when the input ended before the first byte.
int read_line(FILE *stream, char *s, size_t room, bool keep_newline) {
    size_t stored = 0;
    while (stored < room) {
        int c = fgetc(stream);
        if (c == EOF) return stored == 0 ? -1 : static_cast<int>(stored);
        if (c == kNewline && !keep_newline) break;
        s[stored++] = static_cast<char>(c);
        if (c == kNewline) break;
    }
    return static_cast<int>(stored);
}

bool is_buffering_mode(int mode) { return mode == _IOFBF || mode == _IOLBF || mode == _IONBF; }

}  // namespace
}  // namespace kiv::stdio

using namespace kiv::stdio;

extern "C" {

void clearerr(FILE *stream) {
    if (stream == nullptr) return;
    stream->error = 0;
    stream->eof = 0;
}

int getc(FILE *stream) { return fgetc(stream); }

int putc(int ch, FILE *stream) { return fputc(ch, stream); }

char *fgets(char *s, int size, FILE *stream) {
    if (s == nullptr || size <= 0) return nullptr;
    int stored = read_line(stream, s, static_cast<size_t>(size - 1), true);
    if (stored < 0) return nullptr;
    s[stored] = '\0';
    return s;
}

char *gets(char *s) {
    if (s == nullptr) return nullptr;
    int stored = read_line(stdin, s, SIZE_MAX, false);
    if (stored < 0) return nullptr;
    s[stored] = '\0';
    return s;
}

// A stream has no room for a pushed-back byte.
int ungetc(int, FILE *) { return EOF; }

int fgetpos(FILE *stream, fpos_t *position) {
    long offset = ftell(stream);
    if (offset < 0 || position == nullptr) {
        errno = ESPIPE;
        return -1;
    }
    position->offset = offset;
    return 0;
}

int fsetpos(FILE *stream, const fpos_t *position) {
    if (position == nullptr || fseek(stream, position->offset, SEEK_SET) != 0) {
        errno = ESPIPE;
        return -1;
    }
    return 0;
}

// Nothing is buffered: only the arguments are checked.
int setvbuf(FILE *stream, char *, int mode, size_t) {
    if (stream == nullptr || !is_buffering_mode(mode)) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

// The fresh stream's record takes the place of the old one, and the old
// fields are closed in the fresh record's block. A standard stream can only
// be reopened as itself.
FILE *freopen(const char *filename, const char *mode, FILE *stream) {
    if (stream == nullptr || filename == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    FILE *fresh = fopen(filename, mode);
    if (fresh == nullptr) {
        fclose(stream);
        return nullptr;
    }
    if (fresh == stream) return stream;
    if (is_standard(fresh)) {
        errno = EINVAL;
        return nullptr;
    }
    FILE previous = *stream;
    *stream = *fresh;
    *fresh = previous;
    fclose(fresh);
    return stream;
}

void perror(const char *prefix) {
    if (prefix != nullptr && prefix[0] != '\0') {
        fputs(prefix, stderr);
        fputs(": ", stderr);
    }
    fputs(strerror(errno), stderr);
    fputc(kNewline, stderr);
}

// A file goes when unlink takes it, a directory when rmdir does.
int remove(const char *path) { return unlink(path) >= 0 || rmdir(path) >= 0 ? 0 : -1; }

int rename(const char *, const char *) {
    errno = ENOSYS;
    return -1;
}

FILE *tmpfile(void) {
    errno = ENOSYS;
    return nullptr;
}

char *tmpnam(char *) {
    errno = ENOSYS;
    return nullptr;
}

int fileno(FILE *stream) {
    if (stream == nullptr || stream->kind != KIV_FILE_DESCRIPTOR) {
        errno = EBADF;
        return -1;
    }
    return stream->fd;
}

// Only the mode's first byte counts, as in fopen.
FILE *fdopen(int fd, const char *mode) {
    if (fd < 0 || mode == nullptr || (mode[0] != 'r' && mode[0] != 'w')) {
        errno = EINVAL;
        return nullptr;
    }
    FILE *stream = static_cast<FILE *>(calloc(1, sizeof(FILE)));
    if (stream == nullptr) return nullptr;
    stream->kind = KIV_FILE_DESCRIPTOR;
    stream->fd = fd;
    return stream;
}

int vprintf(const char *format, va_list args) { return vfprintf(stdout, format, args); }

int vscanf(const char *format, va_list args) { return vfscanf(stdin, format, args); }

int scanf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int count = vfscanf(stdin, format, args);
    va_end(args);
    return count;
}

}  // extern "C"
