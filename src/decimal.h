// Decimal formatting of integers: plainly for messages, eight digits at a time for answer lines
// and converted cases.
#ifndef MAXMEDIAN_DECIMAL_H_
#define MAXMEDIAN_DECIMAL_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace maxmedian {

// Writes `number` in decimal at `out`, with a '-' before a negative one, and returns one past the
// last byte written: at most 11 bytes for 32-bit numbers, 20 for 64-bit ones. Cannot fail.
template <class Int>
char* FormatDecimal(Int number, char* out) {
  static_assert(std::is_integral_v<Int> && std::is_signed_v<Int>);
  using Unsigned = std::make_unsigned_t<Int>;
  // The magnitude as unsigned, so that the most negative number has one too.
  Unsigned magnitude =
      number < 0 ? Unsigned{0} - static_cast<Unsigned>(number) : static_cast<Unsigned>(number);
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (number < 0) *out++ = '-';
  while (count > 0) *out++ = digits[--count];
  return out;
}

namespace decimal_internal {
// "00", "01", ..., "99": for the one or two digits above the eight.
inline constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The eight decimal digits of `value` (below 10^8) as digit values 0 to 9, one a byte, the first
// digit in the lowest byte. Halves, quarters and eighths are split in all lanes at once by
// multiplying with reciprocals, which are exact for these ranges.
inline uint64_t EightDigits(uint32_t value) {
  uint64_t x = value / 10000 | uint64_t{value % 10000} << 32;  // two lanes below 10,000
  const uint64_t hundreds = (x * 5243 >> 19) & 0x0000007f0000007fu;
  x = hundreds | (x - hundreds * 100) << 16;  // four lanes below 100
  const uint64_t tens = (x * 103 >> 10) & 0x000f000f000f000fu;
  return tens | (x - tens * 10) << 8;
}

// Stores the eight bytes of `word` at `out`, the lowest byte first.
inline void StoreEight(uint64_t word, char* out) {
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  std::memcpy(out, &word, sizeof word);
}
}  // namespace decimal_internal

// FormatDecimal for 32-bit numbers, faster: returns one past the last byte of the number, but
// may write up to 8 bytes beyond that, so the caller must leave room for 19 bytes.
inline char* FormatDecimalWide(int32_t number, char* out) {
  using decimal_internal::EightDigits, decimal_internal::StoreEight;
  uint32_t magnitude = number < 0 ? 0u - static_cast<uint32_t>(number) : number;
  *out = '-';
  out += number < 0;
  constexpr uint64_t kZeros = 0x3030303030303030u;
  if (magnitude < 100000000) {
    const uint64_t digits = EightDigits(magnitude);
    // The leading zero digits are the zero bytes at the bottom; 0 itself keeps one.
    const int leading = digits == 0 ? 7 : std::countr_zero(digits) / 8;
    StoreEight((digits | kZeros) >> (8 * leading), out);
    return out + 8 - leading;
  }
  const uint32_t high = magnitude / 100000000;  // 1 to 21
  std::memcpy(out, decimal_internal::kPairs + size_t{2} * high + (high < 10), 2);
  out += 1 + (high >= 10);
  StoreEight(EightDigits(magnitude % 100000000) | kZeros, out);
  return out + 8;
}

}  // namespace maxmedian

#endif  // MAXMEDIAN_DECIMAL_H_
