// The store-heavy case: fills 8 MiB one 32-bit word at a time. Status 0 when
// the last word reads back as stored.
#include <stdint.h>

namespace {

constexpr uint32_t kFillWords = (8u << 20) / sizeof(uint32_t);

}  // namespace

// Visible outside this unit, so the compiler must keep every store.
extern "C" uint32_t g_fill[kFillWords];
uint32_t g_fill[kFillWords];

extern "C" int main() {
    for (uint32_t i = 0; i < kFillWords; i++) g_fill[i] = i;
    return g_fill[kFillWords - 1] == kFillWords - 1 ? 0 : 1;
}
