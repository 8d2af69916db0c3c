#include "convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "decimal.h"
#include "driver.h"
#include "test_util.h"

namespace maxmedian {
namespace {

struct Outcome {
  int status;
  std::string message, output;
};

Outcome RunOn(RunResult (*run)(ByteSource&, ByteSink&), const std::string& input, size_t chunk) {
  StringSource source(input, chunk);
  StringSink sink;
  const RunResult result = run(source, sink);
  return {result.status, std::string(result.message.view()), sink.text};
}

// Random inputs, well formed or with one fault anywhere, read in random pieces: the converter
// fails exactly as maxmedian does on them, writes one line per case before the fault, and
// maxmedian answers its output as it answers the input.
class Convert : public testing::AtCpuLevel {};

TEST_P(Convert, AnswersAndFaultsAsTheInputs) {
  std::mt19937 random(4242);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  const char* const gaps[] = {" ", "\n", "\t", "\r\n", "\v\f", "   \n\n\t "};
  const char* const faults[] = {"x", "2147483648", "-", "1.5", "+-1", "-2147483649", ""};
  for (int round = 0; round < 120; ++round) {
    std::string input;
    auto gap = [&] { return std::string(gaps[pick(0, 5)]).substr(0, pick(1, 6)); };
    auto number = [&](int lo, int hi) {
      const int n = pick(lo, hi);
      const std::string sign = n < 0 ? "-" : pick(0, 5) == 0 ? "+" : "";
      const int zero_count = pick(0, 3) == 0 ? pick(1, 20) : 0;
      const std::string zeros(static_cast<size_t>(zero_count), '0');
      return sign + zeros + std::to_string(n < 0 ? -int64_t{n} : n) + gap();
    };
    const int cases = pick(1, 6);
    const bool faulty = round % 3 != 0;
    int tokens = 0;
    for (int k = 0; k < cases; ++k) {
      const int C = pick(0, 3) == 0 ? pick(0, 3000) : pick(0, 12);
      input += number(-1, 2 * C + 1) + std::to_string(C) + gap() + number(-10, 1000);
      for (int i = 0; i < 2 * C; ++i) input += number(-1000000, 1000000);
      tokens += 3 + 2 * C;
    }
    if (faulty) {  // cut the input at a token, and put a bad one there or end it
      size_t at = input.size();
      for (int skip = pick(0, tokens); skip > 0 && at > 0; --skip) {
        at = input.find_last_not_of(" \n\t\r\v\f", at - 1);
        at = input.find_last_of(" \n\t\r\v\f", at);
        at = at == std::string::npos ? 0 : at + 1;
      }
      input = input.substr(0, at) + faults[pick(0, 6)] + gap();
    }
    const size_t chunk = pick(0, 1) ? SIZE_MAX : static_cast<size_t>(pick(1, 5000));
    const Outcome direct = RunOn(RunCases, input, chunk);
    const Outcome converted = RunOn(ConvertCases, input, chunk);
    ASSERT_EQ(converted.status, direct.status) << input;
    ASSERT_EQ(converted.message, direct.message) << input;
    const Outcome again = RunOn(RunCases, converted.output, SIZE_MAX);
    ASSERT_EQ(again.output, direct.output) << input;
    ASSERT_EQ(again.status, kExitOk) << converted.output;
    const auto lines = std::count(converted.output.begin(), converted.output.end(), '\n');
    ASSERT_EQ(lines, std::count(direct.output.begin(), direct.output.end(), '\n'));
    ASSERT_TRUE(converted.output.empty() || converted.output.back() == '\n');
    ASSERT_EQ(converted.output.find_first_of("+\t\r\v\f"), std::string::npos);
  }
}

// Numbers of every length and sign, the limits among them, in runs of every length: each record
// comes out as FormatDecimal writes its numbers, and nothing is written past the promised slack.
TEST_P(Convert, FormatsRecordsAsSingleNumbers) {
  std::mt19937 random(77);
  auto number = [&]() -> int32_t {
    const int digits = std::uniform_int_distribution<int>(0, 10)(random);
    if (digits == 0) return random() % 2 ? testing::kMin32 : testing::kMax32;
    int64_t n = std::uniform_int_distribution<int64_t>(0, 9999999999)(random);
    for (int i = digits; i < 10; ++i) n /= 10;
    n = std::min<int64_t>(n, testing::kMax32);
    return static_cast<int32_t>(random() % 3 == 0 ? -n : n);
  };
  for (int round = 0; round < 2000; ++round) {
    std::vector<Record> records(std::uniform_int_distribution<size_t>(0, 9)(random));
    std::string expected;
    for (Record& record : records) {
      record = {number(), number()};
      char text[32];
      expected += ' ' + std::string(text, FormatDecimal(record.first, text));
      expected += ' ' + std::string(text, FormatDecimal(record.second, text));
    }
    std::string out(expected.size() + 8, '#');
    char* const end = FormatRecords(GetParam(), records.data(), records.size(), out.data());
    ASSERT_EQ(std::string(out.data(), end), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(AtEveryCpuLevel, Convert, testing::kEveryCpuLevel);

}  // namespace
}  // namespace maxmedian
