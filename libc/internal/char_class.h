// The class bits of ctype.h (_ISupper ...) for any int: those of its byte
// for 0 to 255, none for every other value (EOF included).
#pragma once

#include <stdint.h>

namespace kiv::ctype {

uint16_t classes_of(long c);

}  // namespace kiv::ctype
