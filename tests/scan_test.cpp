#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <random>
#include <vector>

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

// Random costs from ranges narrow and wide, negative and not, budgets around the cheapest
// choice: the bound rules a case out only when the cheapest 2h + 1 costs exceed the budget, and
// it does rule out most cases whose cheapest choice exceeds it by more than its ranges' width.
TEST(Scan, BudgetBoundNeverRulesOutAChoiceThatFits) {
  std::mt19937 random(31);
  auto pick = [&](int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(random);
  };
  int ruled_out = 0, clearly_over = 0;
  for (int round = 0; round < 3000; ++round) {
    // One round in ten large enough that a sample of the costs is looked at first.
    const auto C = static_cast<int32_t>(round % 10 == 0 ? pick(4096, 6000) : pick(1, 300));
    const int64_t lo = pick(kMin32, kMax32), hi = std::min<int64_t>(kMax32, lo + pick(0, 1 << 30));
    std::vector<Record> records(static_cast<size_t>(C));
    std::vector<int64_t> costs;
    for (Record& record : records) {
      record = {0, static_cast<int32_t>(pick(lo, hi))};
      costs.push_back(record.second);
    }
    const auto choice = static_cast<size_t>(pick(0, (C - 1) / 2) * 2 + 1);
    std::sort(costs.begin(), costs.end());
    const int64_t cheapest = std::accumulate(costs.begin(), costs.begin() + choice, int64_t{0});
    const int64_t F =
        std::clamp<int64_t>(cheapest + pick(-(int64_t{3} << 21), 1 << 22), kMin32, kMax32);
    const CaseHeader header{static_cast<int32_t>(choice), C, static_cast<int32_t>(F)};
    const bool out = BudgetRulesOutEveryChoice(
        header, records.data(),
        {static_cast<int32_t>(costs.front()), costs.back() - costs.front() + 1});
    ASSERT_TRUE(!out || cheapest > F) << round;
    ruled_out += out;
    clearly_over += cheapest > F + static_cast<int64_t>(choice) * (1 << 21);
  }
  EXPECT_GE(ruled_out, clearly_over);
  EXPECT_GT(clearly_over, 100);
}

// The same kinds of costs, with values that tie often or seldom, in order, and budgets around
// the cost of the first middle of the largest value a middle can have: the bound claims it
// only when it fits, and does claim most that fit by a margin.
TEST(Scan, TopMiddleBoundClaimsOnlyAMiddleThatFits) {
  std::mt19937 random(37);
  auto pick = [&](int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(random);
  };
  auto cheapest = [](std::vector<int64_t> costs, int64_t h) {
    std::sort(costs.begin(), costs.end());
    return std::accumulate(costs.begin(), costs.begin() + h, int64_t{0});
  };
  int claimed = 0, clearly_under = 0;
  for (int round = 0; round < 3000; ++round) {
    const auto C = static_cast<int32_t>(round % 10 == 0 ? pick(4096, 6000) : pick(1, 300));
    const int64_t lo = pick(kMin32, kMax32), hi = std::min<int64_t>(kMax32, lo + pick(0, 1 << 22));
    const int64_t values = std::array<int64_t, 3>{0, 9, kMax32}[round % 3];
    std::vector<Record> records(static_cast<size_t>(C));
    for (Record& record : records) {
      record = {static_cast<int32_t>(pick(0, values)), static_cast<int32_t>(pick(lo, hi))};
    }
    std::sort(records.begin(), records.end());
    const int64_t h = pick(0, (C - 1) / 2);
    int64_t at = C - h - 1;
    while (at > h && records[at - 1].first == records[at].first) --at;
    std::vector<int64_t> before, after;
    for (int64_t k = 0; k < C; ++k) (k < at ? before : after).push_back(records[k].second);
    after.erase(after.begin());
    const int64_t cost = cheapest(before, h) + records[at].second + cheapest(after, h);
    const int64_t F =
        std::clamp<int64_t>(cost + pick(-(int64_t{1} << 16), 1 << 16) * (h + 1), kMin32, kMax32);
    const auto [least, most] =
        std::minmax_element(records.begin(), records.end(),
                            [](const Record& x, const Record& y) { return x.second < y.second; });
    const bool fits =
        TopMiddleFits({static_cast<int32_t>(2 * h + 1), C, static_cast<int32_t>(F)}, records.data(),
                      {least->second, int64_t{most->second} - least->second + 1});
    ASSERT_TRUE(!fits || cost <= F) << round;
    claimed += fits;
    clearly_under += cost + 2 * h * (1 << 12) < F;
  }
  EXPECT_GE(claimed, clearly_under * 9 / 10);
  EXPECT_GT(clearly_under, 100);
}

