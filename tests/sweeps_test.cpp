#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "selection/selection.h"
#include "test_util.h"

namespace maxmedian {
namespace {

using testing::Assign;
using testing::kMax32;
using testing::Plain;
using testing::TablesWith;
using testing::WorkedCase;

void SweepBoth(const CaseHeader& header, Tables& tables) {
  SweepForward(header, tables);
  SweepBackward(header, tables);
}

TEST(Sweeps, WorkedCase) {
  Tables t = WorkedCase();
  SweepBoth({3, 5, 70}, t);
  EXPECT_EQ(std::vector<int64_t>(t.c.begin() + 2, t.c.begin() + 6),
            (std::vector<int64_t>{18, 18, 18, 18}));
  EXPECT_EQ(std::vector<int64_t>(t.d.begin() + 1, t.d.begin() + 5),
            (std::vector<int64_t>{20, 21, 21, 21}));
  // The heap is left holding the h cheapest costs of the case, in heap order.
  EXPECT_EQ(Plain(t.Q), std::vector<int32_t>{18});
}

TEST(Sweeps, SumsBeyond32Bits) {
  Tables t = TablesWith({{1, kMax32}, {2, kMax32}, {3, 5}, {4, kMax32}, {5, kMax32}});
  SweepBoth({5, 5, 0}, t);
  EXPECT_EQ(t.c[3], 2 * int64_t{kMax32});
  EXPECT_EQ(t.d[3], 2 * int64_t{kMax32});
  EXPECT_EQ(t.c[4], int64_t{kMax32} + 5);  // 5 replaced one of the two largest
}

TEST(Sweeps, NegativeCostsLowerTheSums) {
  Tables t = TablesWith({{1, 7}, {2, -4}, {3, 9}, {4, -2147483647 - 1}, {5, 3}, {6, 0}});
  SweepBoth({5, 6, 0}, t);
  EXPECT_EQ(t.c[3], 3);
  EXPECT_EQ(t.c[5], -4 + int64_t{-2147483647 - 1});
  EXPECT_EQ(t.d[2], int64_t{-2147483647 - 1} + 0);
}

TEST(Sweeps, EqualCostsLeaveTheHeap) {
  Tables t = TablesWith({{1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 4}});
  SweepBoth({5, 5, 0}, t);
  for (int k = 3; k <= 5; ++k) EXPECT_EQ(t.c[k], 8) << k;
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(t.d[k], 8) << k;
}

TEST(Sweeps, HalfSizeZeroWritesZeros) {
  for (int32_t N : {0, 1, -1}) {
    Tables t = TablesWith({{1, 5}, {2, 6}, {3, 7}});
    Assign(t.c, {99, 99, 99, 99});
    Assign(t.d, {99, 99, 99, 99});
    SweepBoth({N, 3, 0}, t);
    EXPECT_EQ(Plain(t.c), (std::vector<int64_t>{99, 0, 0, 0})) << N;
    EXPECT_EQ(Plain(t.d), (std::vector<int64_t>{99, 0, 0, 0})) << N;
    EXPECT_TRUE(t.Q.empty());
  }
}

TEST(Sweeps, ExactlyTwoHRecordsStayInside) {
  Tables t = TablesWith({{1, 5}, {2, 6}});
  SweepBoth({3, 2, 0}, t);
  EXPECT_EQ(t.c[2], 5);
  EXPECT_EQ(t.d[1], 6);
}

TEST(Sweeps, HalfSizeBeyondTheRecordsWritesNothing) {
  for (int32_t N : {7, 2000000001, -2, -2147483647 - 1}) {
    Tables t = TablesWith({{1, 5}, {2, 6}});
    Assign(t.c, {99, 99, 99});
    Assign(t.d, {99, 99, 99});
    Assign(t.Q, {1, 2, 3});
    SweepBoth({N, 2, 0}, t);
    EXPECT_EQ(Plain(t.c), (std::vector<int64_t>{99, 99, 99})) << N;
    EXPECT_EQ(Plain(t.d), (std::vector<int64_t>{99, 99, 99})) << N;
    EXPECT_TRUE(t.Q.empty()) << N;
  }
}

class SweepsAtCpuLevel : public testing::AtCpuLevel {};

// Every entry the sweeps write is the sum of the h smallest costs on its side, computed here by
// sorting each side afresh, and the heap stays a heap of the h cheapest costs. Sizes and half
// sizes straddle the limits between short sweeps over small heaps and the rest.
TEST_P(SweepsAtCpuLevel, MatchSortedSidesOnRandomTables) {
  std::mt19937 random(12345);
  for (int round = 0; round < 2000; ++round) {
    const bool large = round % 10 == 0;
    const int C = std::uniform_int_distribution<int>(0, large ? 200 : 40)(random);
    const int h = std::uniform_int_distribution<int>(0, large ? std::min(C, 40) : C)(random);
    const int32_t spread = round % 3 == 0 ? 3 : (round % 3 == 1 ? 1000 : kMax32);
    std::uniform_int_distribution<int32_t> cost(-spread, spread);
    std::vector<Record> records;
    for (int i = 1; i <= C; ++i) records.push_back({i, cost(random)});
    Tables t = TablesWith(records);
    const CaseHeader header{2 * h + (round & 1), C, 0};
    SweepForward(header, t);
    for (size_t i = 1; i < t.Q.size(); ++i) ASSERT_LE(t.Q[i], t.Q[(i - 1) / kHeapArity]) << i;
    ASSERT_EQ(static_cast<int>(t.Q.size()), h);
    SweepBackward(header, t);
    auto cheapest = [&](int from, int to) {  // sum of the h smallest costs at positions from..to
      std::vector<int64_t> costs;
      for (int i = from; i <= to; ++i) costs.push_back(t.a[i].second);
      std::sort(costs.begin(), costs.end());
      return std::accumulate(costs.begin(), costs.begin() + h, int64_t{0});
    };
    for (int j = h + 1; j <= C; ++j) ASSERT_EQ(t.c[j], cheapest(1, j - 1)) << round << " " << j;
    for (int j = C - h; j >= 1; --j) ASSERT_EQ(t.d[j], cheapest(j + 1, C)) << round << " " << j;
  }
}
INSTANTIATE_TEST_SUITE_P(Levels, SweepsAtCpuLevel, testing::kEveryCpuLevel);

}  // namespace
}  // namespace maxmedian
