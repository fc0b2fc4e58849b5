/* The public headers serve C programs as well as C++ ones: this program is
 * compiled as C and links against the same library. */
#include "check.h"
#include "fcntl.h"
#include "unistd.h"

/* The POSIX names a C programmer reaches for, at work. */
static void posix_names(void) {
    char *page = mmap(0, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    int fd;
    int status = -1;
    CHECK(page != MAP_FAILED);
    page[4095] = 'p';
    CHECK_EQ(munmap(page, 4096), 0);
    CHECK_EQ(write(STDOUT_FILENO, "", 0), 0);
    CHECK_EQ(write(STDERR_FILENO, "", 0), 0);
    CHECK_EQ(waitpid(-1, &status, WNOHANG), -1); /* no children */
    fd = open("posix.txt", O_WRONLY | O_CREAT | O_TRUNC);
    CHECK(fd > STDERR_FILENO);
    CHECK_EQ(write(fd, "abc", 3), 3);
    CHECK_EQ(lseek(fd, -1, SEEK_END), 2);
    CHECK_EQ(lseek(fd, 0, SEEK_CUR), 2);
    CHECK_EQ(close(fd), 0);
    CHECK_EQ(O_RDWR & O_ACCMODE, O_RDWR);
    CHECK_EQ(unlink("posix.txt"), 0);
}

int main(int argc, char **argv) {
    int fd;
    char back[8] = {0};

    CHECK_EQ(argc, 1);
    CHECK(argv[0] != 0);
    CHECK(argv[1] == 0);
    CHECK_EQ(write(1, 0, 3), -1);

    fd = creat("c.txt");
    CHECK(fd >= 0);
    CHECK_EQ(write(fd, "from C", 6), 6);
    CHECK_EQ(close(fd), 0);
    CHECK_EQ(access("c.txt", R_OK), 0);

    fd = open("c.txt", O_RDONLY);
    CHECK_EQ(lseek(fd, 5, SEEK_SET), 5);
    CHECK_EQ(read(fd, back, sizeof back), 1);
    CHECK_EQ(back[0], 'C');
    CHECK_EQ(close(fd), 0);
    CHECK_EQ(close(fd), -1);
    CHECK_EQ(unlink("c.txt"), 0);
    CHECK_EQ(access("c.txt", F_OK), -1);
    posix_names();
    return check_done();
}
