/* The public headers serve C programs as well as C++ ones: this program is
 * compiled as C and links against the same library. */
#include "check.h"
#include "fcntl.h"
#include "unistd.h"

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
    return check_done();
}
