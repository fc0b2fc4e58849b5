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

#ifdef __cplusplus
}
#endif

#endif
