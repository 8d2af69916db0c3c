#include "reader.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace maxmedian {
namespace {

// What a reader made of a whole input: the integers, the status that ended it, and where and
// what the last token was.
struct Outcome {
  std::vector<int32_t> values;
  ReadStatus status;
  int64_t line, column;
  std::string prefix;
  bool truncated;
  int error;
};

// Reads `source` with Next alone, or, when `batch` is set, with ReadMany taking up to `batch`
// tokens at a time and Next only what it leaves.
Outcome ReadFrom(ByteSource& source, size_t buffer_size, size_t batch,
                 std::function<bool()> before_read = nullptr) {
  IntReader reader(source, std::move(before_read), buffer_size);
  Outcome out{};
  int32_t values[64];
  for (;;) {
    const size_t got = batch > 0 ? reader.ReadMany(values, batch) : 0;
    out.values.insert(out.values.end(), values, values + got);
    if (got > 0) continue;
    if ((out.status = reader.Next(values)) != ReadStatus::kValue) break;
    out.values.push_back(values[0]);
  }
  const Location at = reader.TokenLocation();
  out.line = at.line;
  out.column = at.column;
  out.prefix = std::string(reader.TokenPrefix());
  out.truncated = reader.TokenTruncated();
  out.error = reader.read_error();
  return out;
}

Outcome ReadAll(std::string_view input, size_t chunk, size_t buffer_size, size_t batch = 0) {
  StringSource source(input, chunk);
  return ReadFrom(source, buffer_size, batch);
}

// Reads `input` cut into reads of every small size and through buffers of every small size, and
// checks that each way gives the same outcome as one read into a large buffer.
Outcome ReadEveryWay(std::string_view input) {
  Outcome whole = ReadAll(input, SIZE_MAX, IntReader::kDefaultBufferSize);
  // Many at a time, after a first line long enough for ReadMany's windows to reach the input.
  const std::string lead = "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25\n";
  for (size_t batch : {1, 2, 3, 64}) {
    Outcome many = ReadAll(lead + std::string(input), SIZE_MAX, 200 + input.size() / 3, batch);
    EXPECT_EQ(many.values.size(), whole.values.size() + 25) << "batch " << batch;
    many.values.erase(many.values.begin(),
                      many.values.begin() + std::min<size_t>(25, many.values.size()));
    EXPECT_EQ(many.values, whole.values) << "batch " << batch;
    EXPECT_EQ(many.status, whole.status) << "batch " << batch;
    EXPECT_EQ(many.line, whole.line + 1) << "batch " << batch;
    EXPECT_EQ(many.column, whole.column) << "batch " << batch;
    if (whole.status == ReadStatus::kNotInteger || whole.status == ReadStatus::kOutOfRange) {
      EXPECT_EQ(many.prefix, whole.prefix) << "batch " << batch;
    }
  }
  for (size_t chunk : {1, 2, 3, 7, 61}) {
    for (size_t buffer : {1, 2, 5, 64, 200}) {
      const Outcome cut = ReadAll(input, chunk, buffer);
      const std::string how =
          "chunk " + std::to_string(chunk) + ", buffer " + std::to_string(buffer);
      EXPECT_EQ(cut.values, whole.values) << how;
      EXPECT_EQ(cut.status, whole.status) << how;
      EXPECT_EQ(cut.line, whole.line) << how;
      EXPECT_EQ(cut.column, whole.column) << how;
      if (whole.status == ReadStatus::kNotInteger || whole.status == ReadStatus::kOutOfRange) {
        EXPECT_EQ(cut.prefix, whole.prefix) << how;
        EXPECT_EQ(cut.truncated, whole.truncated) << how;
      }
    }
  }
  return whole;
}

TEST(Reader, WhiteSpaceSignsAndLeadingZeros) {
  const Outcome out = ReadEveryWay(" 1\t2\n3\r4\v5\f6  \n\n+7 -8 007 -0009 +0 -0 \r\n");
  EXPECT_EQ(out.values, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, -8, 7, -9, 0, 0}));
  EXPECT_EQ(out.status, ReadStatus::kEnd);
  EXPECT_EQ(out.line, 5);
  EXPECT_EQ(out.column, 1);
}

TEST(Reader, EmptyAndBlankInputs) {
  for (std::string_view input : {"", " ", "\n\n\t \r\n"}) {
    const Outcome out = ReadEveryWay(input);
    EXPECT_TRUE(out.values.empty());
    EXPECT_EQ(out.status, ReadStatus::kEnd);
  }
}

