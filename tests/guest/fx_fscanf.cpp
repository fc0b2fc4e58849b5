// Calls fscanf on the standard input with the format given as argument
// until it answers -1, printing each answer and the first value stored,
// then the stream's position and end mark.
#include "check.h"
#include "stdio.h"

extern "C" int main(int argc, char **argv) {
    const char *format = argc > 1 ? argv[1] : "%d";
    for (;;) {
        int32_t first = 0, second = 0;
        int result = fscanf(stdin, format, &first, &second);
        check_say_number(result);
        if (result < 0) break;
        check_say(" ");
        check_say_number(first);
        check_say("\n");
    }
    check_say("\npos ");
    check_say_number(stdin->pos);
    check_say(" eof ");
    check_say_number(stdin->eof);
    check_say("\n");
    return 0;
}
