/* Streams over kernel descriptors and memory, formatted output and input.
 * Nothing is buffered on the way to a descriptor. */
#ifndef KIV_STDIO_H
#define KIV_STDIO_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Stream kinds. */
#define KIV_FILE_DESCRIPTOR 1 /* reads from fd; writes only to descriptor 1 */
#define KIV_FILE_MEMORY 2     /* grows a heap buffer published to the caller */
#define KIV_FILE_WHOLE 3      /* grows a heap buffer written out at fclose */

/* The stream record: eleven 32-bit fields. */
typedef struct kiv_file {
    uint32_t kind;
    int32_t fd;
    char *path;
    char *buf;
    uint32_t len;
    uint32_t cap;
    char **user_buf;
    size_t *user_size;
    int32_t error;
    int32_t pos;
    int32_t eof;
} FILE;

extern FILE *stdin;
extern FILE *stdout;
extern FILE *stderr;

#define EOF (-1)
#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif

size_t fwrite(const void *data, size_t size, size_t count, FILE *stream);
int fputc(int ch, FILE *stream);
int fputs(const char *s, FILE *stream);
int fflush(FILE *stream);
void setbuf(FILE *stream, char *buffer);
int putchar(int ch);
int puts(const char *s);
int feof(FILE *stream);
int ferror(FILE *stream);

FILE *fopen(const char *filename, const char *mode);
int fclose(FILE *stream);
size_t fread(void *buffer, size_t size, size_t count, FILE *stream);
int fgetc(FILE *stream);
int getchar(void);
int fseek(FILE *stream, long offset, int whence);
long ftell(FILE *stream);
void rewind(FILE *stream);
FILE *open_memstream(char **bufp, size_t *sizep);

/* The compiler checks arguments against formats as ISO C reads them. Both
 * engines accept a subset of that grammar and print what they do not know;
 * the buffer engine reads 32 bits for every argument, "%lld" included. */
int vsnprintf(char *buffer, size_t size, const char *format, va_list args) __attribute__((format(printf, 3, 0)));
int snprintf(char *buffer, size_t size, const char *format, ...) __attribute__((format(printf, 3, 4)));
int vsprintf(char *buffer, const char *format, va_list args) __attribute__((format(printf, 2, 0)));
int sprintf(char *buffer, const char *format, ...) __attribute__((format(printf, 2, 3)));

int vfprintf(FILE *stream, const char *format, va_list args) __attribute__((format(printf, 2, 0)));
int fprintf(FILE *stream, const char *format, ...) __attribute__((format(printf, 2, 3)));
int printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

int vsscanf(const char *str, const char *format, va_list args) __attribute__((format(scanf, 2, 0)));
int sscanf(const char *str, const char *format, ...) __attribute__((format(scanf, 2, 3)));
int fscanf(FILE *stream, const char *format, ...) __attribute__((format(scanf, 2, 3)));

/* The kit's extensions for ported code, on the streams above. Nothing is
 * buffered, so setvbuf only checks its arguments, and a stream has no room
 * for a pushed-back byte: ungetc fails (EOF). Positions are byte offsets, as
 * ftell's. freopen reopens the record in place. kivos has no call for
 * renaming or temporary files: rename, tmpfile and tmpnam fail (-1 or null)
 * with errno ENOSYS. perror writes to stderr (descriptor 1). */
typedef struct kiv_fpos {
    long offset;
} fpos_t;

#define BUFSIZ 1024
#define FILENAME_MAX 4096
#define FOPEN_MAX 16
#define L_tmpnam 20
#define TMP_MAX 238328
#define _IOFBF 0
#define _IOLBF 1
#define _IONBF 2

void clearerr(FILE *stream);
int fgetpos(FILE *stream, fpos_t *position);
int fsetpos(FILE *stream, const fpos_t *position);
char *fgets(char *s, int size, FILE *stream);
FILE *freopen(const char *filename, const char *mode, FILE *stream);
int setvbuf(FILE *stream, char *buffer, int mode, size_t size);
int ungetc(int ch, FILE *stream);
int getc(FILE *stream);
int putc(int ch, FILE *stream);
void perror(const char *prefix);
FILE *tmpfile(void);
char *tmpnam(char *name);
int rename(const char *from, const char *to);
int remove(const char *path);
#if (defined(__cplusplus) && __cplusplus <= 201103L) || \
    (!defined(__cplusplus) && (!defined(__STDC_VERSION__) || __STDC_VERSION__ < 201112L))
/* Reads a line with no bound on its length: ISO C11 and C++14 dropped it. */
char *gets(char *s);
#endif
/* POSIX: a stream's descriptor (-1 and EBADF for memory and whole-file
 * streams), and a descriptor stream over a descriptor already open. */
int fileno(FILE *stream);
FILE *fdopen(int fd, const char *mode);
int vprintf(const char *format, va_list args) __attribute__((format(printf, 1, 0)));
/* Like fscanf: each call scans one blank-delimited token of the stream. */
int vfscanf(FILE *stream, const char *format, va_list args) __attribute__((format(scanf, 2, 0)));
int scanf(const char *format, ...) __attribute__((format(scanf, 1, 2)));
int vscanf(const char *format, va_list args) __attribute__((format(scanf, 1, 0)));

#ifdef __cplusplus
}
#endif

#endif
