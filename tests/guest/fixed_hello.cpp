// A small kivos program linked with the command's fixed image: it has code,
// read-only data, initialised data and zero-filled data, like any program,
// and prints one line through the raw write wrapper.
#include "unistd.h"

namespace {

const char kGreeting[] = "hello from kivos\n";
volatile int g_expected_length = sizeof kGreeting - 1;  // initialised data
volatile int g_written;                                 // zero-filled

}  // namespace

extern "C" int main() {
    g_written = write(1, kGreeting, static_cast<size_t>(g_expected_length));
    return g_written == g_expected_length ? 0 : 1;
}
