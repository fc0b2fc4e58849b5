// A failed assert: one line on descriptor 2, in the form C programmers know
// from other systems, then the end abort gives.
#include "assert.h"

#include "stdlib.h"
#include "string.h"
#include "unistd.h"

namespace kiv::assertion {
namespace {

constexpr int kDiagnosticDescriptor = 2;
constexpr size_t kLineDigits = 10;

void say(const char *text) { write(kDiagnosticDescriptor, text, strlen(text)); }

void say_number(unsigned int value) {
    char digits[kLineDigits];
    size_t at = kLineDigits;
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    write(kDiagnosticDescriptor, digits + at, kLineDigits - at);
}

}  // namespace
}  // namespace kiv::assertion

// FILE:LINE: FUNCTION: Assertion `EXPRESSION' failed.
extern "C" void __assert_fail(const char *expression, const char *file, unsigned int line, const char *function) {
    using namespace kiv::assertion;
    say(file);
    say(":");
    say_number(line);
    say(": ");
    say(function);
    say(": Assertion `");
    say(expression);
    say("' failed.\n");
    abort();
}
