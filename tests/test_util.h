// Helpers shared by the unit tests.
#ifndef MAXMEDIAN_TESTS_TEST_UTIL_H_
#define MAXMEDIAN_TESTS_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <queue>
#include <string>
#include <vector>

#include "cpu.h"
#include "selection/selection.h"
#include "writer.h"

namespace maxmedian::testing {

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();

// Sets the entries of `table` to `entries`.
template <class T>
void Assign(Table<T>& table, const std::vector<T>& entries) {
  if (!table.Resize(entries.size())) abort();
  std::copy(entries.begin(), entries.end(), table.begin());
}

// Tables whose a[1..] holds `records` as given (position 0 is the unused (0, 0)), prepared for
// any half size up to the number of records.
inline Tables TablesWith(const std::vector<Record>& records) {
  Tables tables;
  std::vector<Record> a = {{0, 0}};
  a.insert(a.end(), records.begin(), records.end());
  Assign(tables.a, a);
  const int32_t C = static_cast<int32_t>(records.size());
  if (!PrepareTables({2 * C, C, 0}, tables)) abort();
  return tables;
}

// A sink that holds `capacity` bytes and then fails every write with `error`, like a full disk
// (ENOSPC) or a reader that has gone (EPIPE).
class LimitedSink final : public ByteSink {
 public:
  LimitedSink(size_t capacity, int error)
      : ByteSink("<output>"), capacity_(capacity), error_(error) {}
  bool Write(const char* data, size_t size) override {
    if (text.size() + size > capacity_) {
      errno = error_;
      return false;
    }
    text.append(data, size);
    return true;
  }
  std::string text;

 private:
  size_t capacity_;
  int error_;
};

// For each of `costs` in turn, the least total of h of the costs before it, computed plainly with
// a priority queue of the h cheapest so far; kNoSum where fewer than h come before it.
inline constexpr int64_t kNoSum = std::numeric_limits<int64_t>::max();
inline std::vector<int64_t> CheapestSumsBefore(const std::vector<int32_t>& costs, int64_t h) {
  std::vector<int64_t> sums;
  sums.reserve(costs.size());
  std::priority_queue<int32_t> kept;
  int64_t sum = 0;
  for (const int32_t cost : costs) {
    sums.push_back(static_cast<int64_t>(kept.size()) == h ? sum : kNoSum);
    kept.push(cost);
    sum += cost;
    if (static_cast<int64_t>(kept.size()) > h) {
      sum -= kept.top();
      kept.pop();
    }
  }
  return sums;
}

// The entries of a table, as a plain vector that tests can compare.
template <class T>
std::vector<T> Plain(const Table<T>& table) {
  return std::vector<T>(table.begin(), table.end());
}

// A fixture for tests that run once at each CPU level (INSTANTIATE_TEST_SUITE_P with
// kEveryCpuLevel): the level's vector paths are in use during the test, and on a machine that
// lacks the level the test is skipped, visibly.
class AtCpuLevel : public ::testing::TestWithParam<CpuLevel> {
 protected:
  void SetUp() override {
    if (UseCpuLevel(GetParam()) != GetParam()) GTEST_SKIP() << "this CPU lacks the level";
  }
  void TearDown() override { UseCpuLevel(SupportedCpuLevel()); }
};

inline const auto kEveryCpuLevel =
    ::testing::Values(CpuLevel::kPortable, CpuLevel::kSse41, CpuLevel::kAvx2, CpuLevel::kAvx512);

// The worked case: ordered records of a case with N = 3.
inline Tables WorkedCase() { return TablesWith({{5, 18}, {20, 20}, {30, 25}, {35, 30}, {50, 21}}); }

}  // namespace maxmedian::testing

namespace maxmedian {
// How test names and messages show a CPU level.
inline void PrintTo(CpuLevel level, std::ostream* out) {
  static constexpr const char* kNames[] = {"Portable", "Sse41", "Avx2", "Avx512"};
  *out << kNames[static_cast<int>(level)];
}
}  // namespace maxmedian

#endif  // MAXMEDIAN_TESTS_TEST_UTIL_H_
