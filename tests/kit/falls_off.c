/* main ends without a return statement, which C99 and later, and C++, make
 * a return of 0. The last call leaves a non-zero value where the status
 * would be read from. Built as C and as C++. */
#include <stdio.h>

int main(void) { printf("fell off the end of main\n"); }
