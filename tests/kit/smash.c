/* The stack protector as a kit user meets it:
 *   smash copy TEXT   copies TEXT into an 8-byte buffer and says how long it was
 *   smash guard       prints the guard word in hex */
#include <stdio.h>
#include <string.h>

extern unsigned long __stack_chk_guard;

/* Not inlined: the frame that overflows is its own. */
__attribute__((noinline)) static size_t copy_into_small_buffer(const char *text) {
    char buffer[8];
    strcpy(buffer, text);
    return strlen(buffer);
}

int main(int argc, char **argv) {
    if (argc == 3 && strcmp(argv[1], "copy") == 0) {
        printf("copied %u\n", (unsigned)copy_into_small_buffer(argv[2]));
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "guard") == 0) {
        printf("%lx\n", __stack_chk_guard);
        return 0;
    }
    return 2;
}