TEST(Reader, LastTokenWithoutNewline) {
  const Outcome out = ReadEveryWay("12 345");
  EXPECT_EQ(out.values, (std::vector<int32_t>{12, 345}));
  EXPECT_EQ(out.status, ReadStatus::kEnd);
  EXPECT_EQ(out.column, 7);
}

TEST(Reader, ThirtyTwoBitLimits) {
  const std::string zeros(5000, '0');
  const Outcome out = ReadEveryWay("2147483647 -2147483648 +2147483647 " + zeros + "2147483647 -" +
                                   zeros + "2147483648 " + zeros);
  EXPECT_EQ(out.values, (std::vector<int32_t>{2147483647, -2147483647 - 1, 2147483647, 2147483647,
                                              -2147483647 - 1, 0}));
  EXPECT_EQ(out.status, ReadStatus::kEnd);
}

// Tokens of every length up to 20 digits, with and without sign and leading zeros: each is read
// as its value when in range, and as out of range otherwise.
TEST(Reader, EveryDigitCount) {
  const std::string digits = "98765432109876543210";
  for (size_t length = 1; length <= digits.size(); ++length) {
    for (size_t zeros : {0, 1, 7, 9}) {
      for (const char* sign : {"", "-", "+"}) {
        const std::string token = sign + std::string(zeros, '0') + digits.substr(0, length);
        const long double exact = std::stold(token);
        const Outcome out = ReadAll(token + " ", SIZE_MAX, IntReader::kDefaultBufferSize);
        if (exact >= -2147483648.0L && exact <= 2147483647.0L) {
          ASSERT_EQ(out.status, ReadStatus::kEnd) << token;
          ASSERT_EQ(out.values, std::vector<int32_t>{static_cast<int32_t>(exact)}) << token;
        } else {
          ASSERT_EQ(out.status, ReadStatus::kOutOfRange) << token;
        }
      }
    }
  }
}

// The checks below that read through the block parser, at every CPU level.
class ReaderAtCpuLevel : public testing::AtCpuLevel {};

// Random tokens of 1 to 320 bytes (signs, leading zeros, values near the limits) between runs of
// 1 to 300 bytes of mixed white space, read in one piece and cut every way, against strtoll.
TEST_P(ReaderAtCpuLevel, RandomTokensAndGaps) {
  std::mt19937 random(99);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  for (int round = 0; round < 40; ++round) {
    std::string input;
    std::vector<int32_t> want;
    for (int n = 0; n < 60; ++n) {
      for (int gap = pick(1, n % 3 ? 2 : (n % 7 ? 40 : 300)); gap > 0; --gap)
        input += " \t\n\r\v\f"[pick(0, 5)];
      const int64_t magnitude = pick(0, 2) ? pick(0, 2147483647) : 2147483647 - pick(0, 2);
      const int sign = pick(0, 2);
      const std::string digits = std::to_string(magnitude + (sign == 1 ? pick(0, 1) : 0));
      const std::string token = std::string(sign == 1   ? "-"
                                            : sign == 2 ? "+"
                                                        : "") +
                                std::string(pick(0, 1) ? pick(0, n % 5 ? 20 : 300) : 0, '0') +
                                digits;
      input += token;
      want.push_back(static_cast<int32_t>(std::strtoll(token.c_str(), nullptr, 10)));
    }
    const Outcome out = ReadEveryWay(input + " ");
    ASSERT_EQ(out.status, ReadStatus::kEnd) << input;
    ASSERT_EQ(out.values, want) << input;
  }
}

// `tokens` tokens of every kind, good and bad unless `good_only`, between runs of white space.
std::string RandomInput(std::mt19937& random, int tokens, bool good_only = false) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  const std::vector<std::string> odd = {"x",
                                        "-",
                                        "+",
                                        "2147483648",
                                        "-2147483649",
                                        "1-2",
                                        "--1",
                                        "12345678901234567",
                                        std::string(1, '\0'),
                                        "\xff"};
  std::string input;
  for (int n = tokens; n > 0; --n) {
    const int kind = pick(0, 9);
    std::string token = std::to_string(pick(kind < 3 ? 0 : -2147483647 - 1, 2147483647));
    if (good_only && (kind == 3 || kind == 4) && token[0] == '-') token.erase(0, 1);
    if (kind == 3) token.insert(token.begin(), '+');
    if (kind == 4) token.insert(0, static_cast<size_t>(pick(1, 20)), '0');
    if (kind == 5 && !good_only && pick(0, 9) == 0) {
      token = odd[pick(0, static_cast<int>(odd.size()) - 1)];
    }
    input += token;
    for (int gap = pick(1, kind == 6 ? 70 : 2); gap > 0; --gap) input += " \t\n\r\v\f"[pick(0, 5)];
  }
  return input;
}