// The records left by dropping those too costly for any choice, and then those below the top
// values, answer as the whole case does: values spread widely, in a few clusters or of one kind;
// costs narrow or wide, of one sign or both; h mostly small; budgets exactly that of the
// cheapest choice, near that of a middle of a high value, or any.
TEST(Scan, RecordsKeptAnswerAsTheWholeCase) {
  std::mt19937 random(43);
  auto pick = [&](int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(random);
  };
  // The cost of the cheapest choice around each position of `records`, which it puts in order.
  auto cheapest = [](std::vector<Record>& records, int64_t h) {
    std::sort(records.begin(), records.end());
    std::vector<int32_t> costs(records.size());
    for (size_t i = 0; i < records.size(); ++i) costs[i] = records[i].second;
    const std::vector<int64_t> below = testing::CheapestSumsBefore(costs, h);
    std::reverse(costs.begin(), costs.end());
    const std::vector<int64_t> above = testing::CheapestSumsBefore(costs, h);
    std::vector<int64_t> total(records.size(), testing::kNoSum);
    for (size_t k = 0, C = records.size(); k < C; ++k) {
      if (below[k] != testing::kNoSum && above[C - 1 - k] != testing::kNoSum) {
        total[k] = below[k] + above[C - 1 - k] + records[k].second;
      }
    }
    return total;
  };
  auto answer = [&](std::vector<Record> records, int64_t h, int64_t F) {
    const std::vector<int64_t> total = cheapest(records, h);
    int32_t best = -1;
    for (size_t k = 0; k < records.size(); ++k) {
      if (total[k] <= F) best = std::max(best, records[k].first);
    }
    return best;
  };
  Table<int32_t> scratch;
  int dropped = 0, reduced = 0;
  for (int round = 0; round < 40; ++round) {
    const auto C = static_cast<int32_t>(pick(65536, 70000));
    const int64_t h = round % 3 == 0 ? pick(1, C / 16) : pick(1, 100);
    const int64_t values = std::array<int64_t, 3>{kMax32, 40, 1}[round % 3];
    const int64_t lo = round / 20 == 0 ? 0 : -pick(0, kMax32);
    const int64_t hi = round % 5 < 2 ? lo + pick(1, 1000) : pick(1, kMax32);
    std::vector<Record> records(static_cast<size_t>(C));
    for (Record& r : records) {
      r = {static_cast<int32_t>(pick(-values, values)), static_cast<int32_t>(pick(lo, hi))};
    }
    std::vector<Record> ordered = records;
    const std::vector<int64_t> total = cheapest(ordered, h);
    const int64_t F = std::clamp<int64_t>(
        std::array<int64_t, 3>{*std::min_element(total.begin(), total.end()),
                               total[static_cast<size_t>(pick(C - C / 3, C - h - 1))] + pick(-2, 2),
                               pick(kMin32, kMax32)}[round % 4 < 2 ? 1 : round % 4 - 2],
        kMin32, kMax32);
    const auto [least, most] =
        std::minmax_element(records.begin(), records.end(),
                            [](const Record& x, const Record& y) { return x.second < y.second; });
    CostSpan span{least->second, int64_t{most->second} - least->second + 1};
    CaseHeader header{static_cast<int32_t>(2 * h + 1), C, static_cast<int32_t>(F)};
    std::vector<Record> kept = records;
    header.C = KeepRecordsAChoiceCanHold(header, kept.data(), span, scratch);
    dropped += header.C < C;
    if (2 * h + 1 <= header.C) {
      const int32_t affordable = header.C;
      header.C = KeepRecordsOfTheTopValues(header, kept.data(), span);
      reduced += header.C < affordable;
    }
    kept.resize(static_cast<size_t>(header.C));
    ASSERT_EQ(answer(kept, h, F), answer(records, h, F)) << round;
  }
  EXPECT_GT(dropped, 4);
  EXPECT_GT(reduced, 8);
}

}  // namespace
}  // namespace maxmedian
