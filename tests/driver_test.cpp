#include "driver.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace maxmedian {
namespace {

using testing::kMax32;
using testing::kMin32;
using testing::LimitedSink;

RunResult RunOn(std::string_view input, std::string* output, size_t chunk = SIZE_MAX) {
  StringSource source(input, chunk);
  StringSink sink;
  const RunResult result = RunCases(source, sink);
  *output = sink.text;
  return result;
}

// The answer by definition: try every choice of 2h + 1 records, take the middle value of each
// choice that fits the budget, keep the largest, and never go below -1.
int32_t Exhaustive(int32_t N, int64_t F, const std::vector<Record>& records) {
  const int64_t h = N / 2;
  const int C = static_cast<int>(records.size());
  int32_t best = -1;
  if (h < 0 || 2 * h + 1 > C) return best;
  for (uint32_t mask = 0; mask < (1u << C); ++mask) {
    if (std::popcount(mask) != 2 * h + 1) continue;
    std::vector<int32_t> values;
    int64_t cost = 0;
    for (int i = 0; i < C; ++i) {
      if (mask & (1u << i)) {
        values.push_back(records[i].first);
        cost += records[i].second;
      }
    }
    if (cost > F) continue;
    std::nth_element(values.begin(), values.begin() + h, values.end());
    best = std::max(best, values[h]);
  }
  return best;
}

// Random small cases, written as one input with varied spacing, some numbers zero-padded to up
// to 20 bytes, against the exhaustive answer, at every CPU level.
class DriverAtCpuLevel : public testing::AtCpuLevel {};

TEST_P(DriverAtCpuLevel, MatchesExhaustiveSearch) {
  std::mt19937 random(2024);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  for (int batch = 0; batch < 40; ++batch) {
    std::string input, want;
    for (int n = 0; n < 150; ++n) {
      const int C = pick(0, 9);
      const int32_t N = pick(-3, 2 * C + 3);
      std::vector<Record> records(C);
      auto number = [&]() -> int32_t {
        switch (pick(0, 3)) {
          case 0:
            return pick(-2, 2);
          case 1:
            return pick(-50, 50);
          case 2:
            return pick(0, 1) ? kMax32 - pick(0, 1) : kMin32 + pick(0, 1);
          default:
            return static_cast<int32_t>(random());
        }
      };
      int64_t total = 0;
      for (Record& r : records) {
        r = {number(), number()};
        total += r.second;
      }
      // Budgets near the interesting totals, and at the limits.
      const int64_t F64 =
          pick(0, 4) == 0 ? (pick(0, 1) ? kMax32 : kMin32)
                          : std::clamp<int64_t>(total / std::max(C, 1) * pick(0, 3) + pick(-60, 60),
                                                kMin32, kMax32);
      const int32_t F = static_cast<int32_t>(F64);
      const char* gaps[] = {" ", "\n", "\t", "  \r\n", "\v", "\f"};
      auto gap = [&] { return gaps[pick(0, 5)]; };
      auto text = [&](int32_t x) {
        std::string digits = std::to_string(x < 0 ? -int64_t{x} : x);
        if (pick(0, 3) == 0) digits.insert(0, static_cast<size_t>(pick(0, 20)), '0');
        return (x < 0 ? "-" : pick(0, 5) == 0 ? "+" : "") + digits;
      };
      input += text(N) + gap() + text(C) + gap() + text(F) + gap();
      for (const Record& r : records) input += text(r.first) + gap() + text(r.second) + gap();
      want += std::to_string(Exhaustive(N, F, records)) + "\n";
    }
    std::string got;
    const RunResult result = RunOn(input, &got, batch % 2 ? 5 : SIZE_MAX);
    ASSERT_EQ(result.status, kExitOk) << result.message.view();
    ASSERT_EQ(got, want) << input;
  }
}
// The least total cost of h records among the first i of `records`, for every i.
std::vector<int64_t> CheapestSums(const std::vector<Record>& records, int64_t h) {
  std::vector<int32_t> costs(records.size());
  std::transform(records.begin(), records.end(), costs.begin(),
                 [](const Record& r) { return r.second; });
  return testing::CheapestSumsBefore(costs, h);
}

// Larger cases (a hundred to four thousand records, and one in eight of 8,192 or more, which
// are bounded before they are swept; costs narrow or spread, of both signs), against the answer
// computed plainly: the records in order, the h cheapest costs on each side of every position,
// and the largest value whose choice fits, with budgets that some fit.
TEST_P(DriverAtCpuLevel, MatchesAPlainComputationOnLargerCases) {
  std::mt19937 random(77);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  std::string input, want;
  for (int n = 0; n < 40; ++n) {
    const int C = n % 8 == 7 ? pick(8192, 20000) : pick(100, 4000), h = pick(0, (C - 1) / 2);
    const int spread = std::vector<int>{3, 1000, 1000000000}[pick(0, 2)];
    std::vector<Record> records(C);
    for (Record& r : records) r = {pick(-C, C), pick(n % 2 ? 0 : -spread, spread)};
    std::vector<Record> ordered = records;
    std::sort(ordered.begin(), ordered.end());
    const std::vector<int64_t> lower = CheapestSums(ordered, h);
    std::vector<Record> reversed(ordered.rbegin(), ordered.rend());
    std::vector<int64_t> upper = CheapestSums(reversed, h);
    std::reverse(upper.begin(), upper.end());
    // The cost of the cheapest choice around each middle, and a budget near one of them.
    std::vector<int64_t> cost(C, testing::kNoSum);
    for (int k = h; k < C - h; ++k) cost[k] = lower[k] + upper[k] + ordered[k].second;
    const auto F = static_cast<int32_t>(
        std::clamp<int64_t>(cost[pick(h, C - h - 1)] + pick(-5, 5), kMin32, kMax32));
    int32_t best = -1;
    for (int k = h; k < C - h; ++k) {
      if (cost[k] <= F) best = std::max(best, ordered[k].first);
    }
    input += std::to_string(2 * h + pick(0, 1)) + " " + std::to_string(C) + " " +
             std::to_string(F) + "\n";
    for (const Record& r : records) {
      input += std::to_string(r.first) + " " + std::to_string(r.second) + "\n";
    }
    want += std::to_string(best) + "\n";
  }
  std::string got;
  const RunResult result = RunOn(input, &got);
  ASSERT_EQ(result.status, kExitOk) << result.message.view();
  EXPECT_EQ(got, want);
}

INSTANTIATE_TEST_SUITE_P(Levels, DriverAtCpuLevel, testing::kEveryCpuLevel);

TEST(Driver, WellFormedStreams) {
  struct {
    const char* input;
    const char* output;
  } cases[] = {
      {"", ""},
      {" \n\t\r\n", ""},
      {"3 5 70\n30 25\n50 21\n20 20\n5 18\n35 30\n", "35\n"},
      {"3 5 70 30 25 50 21 20 20 5 18 35 30 3 3 100 1 1 2 2 3 3\n\n", "35\n2\n"},
      {"3 5 68 35 30 5 18 50 21 20 20 30 25", "30\n"},  // order of records does not matter
      {"1 0 5\n1 0 -5\n", "-1\n-1\n"},
      {"5 2 100 1 1 2 2\n", "-1\n"},       // h equal to C: 2h + 1 records cannot be had
      {"7 2 100 1 1 2 2\n", "-1\n"},       // h greater than C
      {"-2 3 100 1 1 2 2 3 3\n", "-1\n"},  // negative h: no choice exists
      {"-1 3 100 1 1 9 2 3 3\n", "9\n"},   // -1 / 2 truncates to 0
      {"+3 +0005 0070 30 25 50 21 20 20 5 18 35 -030\n", "35\n"},
  };
  for (const auto& c : cases) {
    std::string got;
    const RunResult result = RunOn(c.input, &got);
    EXPECT_EQ(result.status, kExitOk) << c.input;
    EXPECT_EQ(result.message.view(), "") << c.input;
    EXPECT_EQ(got, c.output) << c.input;
  }
}

// The tables grow mid-run for a case larger than every one before it, past the 200,099 records a
// fixed table would hold, and shrink back for the next.
TEST(Driver, CaseLargerThanEveryEarlierOne) {
  std::string input = "3 3 9 1 1 2 2 3 3\n3 450000 10\n";
  for (int i = 0; i < 450000; ++i) input += std::to_string(i) + " " + std::to_string(i % 7) + "\n";
  std::string got;
  ASSERT_EQ(RunOn(input + "1 2 0 4 0 5 1\n", &got).status, kExitOk);
  // Value i costs i % 7: record 0 is free, so the middle can go as high as 449998 (cost 3), with
  // 449999 (cost 4) above it. The next, shorter case must not see the large one's records.
  EXPECT_EQ(got, "2\n449998\n4\n");
}

TEST(Driver, MalformedInputIsLocated) {
  struct {
    const char* input;
    const char* output;
    const char* message;
  } cases[] = {
      {"1 1 5 7 3\nx", "7\n",
       "<input>:2:1: expected an integer for the choice size N of case 2, found \"x\""},
      {"1 1 5 7 3 1 2 5 7 1.5", "7\n",
       "<input>:1:19: expected an integer for the cost of record 1 of case 2, found \"1.5\""},
      {"1 1 2147483648", "",
       "<input>:1:5: expected an integer from -2147483648 to 2147483647 for the budget F of case "
       "1, found \"2147483648\""},
      {"1 -3 5 1 1", "",
       "<input>:1:3: expected a record count C of 0 or more for case 1, found -3"},
      // The header after a case's last record is read with it: the count is still located.
      {"1 2 5 7 3 8 4\n2  -4 9 1 1                                                            ",
       "8\n", "<input>:2:4: expected a record count C of 0 or more for case 2, found -4"},
      {"1 2 5 7 3 8 4\t2\n\n-4                                                               ",
       "8\n", "<input>:3:1: expected a record count C of 0 or more for case 2, found -4"},
      // ... also when the numbers read with it run on over more lines.
      {"1 2 5 7 3 8 4\n2 -4\n9\n1 1\n1 1\n1 1                                                   ",
       "8\n", "<input>:2:3: expected a record count C of 0 or more for case 2, found -4"},
      {"1 1 5 7 3\n1 1", "7\n",
       "<input>:2:4: input ends inside the header of case 2: found 2 of its 3 numbers (N C F)"},
      {"3 5 70\n1 1\n2 2\n3", "",
       "<input>:4:2: input ends inside case 1: found 2 of its 5 records and the value of the next"},
      {"3 2000000000 5 1 1 2 2 3 3\n", "",
       "<input>:2:1: input ends inside case 1: found 3 of its 2000000000 records"},
      {"1 1 5 \xef\xbb\xbf\x01\"\\", "",
       "<input>:1:7: expected an integer for the value of record 1 of case 1, found "
       "\"\\xef\\xbb\\xbf\\x01\\\"\\\\\""},
      {"12345678901234567890123", "",
       "<input>:1:1: expected an integer from -2147483648 to 2147483647 for the choice size N of "
       "case 1, found \"1234567890123456\"..."},
  };
  for (const auto& c : cases) {
    std::string got;
    const RunResult result = RunOn(c.input, &got);
    EXPECT_EQ(result.status, kExitBadInput) << c.input;
    EXPECT_EQ(result.message.view(), c.message) << c.input;
    EXPECT_EQ(got, c.output) << c.input;
  }
}

// Records read many at a time are counted and located as those read one by one: a bad token, or
// the end of input, anywhere among hundreds of records is reported at its line and column.
TEST(Driver, MalformedRecordAmongManyIsLocated) {
  std::mt19937 random(77);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  for (int round = 0; round < 60; ++round) {
    const int C = pick(1, 400), bad = pick(1, C);
    const bool cost = pick(0, 1) == 1, truncated = round % 4 == 0;
    const std::string token = std::vector<std::string>{"x", "2147483648", "-", "1e5"}[round % 4];
    std::string input = "3 " + std::to_string(C) + " 100\n";
    size_t column = 1;
    for (int i = 1; i <= C; ++i) {
      std::string value = std::to_string(pick(-999999, 999999)),
                  price = std::to_string(pick(0, 99));
      if (i == bad && truncated) break;
      if (i == bad) (cost ? price : value) = token;
      if (i == bad) column = cost ? value.size() + 2 : 1;
      input.append(value).append(" ").append(price).append("\n");
    }
    std::string got,
        want = "<input>:" + std::to_string(bad + 1) + ":" + std::to_string(column) + ": ";
    if (truncated) {
      want += "input ends inside case 1: found " + std::to_string(bad - 1) + " of its " +
              std::to_string(C) + " records";
    } else {
      want += std::string(token == "2147483648" ? "expected an integer from -2147483648 to "
                                                  "2147483647 for "
                                                : "expected an integer for ") +
              (cost ? "the cost" : "the value") + " of record " + std::to_string(bad) +
              " of case 1, found \"" + token + "\"";
    }
    const RunResult result = RunOn(input, &got);
    ASSERT_EQ(result.message.view(), want) << input;
    ASSERT_EQ(result.status, kExitBadInput);
  }
}

TEST(Driver, FailedWritesAreNeverSuccess) {
  StringSource source("1 1 5 7 3\n1 1 5 8 3\n");
  LimitedSink full(0, ENOSPC);
  const RunResult result = RunCases(source, full);
  EXPECT_EQ(result.status, kExitIoError);
  EXPECT_EQ(result.message.view(), "<output>: write error: No space left on device");

  StringSource bad("1 1 5 7 3\nx");
  LimitedSink full_too(0, ENOSPC);
  EXPECT_EQ(RunCases(bad, full_too).status, kExitIoError);  // the lost answers matter more

  StringSource more("1 1 5 7 3\n");
  LimitedSink gone(0, EPIPE);
  const RunResult quiet = RunCases(more, gone);
  EXPECT_EQ(quiet.status, kExitIoError);
  EXPECT_EQ(quiet.message.view(), "");

  // From a file, whose reads never flush the answers first, the run still stops soon after.
  class FileLike final : public ByteSource {
   public:
    explicit FileLike(std::string_view data) : ByteSource("<input>"), inner(data, 4096) {}
    ptrdiff_t Read(char* buffer, size_t size) override {
      const ptrdiff_t n = inner.Read(buffer, size);
      read += static_cast<size_t>(n);
      return n;
    }
    bool MayWait() const override { return false; }
    StringSource inner;
    size_t read = 0;
  };
  std::string cases;
  for (int i = 0; i < 200000; ++i) cases += "1 1 5 7 3\n";
  FileLike file(cases);
  LimitedSink gone_too(0, EPIPE);
  EXPECT_EQ(RunCases(file, gone_too).status, kExitIoError);
  EXPECT_LT(file.read, cases.size() / 2);
}

// Answers leave before a read that may wait: input arrives three bytes a read, and at every read
// the answers of all the cases whose bytes have fully arrived are already in the sink. From a
// source whose reads never wait (a file), they leave together at the end.
class WatchingSource final : public ByteSource {
 public:
  WatchingSource(const std::vector<std::string>& cases, const StringSink& sink, bool may_wait)
      : ByteSource("<input>"), sink_(sink), may_wait_(may_wait) {
    for (const std::string& c : cases) {
      data_ += c;
      case_ends_.push_back(data_.size());
    }
  }
  ptrdiff_t Read(char* buffer, size_t size) override {
    const auto complete =
        std::upper_bound(case_ends_.begin(), case_ends_.end(), consumed_) - case_ends_.begin();
    EXPECT_EQ(std::count(sink_.text.begin(), sink_.text.end(), '\n'), may_wait_ ? complete : 0)
        << consumed_;
    const size_t n = std::min<size_t>({size, 3, data_.size() - consumed_});
    std::copy_n(data_.data() + consumed_, n, buffer);
    consumed_ += n;
    return static_cast<ptrdiff_t>(n);
  }
  bool MayWait() const override { return may_wait_; }

 private:
  std::string data_;
  std::vector<size_t> case_ends_;
  size_t consumed_ = 0;
  const StringSink& sink_;
  bool may_wait_;
};

TEST(Driver, AnswersLeaveBeforeEveryReadThatMayWait) {
  for (const bool may_wait : {true, false}) {
    StringSink sink;
    WatchingSource source({"1 1 5 7 3\n", "3 3 9 1 1 2 2 3 3\n", "1 2 4 6 4 9 5\n"}, sink,
                          may_wait);
    const RunResult result = RunCases(source, sink);
    EXPECT_EQ(result.status, kExitOk);
    EXPECT_EQ(sink.text, "7\n2\n6\n");
  }
}

}  // namespace
}  // namespace maxmedian
