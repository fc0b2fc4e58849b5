// What _start hands to main: the count and the vector exactly as the loader
// left them on the initial stack, with nothing copied.
#include "check.h"

extern "C" int main(int argc, char **argv) {
    // argv is the word right after the count on the initial stack.
    CHECK_EQ(reinterpret_cast<int *>(argv)[-1], argc);
    CHECK_EQ(argc, 1);
    CHECK(argv[0] != nullptr);
    CHECK(argv[1] == nullptr);
    // _start aligned the stack to 16, reserved 4 bytes and pushed argv and
    // the count: the count's slot lies 12 bytes below that boundary.
    CHECK_EQ((reinterpret_cast<uintptr_t>(&argc) + 12) % 16, 0u);
    return check_done();
}
