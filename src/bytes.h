// Eight input bytes at a time in a 64-bit word: which are white space, digits or NUL, and the
// value of a run of digits, without a branch per byte. The first byte is always the word's
// lowest, whatever the machine's byte order.
#ifndef MAXMEDIAN_BYTES_H_
#define MAXMEDIAN_BYTES_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace maxmedian::bytes {

// The six white-space bytes of the input: space, \t, \n, \v, \f, \r.
inline bool IsSpace(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') < 5; }

inline bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The eight bytes at `p` as one number, the first byte lowest.
inline uint64_t Load8(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The high bit of each byte of `word` that is white space: exact byte by byte.
inline uint64_t SpaceBits8(uint64_t word) {
  constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fu, kHigh = 0x8080808080808080u;
  const uint64_t low = word & kLow7;  // adding to 7 bits never carries into the next byte
  const uint64_t at_least_tab = low + 0x7777777777777777u;  // high bit: low >= 0x09
  const uint64_t past_return = low + 0x7272727272727272u;   // high bit: low >= 0x0e
  const uint64_t not_space = ((word ^ 0x2020202020202020u) & kLow7) + kLow7;
  const uint64_t space = ~(not_space | word) | (at_least_tab & ~past_return & ~word);
  return space & kHigh;
}

// The high bit of each byte of `word` that is NUL.
inline uint64_t NulBits8(uint64_t word) {
  constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fu;
  return ~(((word & kLow7) + kLow7) | word) & 0x8080808080808080u;
}

// How many of the bytes of `word`, from the first, are decimal digits: 0 to 8.
inline size_t DigitCount8(uint64_t word) {
  // Zero in each byte that is a digit: high nibble 3, and low nibble at most 9.
  const uint64_t not_digit =
      ((word & 0xf0f0f0f0f0f0f0f0u) ^ 0x3030303030303030u) |
      (((word & 0x0f0f0f0f0f0f0f0fu) + 0x0606060606060606u) & 0xf0f0f0f0f0f0f0f0u);
  return not_digit == 0 ? 8 : static_cast<size_t>(std::countr_zero(not_digit)) / 8;
}

// The value of the first `count` (1 to 8) bytes of `word`, all decimal digits.
inline uint64_t DigitValue8(uint64_t word, size_t count) {
  word <<= 8 * (8 - count);  // leading zero digits fill the vacated first bytes
  word = (word & 0x0f0f0f0f0f0f0f0fu) * 2561 >> 8;
  word = (word & 0x00ff00ff00ff00ffu) * 6553601 >> 16;
  return (word & 0x0000ffff0000ffffu) * 42949672960001 >> 32;
}

// Whether the `count` bytes at `p` are all '0'; reads up to 7 bytes past them.
inline bool AllZeros(const char* p, size_t count) {
  constexpr uint64_t kZeros = 0x3030303030303030u;
  for (; count >= 8; count -= 8, p += 8) {
    if (Load8(p) != kZeros) return false;
  }
  return count == 0 || ((Load8(p) ^ kZeros) & ((uint64_t{1} << (8 * count)) - 1)) == 0;
}

}  // namespace maxmedian::bytes

#endif  // MAXMEDIAN_BYTES_H_
