// Each forked child translates the blocks it runs for itself, and its
// translations die with it: without help every execution would translate
// the program anew, the larger part of its cost. So a child tells the fork
// server, through a pipe, the blocks it entered that the server had not
// translated, and the server translates them before the next fork, as
// AFL++'s own QEMU and Unicorn modes do. From then on children find them
// ready.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "machine/block_listener.h"
#include "support/unique_fd.h"

namespace kiv {

class SharedTranslations : public BlockListener {
public:
    // `inner` hears of every block too (the edge map).
    explicit SharedTranslations(BlockListener &inner);
    bool opened() const { return reader_.valid(); }

    void entered(uint32_t address) override {
        inner_.entered(address);
        if (known_.insert(address).second) fresh_.push_back(address);
    }

    // In a child, at the end of an execution: the blocks new to the server.
    void send();
    // In the server, before a fork: translates the blocks children sent.
    void translate(uc_engine *uc);

private:
    BlockListener &inner_;
    UniqueFd reader_, writer_;
    std::unordered_set<uint32_t> known_;
    std::vector<uint32_t> fresh_;
};

}  // namespace kiv
