// The lcov reader on any file found where a record should be: a refusal is
// one line; what it reads is written in a form it reads back the same, at
// most a small multiple of the input's size, and so is its sum with itself.
#include <cstdint>
#include <string>
#include <string_view>

#include "coverage/lcov.h"
#include "fuzz_check.h"

namespace {

// Each byte of a name may become four (\xNN), and a function counted
// without a declaration gains one (FN as well as FNDA).
constexpr size_t kGrowth = 10;
constexpr size_t kSlack = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using kiv::fuzz::require;
    std::string_view text(reinterpret_cast<const char *>(data), size);
    std::string error;
    auto record = kiv::parse_lcov(text, error);
    if (!record) {
        require(kiv::fuzz::one_line(error));
        return 0;
    }
    std::string written = kiv::format_lcov(*record);
    require(written.size() <= kGrowth * size + kSlack);
    auto again = kiv::parse_lcov(written, error);
    require(again.has_value() && kiv::format_lcov(*again) == written);
    kiv::merge(*again, *record);
    require(kiv::parse_lcov(kiv::format_lcov(*again), error).has_value());
    return 0;
}
