// The made-up time-stamp counter's option text: a start and a step.
#include "machine/tsc.h"

#include <gtest/gtest.h>

namespace kiv::test {
namespace {

struct SequenceText {
    const char *text;
    bool valid;
    uint64_t start, step;
};

const SequenceText kSequenceTexts[] = {
    {"5", true, 5, 1},
    {"0x10:0x3", true, 0x10, 3},
    {"18446744073709551615:0", true, UINT64_MAX, 0},
    {"0XfF:0", true, 0xff, 0},
    {"", false},
    {":3", false},
    {"5:", false},
    {"5:3:1", false},
    {"0x", false},
    {"010:8", false},  // a leading zero could mean octal: refused
    {"-1", false},
    {"+1", false},
    {" 1", false},
    {"1:-1", false},
    {"18446744073709551616", false},
    {"12abc", false},
};

TEST(TscOption, ParsesStartAndStep) {
    for (const auto &c : kSequenceTexts) {
        SCOPED_TRACE(c.text);
        Result<TscSequence> sequence = parse_tsc_sequence(c.text);
        ASSERT_EQ(sequence.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(sequence->start, c.start);
            EXPECT_EQ(sequence->step, c.step);
        } else {
            EXPECT_EQ(sequence.error(), "a 64-bit number: decimal or 0x-hex");
        }
    }
}

}  // namespace
}  // namespace kiv::test
