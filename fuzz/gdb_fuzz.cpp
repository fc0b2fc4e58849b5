// The gdb stub's packet layer on any bytes from the peer, with a fake target
// and no socket: every session ends, and everything the stub sends is an
// acknowledgement or a well-framed packet no longer than it announces.
#include <cstdint>
#include <string_view>

#include "fake_debug_target.h"
#include "fuzz_check.h"
#include "support/hex.h"

namespace {

// '+', '-' or $payload#checksum, each packet within the announced size.
bool well_framed(std::string_view sent) {
    while (!sent.empty()) {
        if (sent[0] == '+' || sent[0] == '-') {
            sent.remove_prefix(1);
            continue;
        }
        size_t end = sent.find('#');
        if (sent[0] != '$' || end == std::string_view::npos || sent.size() < end + 3) return false;
        uint8_t sum = 0;
        for (char c : sent.substr(1, end - 1)) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
        if (sent.substr(end + 1, 2) != kiv::hex_byte(sum) || end - 1 > kiv::gdb::kMaxPacket) return false;
        sent.remove_prefix(end + 3);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    kiv::test::MemoryChannel channel(std::string_view(reinterpret_cast<const char *>(data), size));
    kiv::test::FakeTarget target;
    kiv::serve_gdb(channel, target);
    kiv::fuzz::require(well_framed(channel.sent()));
    return 0;
}
