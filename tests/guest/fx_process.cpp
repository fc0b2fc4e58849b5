// Ends the way its argument says ("exit", "abort" or "return") with an exit
// handler registered and a file opened for writing but never closed, after
// printing what atexit and getenv answered.
#include "check.h"
#include "stdio.h"
#include "stdlib.h"

namespace {

constexpr int kExitStatus = 3;

void handler() { check_say("handler ran\n"); }

}  // namespace

extern "C" int main(int argc, char **argv) {
    check_say("atexit ");
    check_say_number(atexit(handler));
    check_say("\n");
    check_say(getenv("PATH") == nullptr && getenv(nullptr) == nullptr ? "getenv null\n" : "getenv set\n");
    FILE *unsaved = fopen("unsaved.txt", "w");
    check_say(unsaved != nullptr && fputs("never stored", unsaved) >= 0 ? "written\n" : "not written\n");
    const char *how = argc > 1 ? argv[1] : "return";
    if (check_text_equal(how, "exit")) exit(kExitStatus);
    if (check_text_equal(how, "abort")) abort();
    return 0;
}
