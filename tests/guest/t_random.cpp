// The random-number generator: the automatic seed of a first rand, and the
// sequences srand starts.
#include "check.h"
#include "stdlib.h"

namespace {

constexpr int kSequenceLength = 5;

struct Sequence {
    unsigned int seed;
    int values[kSequenceLength];
};

constexpr Sequence kSequences[] = {
    {1, {16838, 5758, 10113, 17515, 31051}},
    {0, {16838, 5758, 10113, 17515, 31051}},  // 0 is taken as 1
    {2, {908, 22817, 10239, 12914, 25837}},
};

// Must run first: only the process's first rand seeds itself.
void check_automatic_seed() {
    int first = rand();
    CHECK(first >= 0 && first <= RAND_MAX);
    // Seeded now: the next value follows from the state, without a new seed.
    int second = rand();
    CHECK(second >= 0 && second <= RAND_MAX);
}

void check_sequences() {
    for (const Sequence &sequence : kSequences) {
        srand(sequence.seed);
        for (int i = 0; i < kSequenceLength; i++) CHECK_EQ(rand(), sequence.values[i]);
    }
}

// A reseed restarts the sequence wherever the generator stood.
void check_reseed_restarts() {
    srand(1);
    for (int i = 0; i < 37; i++) rand();
    srand(1);
    CHECK_EQ(rand(), kSequences[0].values[0]);
}

}  // namespace

extern "C" int main() {
    check_automatic_seed();
    check_sequences();
    check_reseed_restarts();
    return check_done();
}
