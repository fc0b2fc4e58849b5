// What differs between the native and the emulated end of one case, field
// by field, with the bits the architecture leaves undefined left out; and
// the named, documented differences the emulator is known to have.
#pragma once

#include <string>
#include <vector>

#include "generator.h"

namespace fidelity {

// "eax", "eflags", "fsw", "st2", "xmm5", "memory", "fault"...
std::vector<std::string> differing_fields(const Case &test, const fid_result &native, const fid_result &emulated);

// Both sides' values of the differing fields, for a report.
std::string field_values(const std::vector<std::string> &fields, const fid_result &native, const fid_result &emulated);

// The known difference that explains all of `fields` in a case of this
// class, or nullptr.
const char *known_difference(const Case &test, const fid_result &native, const fid_result &emulated,
                             const std::vector<std::string> &fields);

}  // namespace fidelity
