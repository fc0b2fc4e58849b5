// The first values of a process that never calls srand, one per line: the
// generator seeds itself from the time-stamp counter and two addresses.
#include "check.h"
#include "stdlib.h"

namespace {

constexpr int kValues = 256;

}  // namespace

extern "C" int main() {
    for (int i = 0; i < kValues; i++) {
        check_say_number(rand());
        check_say("\n");
    }
    return 0;
}
