#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <set>

#include "selection/selection.h"
#include "test_util.h"

namespace maxmedian {
namespace {

using testing::kMax32;
using testing::kMin32;
using testing::TablesWith;
using testing::WorkedCase;

constexpr int64_t kUnset = 99;  // what the tests put in entries the sweeps must not write

// The lower sums the forward sweep hands over, gathered by position; kUnset where none came.
// Checks that the blocks come in ascending order, each at most kSumBlock long, without gaps.
class Gathered final : public LowerSumReader {
 public:
  explicit Gathered(const Tables& tables) : tables_(tables) {}
  void Read(int64_t first, int64_t last) override {
    EXPECT_TRUE(next_ == 0 || first == next_) << first;
    EXPECT_LE(first, last);
    EXPECT_LE(last - first + 1, kSumBlock);
    for (int64_t k = first; k <= last; ++k) {
      if (lower.size() <= static_cast<size_t>(k)) lower.resize(k + 1, kUnset);
      lower[k] = tables_.c[k - first];
    }
    next_ = last + 1;
  }
  std::vector<int64_t> lower;

 private:
  const Tables& tables_;
  int64_t next_ = 0;
};

// Runs both sweeps on `tables`, prepared for `header` and with d first set to kUnset, and
// returns the lower sums by position (kUnset beyond the last one handed over).
std::vector<int64_t> SweepBoth(const CaseHeader& header, Tables& tables) {
  if (!PrepareTables(header, tables)) abort();
  std::fill(tables.d.begin(), tables.d.end(), kUnset);
  SweepBackward(header, tables);
  Gathered gathered(tables);
  SweepForward(header, tables, gathered);
  gathered.lower.resize(tables.a.size(), kUnset);
  return gathered.lower;
}

std::vector<int64_t> Entries(const Table<int64_t>& table, size_t from, size_t to) {
  return std::vector<int64_t>(table.begin() + from, table.begin() + to);
}

TEST(Sweeps, WorkedCase) {
  Tables t = WorkedCase();
  const std::vector<int64_t> c = SweepBoth({3, 5, 70}, t);
  EXPECT_EQ(c, (std::vector<int64_t>{kUnset, kUnset, 18, 18, 18, kUnset}));
  EXPECT_EQ(Entries(t.d, 0, 6), (std::vector<int64_t>{kUnset, kUnset, 21, 21, 21, kUnset}));
}

TEST(Sweeps, SumsBeyond32Bits) {
  Tables t = TablesWith({{1, kMax32}, {2, kMax32}, {3, 5}, {4, kMax32}, {5, kMax32}});
  EXPECT_EQ(SweepBoth({5, 5, 0}, t)[3], 2 * int64_t{kMax32});
  EXPECT_EQ(t.d[3], 2 * int64_t{kMax32});
}

class SweepsAtCpuLevel : public testing::AtCpuLevel {};

// The sum of the h smallest costs on one side of every position, computed plainly, from position
// `from` toward `to` (excluded), by steps of `step`; kUnset where there are fewer than h.
std::vector<int64_t> PlainSums(const Tables& t, int64_t h, int from, int to, int step) {
  std::vector<int32_t> costs;
  for (int k = from; k != to; k += step) costs.push_back(t.a[k].second);
  const std::vector<int64_t> before = testing::CheapestSumsBefore(costs, h);
  std::vector<int64_t> sums(t.a.size(), kUnset);
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] != testing::kNoSum) sums[from + static_cast<int>(i) * step] = before[i];
  }
  return sums;
}

