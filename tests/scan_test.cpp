#include <gtest/gtest.h>

#include "selection/selection.h"
#include "test_util.h"

namespace maxmedian {
namespace {

using testing::kMax32;
using testing::kMin32;
using testing::TablesWith;
using testing::WorkedCase;

int32_t Answer(const CaseHeader& header, Tables& tables) { return SelectMiddle(header, tables); }
int32_t Answer(const CaseHeader& header, Tables&& tables) { return Answer(header, tables); }

TEST(Scan, WorkedCaseBudgets) {
  // The cheapest choices around positions 2, 3 and 4 cost 59, 64 and 69.
  EXPECT_EQ(Answer({3, 5, 70}, WorkedCase()), 35);
  EXPECT_EQ(Answer({3, 5, 69}, WorkedCase()), 35);  // a total equal to F qualifies
  EXPECT_EQ(Answer({3, 5, 68}, WorkedCase()), 30);
  EXPECT_EQ(Answer({3, 5, 59}, WorkedCase()), 20);
  EXPECT_EQ(Answer({3, 5, 58}, WorkedCase()), -1);
}

TEST(Scan, TotalsBeyond32BitsCompareExactly) {
  // Around position 2 the only total is 2 * (2^31 - 1) + 2 = 2^32.
  Tables t = TablesWith({{1, kMax32}, {2, 2}, {3, kMax32}});
  EXPECT_EQ(Answer({3, 3, kMax32}, t), -1);
  // With a cheap middle whose total is exactly 2^31 - 1, it fits.
  Tables fits = TablesWith({{1, kMax32 - 5}, {2, 2}, {3, 3}});
  EXPECT_EQ(Answer({3, 3, kMax32}, fits), 2);
  EXPECT_EQ(Answer({3, 3, kMax32 - 1}, fits), -1);
}

TEST(Scan, NegativeBudget) {
  Tables t = TablesWith({{1, -5}, {2, -3}, {3, 1}, {4, -10}});
  EXPECT_EQ(Answer({1, 4, -4}, t), 4);  // h = 0: each record alone
  EXPECT_EQ(Answer({1, 4, -11}, t), -1);
  // h = 1: the cheapest choice around position 3 costs -5 + 1 - 10, around position 2 -5 - 3 - 10.
  EXPECT_EQ(Answer({3, 4, -14}, t), 3);
  EXPECT_EQ(Answer({3, 4, -15}, t), 2);
  EXPECT_EQ(Answer({3, 4, -19}, t), -1);
}

TEST(Scan, AnswerNeverBelowMinusOne) {
  Tables low = TablesWith({{kMin32, 0}, {-7, 0}, {-2, 0}});
  EXPECT_EQ(Answer({1, 3, 0}, low), -1);
  Tables minus_one = TablesWith({{-5, 0}, {-1, 0}});
  EXPECT_EQ(Answer({1, 2, 0}, minus_one), -1);
}

TEST(Scan, HalfSizeZeroTakesTheLargestAffordableValue) {
  Tables t = TablesWith({{1, 1}, {4, 9}, {6, 3}, {8, 10}});
  EXPECT_EQ(Answer({1, 4, 9}, t), 6);
  EXPECT_EQ(Answer({0, 4, 10}, t), 8);
}

TEST(Scan, TooFewRecordsGiveMinusOne) {
  EXPECT_EQ(Answer({3, 2, 100}, TablesWith({{1, 1}, {2, 2}})), -1);
  EXPECT_EQ(Answer({1, 0, 100}, TablesWith({})), -1);
  EXPECT_EQ(Answer({9, 2, 100}, TablesWith({{1, 1}, {2, 2}})), -1);
  EXPECT_EQ(Answer({-3, 2, 100}, TablesWith({{1, 1}, {2, 2}})), -1);
}

}  // namespace
}  // namespace maxmedian
