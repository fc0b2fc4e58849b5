// A small linear congruential generator, so a program's kivos build and its
// native twin see the same "random" numbers without the C library's rand.
#pragma once

class Numbers {
public:
    explicit Numbers(unsigned seed) : state_(seed) {}

    unsigned next(unsigned bound) {
        state_ = state_ * 1103515245u + 12345u;
        return (state_ >> 16) % bound;
    }

private:
    unsigned state_;
};
