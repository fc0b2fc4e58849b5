// The digits of 2/pi that the argument reduction of sin, cos and tan reads.
#pragma once

#include <stdint.h>

namespace kivm {

constexpr int kTwoOverPiWords = 528;
extern const uint32_t kTwoOverPi[kTwoOverPiWords];

}  // namespace kivm
