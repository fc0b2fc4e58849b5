#include "stop.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace kiv::cxx {

namespace {

// Descriptor 2 directly: the library's stderr stream is descriptor 1, and
// this message belongs where Linux prints it.
void say(const char *text) { write(STDERR_FILENO, text, strlen(text)); }

}  // namespace

void stop_throwing(const char *kind, const char *what) {
    say("terminate called after throwing an instance of '");
    say(kind);
    say("'\n  what():  ");
    say(what);
    say("\n");
    abort();
}

void stop_with(const char *line) {
    say(line);
    say("\n");
    abort();
}

}  // namespace kiv::cxx
