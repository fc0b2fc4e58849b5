// The kit's persistent-fuzzing marker (kivos/fuzz.h). Under kivrun's
// persistent mode this code never runs: kivrun answers the call at its
// first instruction, which is why it must stay a function of its own.
#include "kivos/fuzz.h"

namespace {

bool g_loop_ran = false;

}  // namespace

extern "C" __attribute__((noinline)) int kivos_fuzz_loop(unsigned int) {
    if (g_loop_ran) return 0;
    g_loop_ran = true;
    return 1;
}
