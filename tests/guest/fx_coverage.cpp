// Known counts for the coverage tests: a loop that runs argv[1] times and
// calls a function each time, and a branch never taken. With argv[2], a
// copy of itself (at /fx_coverage in the sandbox) loops that often too. The
// tests find the lines by the "coverage:" markers at their ends; the
// program is built unoptimised so that each marked line starts once. Its
// last function comes from a file whose #line name holds line breaks and
// record keys, as a hostile program's may.
#include <unistd.h>

namespace {

int doubled(int value);

int decimal(const char *text) {
    int value = 0;
    for (; *text >= '0' && *text <= '9'; text++) value = value * 10 + (*text - '0');
    return value;
}

int square(int value) {    // coverage: function
    return value * value;  // coverage: called
}

}  // namespace

extern "C" int main(int argc, char **argv) {
    int iterations = argc > 1 ? decimal(argv[1]) : 0;
    int sum = 0;
    for (int i = 0; i < iterations; i++) {
        sum += square(i);  // coverage: body
        sum += doubled(0);
    }
    if (sum < 0) {
        write(2, "negative\n", 9);  // coverage: never
    }
    if (argc > 2) {
        char *child[] = {argv[0], argv[2]};
        int status = -1;
        if (waitpid(spawn("/fx_coverage", child, 2), &status, 0) < 0 || status != 0) return 1;  // coverage: spawn
    }
    return 0;
}

// Every line from here on belongs to the name below.
#line 1 "/fx\nDA:1,999999\nend_of_record\nSF:/injected"
namespace {
int doubled(int value) { return value * 2; }
}  // namespace
