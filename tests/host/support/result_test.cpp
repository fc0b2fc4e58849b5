// The one shape of "could not read it": a value, or why there is none.
#include "support/result.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kiv::test {
namespace {

struct Fault {
    int kind;
    std::string message;
};

Result<int> halved(int number) {
    if (number % 2 != 0) return Failure{std::to_string(number) + " is odd"};
    return number / 2;
}

TEST(Result, HoldsTheValueOrTheReason) {
    Result<int> even = halved(8);
    ASSERT_TRUE(even.has_value());
    EXPECT_EQ(*even, 4);
    EXPECT_EQ(even.value_or(-1), 4);

    Result<int> odd = halved(7);
    ASSERT_FALSE(odd);
    EXPECT_EQ(odd.error(), "7 is odd");
    EXPECT_EQ(odd.value_or(-1), -1);
}

TEST(Result, AValueThatOnlyMovesIsHandedOn) {
    Result<std::unique_ptr<int>> held = std::make_unique<int>(5);
    ASSERT_TRUE(held);
    std::unique_ptr<int> taken = *std::move(held);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(*taken, 5);
}

TEST(Result, TheErrorCanSayMoreThanALine) {
    Result<std::string, Fault> refused = Failure{Fault{3, "no section"}};
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, 3);
    EXPECT_EQ(refused.error().message, "no section");
    Result<std::string, Fault> text = std::string("text");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 4u);
}

TEST(Result, AStepWithoutAValueIsDoneOrRefused) {
    Result<void> done;
    EXPECT_TRUE(done);
    Result<void> refused = Failure{"not now"};
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "not now");
}

}  // namespace
}  // namespace kiv::test