// Long inputs of every kind of token, good and bad, read many at a time as one at a time: the
// values, and the status and place of whatever ends the reading, are the same.
TEST_P(ReaderAtCpuLevel, ManyAtATimeAgreesWithOneAtATime) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    const std::string input =
        RandomInput(random, std::uniform_int_distribution<int>(0, 120)(random));
    const size_t buffer = round % 3 == 0 ? 100 : IntReader::kDefaultBufferSize;
    const Outcome one = ReadAll(input, SIZE_MAX, buffer);
    for (size_t batch : {1, 2, 5, 64}) {
      const Outcome many = ReadAll(input, round % 2 ? 7 : SIZE_MAX, buffer, batch);
      ASSERT_EQ(many.values, one.values) << input;
      ASSERT_EQ(many.status, one.status) << input;
      ASSERT_EQ(many.line, one.line) << input;
      ASSERT_EQ(many.column, one.column) << input;
      if (one.status != ReadStatus::kEnd) {
        ASSERT_EQ(many.prefix, one.prefix) << input;
      }
    }
  }
}
INSTANTIATE_TEST_SUITE_P(Levels, ReaderAtCpuLevel, testing::kEveryCpuLevel);

// A file shown through windows of a page, from any offset, reads as its bytes do in pieces;
// bytes taken away while it is read are a read error after the values before them.
TEST(Reader, FileWindowsReadAsReads) {
  std::mt19937 random(11);
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  for (int round = 0; round < 30; ++round) {
    const bool shrinks = round % 3 == 2;  // after two windows
    const std::string input = RandomInput(random, static_cast<int>(page) + round * 200, shrinks);
    const auto offset = std::uniform_int_distribution<size_t>(0, 2 * page)(random);
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const int fd = fileno(file);
    ASSERT_EQ(pwrite(fd, input.data(), input.size(), 0), static_cast<ssize_t>(input.size()));
    ASSERT_EQ(lseek(fd, static_cast<off_t>(offset), SEEK_SET), static_cast<off_t>(offset));
    // Now and then windows stop after the first, and reads take over.
    const bool first_only = round % 6 == 1;
    FdSource source(fd, "<input>", page, 0,
                    first_only ? FileWindows::Mapping::kFirstOnly : FileWindows::Mapping::kAlways);
    int refills = 0;
    const Outcome got = ReadFrom(source, IntReader::kDefaultBufferSize, 64, [&] {
      // Cut within a page, whose end then reads as zeros, or at a page, whose successors fault.
      const size_t cut = round % 2 ? input.size() / 2 : (offset / page + 4) * page;
      return ++refills != 3 || !shrinks || ftruncate(fd, static_cast<off_t>(cut)) == 0;
    });
    std::fclose(file);
    const Outcome want = ReadAll(input.substr(offset), SIZE_MAX, IntReader::kDefaultBufferSize, 64);
    if (shrinks) {
      ASSERT_EQ(got.status, ReadStatus::kReadFailed) << round;
      ASSERT_EQ(got.error, kInputShrank) << round;
      ASSERT_LT(got.values.size(), want.values.size()) << round;
      ASSERT_TRUE(std::equal(got.values.begin(), got.values.end(), want.values.begin())) << round;
      continue;
    }
    if (want.status == ReadStatus::kEnd && !first_only) {
      ASSERT_GT(refills, 3) << round;  // windows, not one read of the whole file
    }
    ASSERT_EQ(got.values, want.values) << round;
    ASSERT_EQ(got.status, want.status) << round;
    ASSERT_EQ(got.line, want.line) << round;
    ASSERT_EQ(got.column, want.column) << round;
    ASSERT_EQ(got.prefix, want.prefix) << round;
  }
}