// The sweeps write exactly the positions h + 1..C - h, each with the sum of the h smallest costs
// on its side, and nothing when no position can be a middle. Sizes and half sizes straddle the
// limits between short sweeps over small heaps and the rest; larger cases span several blocks of
// lower sums, and have their costs kept in buckets (a few values crowding each, a few hundred
// values filling a bucket each, or spread widely), counted where they span few values, or in a
// heap with enough of the first costs to be sorted apart from it where they crowd a few buckets.
TEST_P(SweepsAtCpuLevel, MatchSortedSidesOnRandomTables) {
  std::mt19937 random(12345);
  std::set<Keeping> kept_by;  // every way of keeping costs must meet the plain sums
  for (int round = 0; round < 300; ++round) {
    // Now and then a case with enough costs for the heap to sort the first apart from the rest.
    const bool larger = round % 100 == 25;
    const bool large = round % 50 == 0 || larger;
    const int C =
        larger ? std::uniform_int_distribution<int>(66000, 70000)(random)
               : std::uniform_int_distribution<int>(large ? 6200 : 0, large ? 7000 : 140)(random);
    const int32_t spread =
        round % 3 == 0 ? 3 : (round % 3 == 1 ? (round % 6 == 1 ? 1000 : 300000) : kMax32);
    std::uniform_int_distribution<int32_t> cost(-spread, spread);
    // Some rounds move costs of a narrow spread to either end of the 32-bit range.
    const int32_t edges[] = {0, kMin32 + spread, kMax32 - spread, kMin32 + spread};
    const int32_t edge = spread == kMax32 ? 0 : edges[round / 50 % 4];
    std::vector<Record> records;
    // Some larger cases' costs are narrow but for a few anywhere in 32 bits, which crowd the
    // buckets of a wide span and leave the costs to the heap.
    const bool crowded = larger && round % 3 == 1;
    // Others' costs take a few hundred values anywhere in 32 bits: buckets of a hundred or more.
    std::vector<int32_t> clumps(larger && round % 3 == 2 ? 300 : 0);
    for (int32_t& clump : clumps) clump = static_cast<int32_t>(random());
    for (int i = 1; i <= C; ++i) {
      const bool anywhere = crowded && random() % 64 == 0;
      records.push_back({i, !clumps.empty() ? clumps[random() % clumps.size()]
                            : anywhere      ? static_cast<int32_t>(random())
                                            : edge + cost(random)});
    }
    // Costs that fall (or rise) as values rise make every cost enter the heap on one side.
    auto by_cost = [](const Record& l, const Record& r) { return l.second > r.second; };
    const bool sorted = round % 4 == 3 || round % 100 == 50;  // some large cases too
    if (sorted) std::sort(records.begin(), records.end(), by_cost);
    if (sorted && round % 8 == 7) std::reverse(records.begin(), records.end());
    Tables t = TablesWith(records);
    // Every h from 0 to C/2, and choice sizes that leave no middle: too large, or negative.
    std::vector<int32_t> sizes = {-1, -2, kMin32, 2 * (C / 2 + 1), 2000000001};
    for (int h = 0; h <= C / 2; h += large ? C / 6 : 1) sizes.push_back(2 * h + (round & 1));
    for (const int32_t N : sizes) {
      const int64_t h = HalfSize(N);
      const std::vector<int64_t> c = SweepBoth({N, C, 0}, t);
      kept_by.insert(t.keeping);
      const bool any = h >= 0 && 2 * h < C;
      const std::vector<int64_t> below = any ? PlainSums(t, h, 1, C + 1, 1) : c;
      const std::vector<int64_t> above = any ? PlainSums(t, h, C, 0, -1) : c;
      for (int k = 0; k <= C; ++k) {
        const bool middle = any && k > h && k <= C - h;
        ASSERT_EQ(c[k], middle ? below[k] : kUnset) << round << " " << N << " " << k;
        ASSERT_EQ(t.d[k], middle ? above[k] : kUnset) << round << " " << N << " " << k;
      }
    }
  }
  EXPECT_EQ(kept_by.size(), 3u);
}
INSTANTIATE_TEST_SUITE_P(Levels, SweepsAtCpuLevel, testing::kEveryCpuLevel);

}  // namespace
}  // namespace maxmedian
