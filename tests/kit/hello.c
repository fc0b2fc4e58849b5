/* A kit user's command in C: formats into a buffer and onto the console,
 * converts its argument and writes a file. */
#include <kivos/meta.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

KIVOS_COMMAND("Say hello to the kit.", "kithello");
KIVOS_PACKAGE("kithello", "7");

_Static_assert(INT_MAX == 2147483647, "int is 32 bits");

int main(int argc, char **argv) {
    long count = argc > 1 ? strtol(argv[1], NULL, 0) : 1;
    char label[16];
    snprintf(label, sizeof label, "%-6s|%+ld", "hello", count);
    printf("%s %s\n", label, argc > 2 ? argv[2] : "kit");
    FILE *file = fopen("greeting.txt", "w");
    if (file == NULL) return 2;
    fprintf(file, "count=%ld\n", count);
    return fclose(file) == 0 ? 0 : 3;
}
