#include "run/shared_translations.h"

#include <fcntl.h>
#include <unistd.h>

namespace kiv {

SharedTranslations::SharedTranslations(BlockListener &inner) : inner_(inner) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    reader_ = UniqueFd(ends[0]);
    writer_ = UniqueFd(ends[1]);
}

// What the pipe cannot take at once is left out: the server then only
// misses a chance to translate ahead.
void SharedTranslations::send() {
    if (fresh_.empty() || !writer_.valid()) return;
    (void)!write(writer_.get(), fresh_.data(), fresh_.size() * sizeof(uint32_t));
    fresh_.clear();
}

// Not the block where the server stands: the emulator translates the end
// address of its last run as a stop, and a child starts there.
void SharedTranslations::translate(uc_engine *uc) {
    uint32_t here = 0;
    uc_reg_read(uc, UC_X86_REG_EIP, &here);
    uint32_t addresses[1024];
    ssize_t got;
    while (reader_.valid() && (got = read(reader_.get(), addresses, sizeof addresses)) > 0) {
        for (size_t i = 0; i < static_cast<size_t>(got) / sizeof(uint32_t); i++) {
            if (addresses[i] == here || !known_.insert(addresses[i]).second) continue;
            uc_tb block;
            uc_ctl_request_cache(uc, uint64_t{addresses[i]}, &block);
        }
    }
    fresh_.clear();
}

}  // namespace kiv
