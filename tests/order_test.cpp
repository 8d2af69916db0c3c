#include "order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "test_util.h"

namespace maxmedian {
namespace {

using testing::kMax32;
using testing::kMin32;

// `records` as OrderRecords orders them.
std::vector<Record> Ordered(std::vector<Record> records) {
  Table<int64_t> scratch;
  if (!scratch.Resize(records.size())) abort();
  OrderRecords(records, scratch);
  return records;
}

// `records` as std::sort orders them.
std::vector<Record> Sorted(std::vector<Record> records) {
  std::sort(records.begin(), records.end());
  return records;
}

class OrderAtCpuLevel : public testing::AtCpuLevel {};

// Sizes on both sides of every switch between sorting methods, and ranges from all-equal to the
// full 32 bits, so that skipped and performed byte passes both happen.
TEST_P(OrderAtCpuLevel, AgreesWithStdSort) {
  std::mt19937 random(7);
  for (size_t size : {0, 1, 2, 3, 4, 5, 62, 63, 64, 65, 94, 95, 96, 97, 257, 4099, 70000}) {
    for (int32_t spread : {0, 1, 300, 70000, kMax32}) {
      std::uniform_int_distribution<int32_t> number(-spread, spread);
      std::vector<Record> records(size);
      for (Record& r : records) r = {number(random), number(random)};
      ASSERT_EQ(Ordered(records), Sorted(records)) << "size " << size << ", spread " << spread;
    }
  }
}

// Cases large enough to be spread into buckets by their keys' top bits, where equal values in a
// tenth of the records make one bucket too large to rank, and in half of them, too many.
TEST_P(OrderAtCpuLevel, ClustersTooLargeToRank) {
  std::mt19937 random(5);
  for (uint32_t clustered_percent : {10, 50}) {
    std::vector<Record> records(20000);
    for (Record& r : records) {
      const bool clustered = random() % 100 < clustered_percent;
      r = {clustered ? 12345 : static_cast<int32_t>(random()), static_cast<int32_t>(random())};
    }
    EXPECT_EQ(Ordered(records), Sorted(records)) << clustered_percent;
  }
}

// Records already in value order (costs of equal values in any order), in reverse, or in order
// but for some moved far away, from a few to more than the ordered-input path takes on; with
// values that tie always, often, rarely or hardly ever.
TEST_P(OrderAtCpuLevel, InputAlreadyNearlyInOrder) {
  std::mt19937 random(11);
  for (size_t size : {100, 5000, 40000}) {
    for (int32_t spread : {0, 40, 1 << 20, kMax32}) {
      for (size_t moved : {size_t{0}, size_t{2}, size / 40, size / 5}) {
        std::uniform_int_distribution<int32_t> number(-spread, spread);
        std::vector<Record> records(size);
        for (Record& r : records) r = {number(random), number(random)};
        std::stable_sort(records.begin(), records.end(),
                         [](const Record& l, const Record& r) { return l.first < r.first; });
        for (size_t i = 0; i < moved; ++i)
          std::swap(records[random() % size], records[random() % size]);
        ASSERT_EQ(Ordered(records), Sorted(records)) << size << " " << spread << " " << moved;
        std::reverse(records.begin(), records.end());
        ASSERT_EQ(Ordered(records), Sorted(records)) << size << " " << spread << " " << moved;
        // Two runs in order, the larger values first: one break, but half the records misplaced.
        std::rotate(records.begin(), records.begin() + size / 3, records.end());
        ASSERT_EQ(Ordered(records), Sorted(records)) << size << " " << spread << " " << moved;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, OrderAtCpuLevel, testing::kEveryCpuLevel);

// Cases too large for the caches are spread into cache-sized buckets first, unless the values
// cluster into a few of them; each bucket is then sorted from where it was spread, by ranking,
// by digits, or not at all where its records are all alike (the last shape: 512 records, each
// many times over).
TEST(Order, CasesBeyondTheCaches) {
  std::mt19937 random(13);
  // Values spread, narrow, or none but a few far apart; last, in three narrow clusters far
  // apart, each holding more than a quarter of the records.
  const int32_t spreads[][2] = {{kMax32, kMax32}, {2, 2}, {1 << 20, 3}, {0, 0}, {-1000, kMax32}};
  for (const auto& [values, costs] : spreads) {
    std::uniform_int_distribution<int32_t> value(-std::abs(values), std::abs(values)),
        cost(-costs, costs);
    std::vector<Record> records((size_t{1} << 20) + 5);
    for (Record& r : records) {
      if (values < 0) {
        r = {(static_cast<int32_t>(random() % 3) - 1) * (1 << 30) + value(random), cost(random)};
      } else {
        r = values > 0 ? Record{value(random), cost(random)}
                       : Record{static_cast<int32_t>(random() % 512) << 20, 7};
      }
    }
    EXPECT_EQ(Ordered(records), Sorted(records)) << values << " " << costs;
  }
}

// Values far apart with nothing between them leave a middle digit that every key shares.
TEST(Order, SkippedDigitsKeepTheOrder) {
  std::mt19937 random(3);
  for (int32_t far : {1 << 30, 1 << 20, kMax32}) {
    std::vector<Record> records(100);
    for (Record& r : records)
      r = {static_cast<int32_t>(random() % 2) * far, static_cast<int32_t>(random() % 2)};
    EXPECT_EQ(Ordered(records), Sorted(records)) << far;
  }
}

TEST(Order, SignedExtremesAndTies) {
  std::vector<Record> base = {{kMax32, kMin32}, {kMin32, kMax32}, {0, -1},  {-1, 0},
                              {0, 0},           {kMin32, kMin32}, {-1, -1}, {kMax32, kMax32}};
  for (size_t copies : {1, 40}) {  // a comparison sort, then the radix sort
    std::vector<Record> records;
    for (size_t i = 0; i < copies; ++i) records.insert(records.end(), base.begin(), base.end());
    const std::vector<Record> ordered = Ordered(records);
    EXPECT_EQ(ordered, Sorted(records)) << copies;
    EXPECT_EQ(ordered.front(), (Record{kMin32, kMin32}));
    EXPECT_EQ(ordered.back(), (Record{kMax32, kMax32}));
  }
}

}  // namespace
}  // namespace maxmedian
