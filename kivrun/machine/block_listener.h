// Told of every basic block the program enters, in order, from the CPU's
// block hook (AFL++'s edge coverage is built from the sequence).
#pragma once

#include <cstdint>

namespace kiv {

class BlockListener {
public:
    virtual ~BlockListener() = default;
    virtual void entered(uint32_t address) = 0;
};

}  // namespace kiv
