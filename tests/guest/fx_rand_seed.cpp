// Prints what a host test needs to recompute rand's automatic seed: the
// address of the heap's fill offset, the address of a local in the caller
// (rand's frame lies just below it), and the first two values of a process
// that never called srand.
#include "check.h"
#include "stdlib.h"
#include "stdlib/heap.h"

namespace {

void say_field(const char *name, int64_t value) {
    check_say(name);
    check_say(" ");
    check_say_number(value);
    check_say("\n");
}

int64_t address_of(const volatile void *pointer) { return static_cast<int64_t>(reinterpret_cast<uintptr_t>(pointer)); }

}  // namespace

extern "C" int main() {
    volatile int anchor = 0;
    int first = rand();
    int second = rand();
    say_field("heap", address_of(&kiv::heap::g_heap_used));
    say_field("anchor", address_of(&anchor));
    say_field("first", first);
    say_field("second", second);
    return 0;
}
