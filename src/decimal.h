// Decimal formatting of integers, shared by answer lines and messages.
#ifndef MAXMEDIAN_DECIMAL_H_
#define MAXMEDIAN_DECIMAL_H_

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

}  // namespace maxmedian

#endif  // MAXMEDIAN_DECIMAL_H_
