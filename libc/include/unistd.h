/* kivos system calls. Every wrapper returns the kernel's result unchanged
 * (negative means failure) and never touches errno. */
#ifndef KIV_UNISTD_H
#define KIV_UNISTD_H

#include <stddef.h>

#include "kiv_mmap.h"
#include "kiv_spawn.h"

#ifdef __cplusplus
extern "C" {
#endif

int write(int fd, const void *buf, size_t count);
int read(int fd, void *buf, size_t count);
__attribute__((noreturn)) void _exit(int status);
int close(int fd);
int getkey(void);
int writefile(const char *path, const void *buf, size_t count);
int usleep(unsigned int usec);
unsigned int sleep(unsigned int sec);
int mkdir(const char *path);
int unlink(const char *path);
int rmdir(const char *path);
int getcwd(char *buf, size_t size);
int chdir(const char *path);
int access(const char *path, int mode);
int lseek(int fd, int offset, int whence);

int kivfs_stream_begin(const char *path);
int kivfs_stream_write(int handle, const void *buf, size_t count);
int kivfs_stream_end(int handle);

void *mmap(void *addr, size_t length, int prot, int flags, int fd, int offset);
int munmap(void *addr, size_t length);

int pipe(int fds[2]);
int mkfifo(const char *path);
int dup(int fd);
int dup2(int oldfd, int newfd);
int fd_set_inherit(int on);
int fd_set_stdio(int in, int out, int err);
int fd_set_nonblock(int fd, int on);
int spawn(const char *path, char *const argv[], int argc);
int waitpid(int pid, int *status, int options);
/* child_stdin, child_stdout, child_stderr: the caller's descriptors that
 * become the child's 0, 1 and 2 (-1: as fd_set_stdio says); inherit_all: 1
 * hands down every descriptor, 0 follows fd_set_inherit. */
int spawn_ex(const char *path, char *const argv[], int argc, int child_stdin, int child_stdout, int child_stderr,
             int inherit_all);

#define F_OK 0
#define R_OK 4
#define W_OK 2
#define X_OK 1

#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2

#define STDIN_FILENO 0
#define STDOUT_FILENO 1
/* The library's stderr writes to descriptor 1; 2 is the kernel's third
 * standard descriptor all the same. */
#define STDERR_FILENO 2

#define WNOHANG KIV_WAIT_NO_HANG

#define PROT_NONE KIV_PROT_NONE
#define PROT_READ KIV_PROT_READ
#define PROT_WRITE KIV_PROT_WRITE
#define PROT_EXEC KIV_PROT_EXEC
#define MAP_SHARED KIV_MAP_SHARED
#define MAP_PRIVATE KIV_MAP_PRIVATE
#define MAP_ANONYMOUS KIV_MAP_ANONYMOUS
#define MAP_ANON KIV_MAP_ANONYMOUS
#define MAP_FAILED ((void *)-1)

#ifdef __cplusplus
}
#endif

#endif
