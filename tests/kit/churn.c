/* A kit user's program that frees what it allocates: 100 MiB in blocks of
 * 64 KiB, one at a time, with strdup and rand besides. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kBlockBytes = 64 * 1024, kBlocks = 1600 };

int main(void) {
    char *name = strdup("churn");
    srand(1);
    int first = rand();
    for (int i = 0; i < kBlocks; i++) {
        char *block = malloc(kBlockBytes);
        if (block == NULL) {
            printf("%s %d: out of memory after %d KiB\n", name, first, i * (kBlockBytes / 1024));
            return 1;
        }
        block[0] = block[kBlockBytes - 1] = (char)i;
        free(block);
    }
    printf("%s %d: freed %d MiB\n", name, first, kBlocks * (kBlockBytes / 1024) / 1024);
    free(name);
    return 0;
}