TEST(Reader, OutOfRange) {
  for (std::string_view token : {"2147483648", "-2147483649", "+2147483648", "4294967296",
                                 "99999999999999999999999999999999", "18446744073709551616",
                                 "-00000000000000009223372036854775808", "10000000000"}) {
    const Outcome out = ReadEveryWay("1\n  22 " + std::string(token) + " 3");
    EXPECT_EQ(out.values, (std::vector<int32_t>{1, 22})) << token;
    EXPECT_EQ(out.status, ReadStatus::kOutOfRange) << token;
    EXPECT_EQ(out.line, 2) << token;
    EXPECT_EQ(out.column, 6) << token;
    EXPECT_EQ(out.prefix, token.substr(0, IntReader::kPrefixBytes)) << token;
    EXPECT_EQ(out.truncated, token.size() > IntReader::kPrefixBytes) << token;
  }
}

TEST(Reader, NotIntegers) {
  using namespace std::string_literals;
  for (const std::string& token :
       {"x"s, "1.5"s, "12abc"s, "--3"s, "+-3"s, "-"s, "+"s, "3-"s, "0x10"s,
        "\xef\xbb\xbf"
        "5"s,
        "\x01"s, "7\x00"s, "\x7f"s, "1e5"s, "\xff\xfe"s}) {
    const Outcome out = ReadEveryWay("5 6\n" + token + "\n7");
    EXPECT_EQ(out.values, (std::vector<int32_t>{5, 6})) << token;
    EXPECT_EQ(out.status, ReadStatus::kNotInteger) << token;
    EXPECT_EQ(out.line, 2) << token;
    EXPECT_EQ(out.column, 1) << token;
    EXPECT_EQ(out.prefix, token) << token;
    EXPECT_FALSE(out.truncated) << token;
  }
}

TEST(Reader, LongBadTokenIsQuotedByItsPrefix) {
  const std::string token = "12345678901234567890abc" + std::string(100000, 'z');
  const Outcome out = ReadEveryWay("\t\t" + token);
  EXPECT_EQ(out.status, ReadStatus::kNotInteger);
  EXPECT_EQ(out.column, 3);
  EXPECT_EQ(out.prefix, token.substr(0, IntReader::kPrefixBytes));
  EXPECT_TRUE(out.truncated);
}

TEST(Reader, LocationsCountLinesAndBytes) {
  std::string input;
  for (int line = 0; line < 3000; ++line) input += std::to_string(line) + " \t" + "\r\n";
  input += "   \xc3\xa9";  // a two-byte character: columns count bytes
  const Outcome out = ReadEveryWay(input);
  EXPECT_EQ(out.values.size(), 3000u);
  EXPECT_EQ(out.status, ReadStatus::kNotInteger);
  EXPECT_EQ(out.line, 3001);
  EXPECT_EQ(out.column, 4);
  // Blank lines by the hundred thousand, more than a byte-wide count holds.
  const Outcome far = ReadEveryWay("1" + std::string(100000, '\n') + "x");
  EXPECT_EQ(far.line, 100001);
}

// A source that returns its bytes, then fails.
class FailingSource final : public ByteSource {
 public:
  FailingSource() : ByteSource("<input>") {}
  ptrdiff_t Read(char* buffer, size_t size) override {
    if (sent_) {
      errno = EISDIR;
      return -1;
    }
    sent_ = true;
    return source_.Read(buffer, size);
  }

 private:
  StringSource source_{"4 5 6"};
  bool sent_ = false;
};

TEST(Reader, AFailedReadIsReported) {
  FailingSource source;
  IntReader reader(source, nullptr);
  int32_t value;
  EXPECT_EQ(reader.Next(&value), ReadStatus::kValue);
  EXPECT_EQ(reader.Next(&value), ReadStatus::kValue);
  EXPECT_EQ(reader.Next(&value), ReadStatus::kReadFailed);
  EXPECT_EQ(reader.read_error(), EISDIR);
}

TEST(Reader, OnlyAFileNeverWaits) {
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(FdSource(fileno(file), "<input>").MayWait());
  std::fclose(file);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  EXPECT_TRUE(FdSource(ends[0], "<input>").MayWait());
  close(ends[0]);
  close(ends[1]);
}

TEST(Reader, HookRunsBeforeEveryReadAndCanStop) {
  StringSource source("1 2 3 4", 2);
  int reads = 0;
  IntReader reader(source, [&reads] { return ++reads < 3; });
  int32_t value;
  EXPECT_EQ(reader.Next(&value), ReadStatus::kValue);  // "1 " needed one read
  EXPECT_EQ(value, 1);
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(reader.Next(&value), ReadStatus::kValue);  // "2 " one more
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(reader.Next(&value), ReadStatus::kStopped);
  EXPECT_EQ(reads, 3);
}

}  // namespace
}  // namespace maxmedian
