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

int vsnprintf(char *buffer, size_t size, const char *format, va_list args);
int snprintf(char *buffer, size_t size, const char *format, ...);
int vsprintf(char *buffer, const char *format, va_list args);
int sprintf(char *buffer, const char *format, ...);

int vfprintf(FILE *stream, const char *format, va_list args);
int fprintf(FILE *stream, const char *format, ...);
int printf(const char *format, ...);

int vsscanf(const char *str, const char *format, va_list args);
int sscanf(const char *str, const char *format, ...);
int fscanf(FILE *stream, const char *format, ...);

#ifdef __cplusplus
}
#endif

#endif
