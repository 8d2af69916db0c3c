// Decimal formatting of integers, shared by answer lines, converted cases and messages.
#ifndef MAXMEDIAN_DECIMAL_H_
#define MAXMEDIAN_DECIMAL_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace maxmedian {

namespace decimal_internal {
// "00", "01", ..., "99": two digits a step halves the divisions.
inline constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";
// 10^0 to 10^19.
inline constexpr uint64_t kPowers[] = {1u,
                                       10u,
                                       100u,
                                       1000u,
                                       10000u,
                                       100000u,
                                       1000000u,
                                       10000000u,
                                       100000000u,
                                       1000000000u,
                                       10000000000u,
                                       100000000000u,
                                       1000000000000u,
                                       10000000000000u,
                                       100000000000000u,
                                       1000000000000000u,
                                       10000000000000000u,
                                       100000000000000000u,
                                       1000000000000000000u,
                                       10000000000000000000u};
}  // namespace decimal_internal

// Writes `number` in decimal at `out`, with a '-' before a negative one, and returns one past the
// last byte written: at most 11 bytes for 32-bit numbers, 20 for 64-bit ones. Cannot fail.
template <class Int>
char* FormatDecimal(Int number, char* out) {
  static_assert(std::is_integral_v<Int> && std::is_signed_v<Int> && sizeof(Int) <= 8);
  using Unsigned = std::make_unsigned_t<Int>;
  // The magnitude as unsigned, so that the most negative number has one too.
  Unsigned magnitude =
      number < 0 ? Unsigned{0} - static_cast<Unsigned>(number) : static_cast<Unsigned>(number);
  if (number < 0) *out++ = '-';
  // The digit count from the magnitude's bit width (1233 / 4096 is just over log10(2)), then
  // the digits from the last, two at a time.
  const uint64_t nonzero = uint64_t{magnitude} | 1;  // 0 has one digit, as 1 does
  const auto estimate = static_cast<unsigned>(std::bit_width(nonzero) * 1233 >> 12);
  char* const end = out + estimate + (nonzero >= decimal_internal::kPowers[estimate]);
  char* p = end;
  while (magnitude >= 100) {
    p -= 2;
    std::memcpy(p, decimal_internal::kPairs + 2 * (magnitude % 100), 2);
    magnitude /= 100;
  }
  if (magnitude >= 10) {
    std::memcpy(p - 2, decimal_internal::kPairs + 2 * magnitude, 2);
  } else {
    p[-1] = static_cast<char>('0' + magnitude);
  }
  return end;
}

}  // namespace maxmedian

#endif  // MAXMEDIAN_DECIMAL_H_
