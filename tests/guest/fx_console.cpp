// Console output through the stream layer and the stream formatting engine,
// one scenario per run (argv[1]), so the host can read the exact write
// pattern from the trace. The exit status is the call's result (-1 shows
// as 255).
#include "check.h"
#include "stdio.h"

namespace {

const check_scenario kScenarios[] = {
    {"control-record", [] { return printf("%c", 1, 2, 0x1ff); }},
    {"control-record-then-text", [] { return printf("%cX", 1, 2, 3); }},
    {"late-c-is-a-character", [] { return printf("x%c", 'A'); }},
    {"control-record-on-stderr", [] { return fprintf(stderr, "%c", 4, 5, 6); }},
    {"pieces", [] { return printf("%5d|%05d|%3s|%p", -42, -42, "ab", reinterpret_cast<void *>(0x1a)); }},
    {"unknown-letter", [] { return printf("%X"); }},
    {"descriptor-zero", [] { return fprintf(stdin, "x"); }},
    {"stderr-is-descriptor-1", [] { return fputs("err", stderr); }},
    {"fputs-empty", [] { return fputs("", stdout); }},
    {"puts", [] { return puts("hi"); }},
    {"puts-empty", [] { return puts(""); }},
    {"putchar", [] { return putchar(0x141); }},
    {"fwrite", [] { return static_cast<int>(fwrite("abcdef", 3, 2, stdout)); }},
    {"fclose-stdout",
     [] {
         int closed = fclose(stdout);
         return closed == 0 ? puts("still here") : 100;
     }},
};

}  // namespace

int main(int argc, char **argv) { return check_run_scenario(argc, argv, kScenarios, CHECK_SCENARIO_COUNT(kScenarios)); }
