// A flag set kept in one table: each row is a flag as kivos spells it, as
// the host (or the emulator) spells it, and the name the trace shows, so
// the handlers that translate a set and the trace that names it cannot
// drift apart.
#pragma once

#include <cstdint>

namespace kiv {

struct FlagRow {
    uint32_t kivos;
    uint32_t host;
    const char *name;
};

}  // namespace kiv
