#include "block_parser.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace maxmedian {
namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A token of the block as a plain parse sees it.
struct Token {
  size_t start, stop;  // [start, stop) within the block
  bool taken;          // a 32-bit integer that white space follows within the block
  int32_t value;
};

std::vector<Token> PlainParse(const std::string& block) {
  std::vector<Token> tokens;
  for (size_t i = 0; i < block.size();) {
    if (IsSpace(block[i])) {
      ++i;
      continue;
    }
    Token token{i, i, false, 0};
    while (token.stop < block.size() && !IsSpace(block[token.stop])) ++token.stop;
    const std::string text = block.substr(token.start, token.stop - token.start);
    const size_t sign = text[0] == '+' || text[0] == '-';
    bool digits = text.size() > sign;
    for (size_t j = sign; j < text.size(); ++j) digits = digits && text[j] >= '0' && text[j] <= '9';
    if (digits && token.stop < block.size()) {
      long double magnitude = 0;
      for (size_t j = sign; j < text.size(); ++j) magnitude = magnitude * 10 + (text[j] - '0');
      const long double value = text[0] == '-' ? -magnitude : magnitude;
      token.taken = value >= testing::kMin32 && value <= testing::kMax32;
      token.value = token.taken ? static_cast<int32_t>(value) : 0;
    }
    tokens.push_back(token);
    i = token.stop;
  }
  return tokens;
}

// A random token: numbers of every length, signs, leading zeros, values at and past the limits,
// and bytes that make a token no integer.
std::string RandomToken(std::mt19937& random) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  std::string sign = std::vector<std::string>{"", "", "", "-", "+"}[pick(0, 4)];
  switch (pick(0, 9)) {
    case 0:
      return sign;  // a lone sign, or nothing: two white-space runs
    case 1:
      return sign + std::string(pick(1, 70), '0') + std::to_string(pick(0, 99999));
    case 2:
      return sign + std::vector<std::string>{"2147483647", "2147483648", "2147483649", "4294967296",
                                             "99999999999"}[pick(0, 4)];
    case 3: {
      std::string token = sign + std::to_string(pick(0, 1000000));
      token.insert(static_cast<size_t>(pick(0, static_cast<int>(token.size()))),
                   std::string(1, "x.-+\x01\xff\0e"[pick(0, 7)]));
      return token;
    }
    case 4:  // long runs of digits, significant or not far from the end
      return sign + std::to_string(pick(0, 9)) + std::string(pick(8, 40), '0') +
             std::to_string(pick(0, 99));
    default:
      return sign + std::to_string(static_cast<uint32_t>(random()) >> pick(0, 31));
  }
}

// A well-formed token that every parser takes: short, at the limits, or zero-padded to 20 bytes.
std::string TidyToken(std::mt19937& random) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  const int64_t value = pick(0, 4) == 0
                            ? std::vector<int64_t>{testing::kMin32, testing::kMax32, 0}[pick(0, 2)]
                            : pick(-99999, 99999);
  std::string digits = std::to_string(value < 0 ? -value : value);
  const std::string sign = value < 0 ? "-" : std::vector<std::string>{"", "+"}[pick(0, 1)];
  if (pick(0, 2) == 0) digits.insert(0, static_cast<size_t>(pick(0, 20 - 11)), '0');
  return sign + digits;
}

// Random blocks, cut anywhere and surrounded by random bytes, against a plain parse: ParseBlock
// takes a prefix of the tokens that the plain parse takes, with their values, stops where the
// caller can go on, and takes at least every well-formed token that ends a window before the end.
class BlockParser : public testing::AtCpuLevel {};

TEST_P(BlockParser, TakesWhatAPlainParseTakes) {
  std::mt19937 random(99 + static_cast<int>(GetParam()));
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  const char* const spaces = " \t\n\v\f\r";
  for (int round = 0; round < 20000; ++round) {
    std::string block;
    const bool tidy = round % 3 == 0;  // well-formed tokens only: the parser must take them
    // Now and then blocks of a few kilobytes spaced out by runs of up to 300 or 3,000 bytes (a
    // quarter of them short), most tokens unsigned.
    const bool sparse = round % 4 == 2;
    while (block.size() < static_cast<size_t>(pick(0, sparse ? 9000 : 600))) {
      if (sparse && pick(0, 39) > 0) {
        block += std::to_string(static_cast<uint32_t>(random()) >> pick(tidy, 31));
      } else {
        block += tidy ? TidyToken(random) : RandomToken(random);
      }
      const int most = sparse      ? std::vector<int>{3, 300, 300, 3000}[pick(0, 3)]
                       : round % 2 ? 3
                                   : (round % 5 ? 90 : 300);
      for (int n = pick(1, most); n > 0; --n) {
        block += spaces[pick(0, 5)];
      }
    }
    block.resize(static_cast<size_t>(pick(0, static_cast<int>(block.size()))));  // cut anywhere
    std::string memory(kBlockLookBehind + block.size() + kBlockPadding, '\0');
    for (char& c : memory) c = "0123456789 \n-+x"[pick(0, 15)];
    memory.replace(kBlockLookBehind, block.size(), block);
    const char* const begin = memory.data() + kBlockLookBehind;
    const auto max = static_cast<size_t>(pick(0, 3) == 0 ? pick(0, 5) : 1000);
    std::vector<int32_t> values(max);
    const BlockParse got = ParseBlock(begin, begin + block.size(), values.data(), max);

    const std::vector<Token> tokens = PlainParse(block);
    ASSERT_LE(got.count, max);
    ASSERT_LE(got.count, tokens.size()) << block;
    for (size_t i = 0; i < got.count; ++i) {
      ASSERT_TRUE(tokens[i].taken) << block << " token " << i;
      ASSERT_EQ(values[i], tokens[i].value) << block << " token " << i;
    }
    const size_t next = static_cast<size_t>(got.next - begin);
    ASSERT_GE(next, got.count > 0 ? tokens[got.count - 1].stop + 1 : 0) << block;
    ASSERT_LE(next, got.count < tokens.size() ? tokens[got.count].start : block.size()) << block;
    ASSERT_EQ(got.last_token, got.count > 0 ? begin + tokens[got.count - 1].start : nullptr);
    if (tidy) {
      size_t due = 0;  // the tokens that a whole window before the end holds, white space after
      while (due < tokens.size() && due < max && tokens[due].stop + kBlockPadding < block.size()) {
        ++due;
      }
      ASSERT_GE(got.count, due) << block;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AtEveryCpuLevel, BlockParser, testing::kEveryCpuLevel);

}  // namespace
}  // namespace maxmedian
