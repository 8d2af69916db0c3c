// The block parser at each vector level. The portable one goes token by token, eight bytes a
// load. The AVX2 one classifies 64 bytes at a time (white space, digits, signs) into bit
// masks, which give where every token in them starts and ends without looking at one to find the
// next, and converts the tokens two at a time, one in each half of a vector.
#include "block_parser.h"

#include <algorithm>
#include <bit>

#include "bytes.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace maxmedian {
namespace {

using bytes::AllZeros;
using bytes::DigitCount8;
using bytes::DigitValue8;
using bytes::IsDigit;
using bytes::IsSpace;
using bytes::Load8;

// The value of [token, end): digits, after a sign or not, as the caller has checked, with at
// least 8 readable bytes before `end`. False when the token is a lone sign or out of range.
bool ReadDigits(const char* token, const char* end, int32_t* value) {
  const bool negative = *token == '-';
  token += !IsDigit(*token);
  auto length = static_cast<size_t>(end - token);
  if (length - 1 >= 10) {  // no digits, or more than ten
    if (length == 0 || !AllZeros(token, length - 10)) return false;
    length = 10;
  }
  // The last eight digits from one load that ends with the token, the bytes before them masked
  // to zero; the ninth and tenth from the end count only where the token has them.
  const uint64_t last_eight =
      Load8(end - 8) & (~uint64_t{0} << (8 * (8 - std::min<size_t>(length, 8))));
  const auto digit = [end](ptrdiff_t from_end, bool present) {
    return uint64_t{static_cast<unsigned char>(end[-from_end]) - 0x30u} & (0 - uint64_t{present});
  };
  const uint64_t magnitude = DigitValue8(last_eight, 8) + digit(9, length >= 9) * 100000000 +
                             digit(10, length >= 10) * 1000000000;
  if (magnitude > 0x7fffffffu + negative) return false;
  *value = static_cast<int32_t>(negative ? 0 - magnitude : magnitude);
  return true;
}

BlockParse ParsePortable(const char* p, const char* end, int32_t* values, size_t max) {
  size_t count = 0;
  const char* last_token = nullptr;
  while (count < max) {
    for (; p < end; p += 8) {  // white space, eight bytes a step
      if (const uint64_t space = bytes::SpaceBits8(Load8(p)); space != 0x8080808080808080u) {
        p += std::countr_one(space | 0x7f7f7f7f7f7f7f7fu) / 8;
        break;
      }
    }
    if (p >= end) return {count, end, last_token};
    const char* const token = p;
    p += *p == '-' || *p == '+';
    const char* const digits = p;
    for (size_t more = 8; more == 8 && p < end; p += more) more = DigitCount8(Load8(p));
    // Cut by the block's end, not followed by white space, or a lone sign: not for this parser.
    if (p >= end || !IsSpace(*p) || p == digits) return {count, token, last_token};
    if (!ReadDigits(token, p, values + count)) return {count, token, last_token};
    ++count;
    last_token = token;
    ++p;  // past the white space that ends the token
  }
  return {count, p, last_token};
}

#if defined(__x86_64__)

__attribute__((target("avx2"))) inline __m256i Load32(const char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// 0xff in each of the 32 bytes of `bytes` that is white space, 0 in the others. A table indexed
// by a byte's low four bits holds the one white-space byte with those bits (or 0xff, which no
// byte below 0x80 equals; bytes from 0x80 on look up 0): a byte is white space when it equals
// its entry.
alignas(16) constexpr int8_t kSpaceTable[16] = {' ', -1,   -1,   -1,   -1,   -1,   -1, -1,
                                                -1,  '\t', '\n', '\v', '\f', '\r', -1, -1};
__attribute__((target("avx2"))) inline __m256i IsSpace32(__m256i bytes) {
  const __m256i table =
      _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kSpaceTable)));
  return _mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, bytes), bytes);
}

// One bit for each of the 32 bytes of `bytes` that is white space, the first byte lowest.
__attribute__((target("avx2"))) inline uint64_t SpaceMask32(__m256i bytes) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(IsSpace32(bytes)));
}

// Whether the 64 bytes at `p` are all white space.
__attribute__((target("avx2"))) inline bool AllSpace64(const char* p) {
  const __m256i both = _mm256_and_si256(IsSpace32(Load32(p)), IsSpace32(Load32(p + 32)));
  return _mm256_testc_si256(both, _mm256_set1_epi8(-1)) != 0;
}

// Which of 64 bytes are white space, decimal digits, signs and minus signs: bit i for byte i.
struct ByteClasses {
  uint64_t space, digit, sign, minus;
};

// One bit for each of the 64 bytes at `p` that is white space.
__attribute__((target("avx2"))) inline uint64_t SpaceMask64(const char* p) {
  return SpaceMask32(Load32(p)) | SpaceMask32(Load32(p + 32)) << 32;
}

// The classes of the 64 bytes at `p`, whose white space `space` already shows.
__attribute__((target("avx2"))) inline ByteClasses Classify64(const char* p, uint64_t space) {
  ByteClasses classes{space, 0, 0, 0};
  for (ptrdiff_t half = 0; half < 2; ++half) {
    const __m256i bytes = Load32(p + 32 * half);
    const __m256i from_zero = _mm256_sub_epi8(bytes, _mm256_set1_epi8('0'));
    const __m256i digit =
        _mm256_cmpeq_epi8(_mm256_min_epu8(from_zero, _mm256_set1_epi8(9)), from_zero);
    const __m256i minus = _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('-'));
    const __m256i sign = _mm256_or_si256(minus, _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('+')));
    // Lambdas do not take on the function's target, so the masks are gathered here.
    const auto shift = 32 * half;
    classes.digit |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(digit))} << shift;
    classes.sign |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(sign))} << shift;
    classes.minus |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(minus))} << shift;
  }
  return classes;
}

// Which of the 64 bytes at `p` are '0': bit i for byte i. Only windows with long tokens need it.
__attribute__((target("avx2"))) inline uint64_t ZeroMask64(const char* p) {
  const __m256i zero = _mm256_set1_epi8('0');
  const auto low = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(Load32(p), zero)));
  const auto high =
      static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(Load32(p + 32), zero)));
  return low | uint64_t{high} << 32;
}

// The 16 bytes at kKeepLast + n (n from 0 to 16) keep the last n bytes of 16 and clear the rest.
alignas(32) constexpr int8_t kKeepLast[32] = {0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
                                              0,  0,  0,  0,  0,  -1, -1, -1, -1, -1, -1,
                                              -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

// The values of two runs of 1 to 16 digits, one ending at `end_a` and one at `end_b`, each with
// 16 readable bytes before its end: both at once, one in each half of a vector. Pairs of digits
// are weighed 10 and 1, pairs of pairs 100 and 1, then 10,000 and 1, which leaves each half with
// its first eight digits and its last eight as two numbers.
__attribute__((target("avx2"))) inline void TwoMagnitudes(const char* end_a, size_t length_a,
                                                          const char* end_b, size_t length_b,
                                                          uint64_t* a, uint64_t* b) {
  const __m256i bytes = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end_a - 16))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(end_b - 16)), 1);
  const __m256i keep = _mm256_inserti128_si256(
      _mm256_castsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(kKeepLast + length_a))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kKeepLast + length_b)), 1);
  const __m256i digits = _mm256_and_si256(_mm256_sub_epi8(bytes, _mm256_set1_epi8('0')), keep);
  const __m256i pairs = _mm256_maddubs_epi16(digits, _mm256_set1_epi16(0x010a));
  const __m256i fours = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00010064));
  const __m256i packed = _mm256_packus_epi32(fours, fours);
  const __m256i eights = _mm256_madd_epi16(packed, _mm256_set1_epi32(0x00012710));
  const __m256i sums = _mm256_add_epi64(_mm256_mul_epu32(eights, _mm256_set1_epi64x(100000000)),
                                        _mm256_srli_epi64(eights, 32));
  *a = static_cast<uint64_t>(_mm256_extract_epi64(sums, 0));
  *b = static_cast<uint64_t>(_mm256_extract_epi64(sums, 2));
}

// How many of a token's last digits the vector conversion takes: all of them up to 16, and the
// last 16 of a longer run whose other digits are zeros (bits [first, end) of the window, with
// `zero` marking the window's '0' bytes). 0 when the token is for ReadDigits: a lone sign, or
// significant digits beyond the last 16.
inline size_t VectorDigits(int first, int end, uint64_t zero) {
  // Without a branch on the length: where lengths vary, as with padded numbers, one would fail
  // half the time.
  const int cut = std::max(end - 16, first);  // the digits before the last 16
  const uint64_t leading = ((uint64_t{1} << cut) - 1) & ~((uint64_t{1} << first) - 1);
  const bool vector = end != first && (leading & ~zero) == 0;
  return vector ? static_cast<size_t>(std::min(end - first, 16)) : 0;
}

// The tokens of one window that white space follows in it, for TakeTokens.
struct WindowTokens {
  const char* p;                // the window
  uint64_t starts, ends;        // first and last bytes of tokens, taken from the lowest on
  uint64_t signs, minus, zero;  // first bytes that are signs and minus signs; '0' bytes
};

// How TakeTokens reads a window's tokens, from the cheapest to the most general.
enum class WindowKind {
  kPlain,  // no sign and no token over 9 bytes: every token is digits whose value fits
  kShort,  // no token over 16 bytes
  kLong,   // some token over 16 bytes, so lengths are checked against the window's zeros
};

// Takes the tokens that end in `window` into values[count..], two a step, and advances count,
// last_token and after (just past the last token taken). Returns where the parse must stop, a
// token it cannot take, or null when it took them all. A separate copy of the loop for each
// kind of window, so that windows of short plain tokens, by far the most, pay nothing for the
// checks the others need.
template <WindowKind kKind>
[[gnu::always_inline]] __attribute__((target("avx2,bmi,popcnt"))) inline const char* TakeTokens(
    WindowTokens& window, int32_t* values, size_t& count, const char*& last_token,
    const char*& after) {
  const char* const p = window.p;
  uint64_t starts = window.starts, ends = window.ends;
  const char* stop = nullptr;
  int last_start = -1, last_end = 0;  // of the last token taken
  while (ends != 0) {
    // Two tokens a step, a and b; when only a is left, b is a stand-in past the window whose
    // value is stored where a's then overwrites it.
    const int start_a = std::countr_zero(starts), end_a = std::countr_zero(ends) + 1;
    starts &= starts - 1;
    ends &= ends - 1;
    const bool two = ends != 0;
    const int start_b = std::countr_zero(starts) & 63, end_b = std::countr_zero(ends) + 1;
    starts &= starts - uint64_t{two};  // a start left alone is a token the window cuts
    ends &= ends - 1;
    int32_t* const out = values + count;
    if constexpr (kKind == WindowKind::kPlain) {
      uint64_t magnitude_a, magnitude_b;
      TwoMagnitudes(p + end_a, static_cast<size_t>(end_a - start_a), p + end_b,
                    two ? static_cast<size_t>(end_b - start_b) : 1, &magnitude_a, &magnitude_b);
      out[two] = static_cast<int32_t>(magnitude_b);
      out[0] = static_cast<int32_t>(magnitude_a);
      count += 1 + two;
      last_start = two ? start_b : start_a;
      last_end = two ? end_b : end_a;
      continue;
    }
    const auto sign_a = static_cast<int>((window.signs >> start_a) & 1);
    const auto sign_b = static_cast<int>((window.signs >> start_b) & 1);
    size_t length_a, length_b;
    if constexpr (kKind == WindowKind::kLong) {
      length_a = VectorDigits(start_a + sign_a, end_a, window.zero);
      length_b = two ? VectorDigits(start_b + sign_b, end_b, window.zero) : 1;
    } else {
      length_a = static_cast<size_t>(end_a - start_a - sign_a);
      length_b = two ? static_cast<size_t>(end_b - start_b - sign_b) : 1;
    }
    if (length_a != 0 && length_b != 0) {
      uint64_t magnitude_a, magnitude_b;
      TwoMagnitudes(p + end_a, length_a, p + end_b, length_b, &magnitude_a, &magnitude_b);
      const bool negative_a = (window.minus >> start_a) & 1;
      const bool negative_b = (window.minus >> start_b) & 1;
      if (magnitude_a > 0x7fffffffu + negative_a) {
        stop = p + start_a;
        break;
      }
      if (two && magnitude_b > 0x7fffffffu + negative_b) {
        *out = static_cast<int32_t>(negative_a ? 0 - magnitude_a : magnitude_a);
        ++count;
        last_start = start_a;
        last_end = end_a;
        stop = p + start_b;
        break;
      }
      out[two] = static_cast<int32_t>(negative_b ? 0 - magnitude_b : magnitude_b);
      out[0] = static_cast<int32_t>(negative_a ? 0 - magnitude_a : magnitude_a);
    } else {  // a lone sign or significant digits beyond 16: rare, so one token at a time
      if (!ReadDigits(p + start_a, p + end_a, out)) {
        stop = p + start_a;
        break;
      }
      if (two && !ReadDigits(p + start_b, p + end_b, out + 1)) {
        ++count;
        last_start = start_a;
        last_end = end_a;
        stop = p + start_b;
        break;
      }
    }
    count += 1 + two;
    last_start = two ? start_b : start_a;
    last_end = two ? end_b : end_a;
  }
  if (last_start >= 0) {
    last_token = p + last_start;
    after = p + last_end;
  }
  window.starts = starts;
  return stop;
}

// The first byte at or after `q` that is not white space, looking 128 bytes a step; or, where
// fewer than 128 bytes are left before `end`, the first such place, for the caller to go on from.
// Runs of white space between tokens are mostly shorter than a step: a branch on whether the run
// ends within one is taken the same way time after time, where a branch on each 64 bytes would
// follow the lengths of the runs.
__attribute__((target("avx2,bmi"))) inline const char* SkipSpaceRun(const char* q,
                                                                    const char* end) {
  for (; end - q >= 128; q += 128) {
    _mm_prefetch(q + kBlockPrefetch, _MM_HINT_T0);
    _mm_prefetch(q + kBlockPrefetch + 64, _MM_HINT_T0);
    const uint64_t first = ~(SpaceMask32(Load32(q)) | SpaceMask32(Load32(q + 32)) << 32);
    const uint64_t second = ~(SpaceMask32(Load32(q + 64)) | SpaceMask32(Load32(q + 96)) << 32);
    if ((first | second) != 0) {
      // countr_zero(0) is 64: past the first half when the token is in the second.
      const int offset =
          std::countr_zero(first) + (std::countr_zero(second) & (0 - static_cast<int>(first == 0)));
      return q + offset;
    }
  }
  return q;
}

// Input spaced out by runs of white space has a token every few windows, and a parse window by
// window pays for that in branches that follow the lengths of the runs. Where tokens are few,
// the parser takes kSparseBlock bytes at a time instead: their white-space masks first, then
// every token, one after another across the block, with one loop whose only unpredictable
// branch is its end.
constexpr ptrdiff_t kSparseBlock = 512;
// The bytes the parser classifies at once outside sparse blocks.
constexpr ptrdiff_t kWindow = 64;
// The most tokens a sparse block holds; a block with more is left to the windows.
constexpr int kSparseTokens = 32;

// The value of the token of `length` bytes (1 to 16) that ends at `end`, with 16 readable bytes
// before `end`; or, in *odd, a nonzero value when a byte of it is not a digit.
__attribute__((target("avx2"))) inline uint64_t OneMagnitude(const char* end, size_t length,
                                                             uint32_t* odd) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
  const __m128i keep = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kKeepLast + length));
  const __m128i digits = _mm_and_si128(_mm_sub_epi8(bytes, _mm_set1_epi8('0')), keep);
  *odd = static_cast<uint32_t>(
             _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(digits, _mm_set1_epi8(9)), digits))) ^
         0xffffu;
  const __m128i pairs = _mm_maddubs_epi16(digits, _mm_set1_epi16(0x010a));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));
  const __m128i eights = _mm_madd_epi16(_mm_packus_epi32(fours, fours), _mm_set1_epi32(0x00012710));
  return uint64_t{static_cast<uint32_t>(_mm_cvtsi128_si32(eights))} * 100000000 +
         static_cast<uint32_t>(_mm_extract_epi32(eights, 1));
}

// Takes the tokens of the kSparseBlock bytes at `p` (which start the input or follow white space)
// into values[count..], and advances count and last_token, when they are at most `room` and
// kSparseTokens, and plain: digits only, nine at most, followed by white space. Returns where the
// parse goes on (past the block and the white space after its last token, or at a token its end
// cuts), or null, taking nothing, when the block is not for this path.
[[gnu::always_inline]] __attribute__((target("avx2,bmi,popcnt"))) inline const char*
TakeSparseBlock(const char* p, int32_t* values, size_t room, size_t& count,
                const char*& last_token) {
  constexpr int kWords = kSparseBlock / 64;
  // Token bytes, bit i of word w for byte 64 * w + i; the last word holds the byte after.
  uint64_t in_token[kWords + 1];
  uint64_t any = 0;
  for (int w = 0; w < kWords; ++w) {
    const char* const word = p + ptrdiff_t{64} * w;
    _mm_prefetch(word + kBlockPrefetch, _MM_HINT_T0);
    in_token[w] = ~SpaceMask64(word);
    any |= in_token[w];
    // Dense input is told from its first 128 bytes, before it costs more.
    if (w == 1 && std::popcount(in_token[0] & ~(in_token[0] << 1)) +
                          std::popcount(in_token[1] & ~(in_token[1] << 1)) >
                      kSparseTokens / 4) {
      return nullptr;
    }
  }
  if (any == 0) return p + kSparseBlock;
  in_token[kWords] = IsSpace(p[kSparseBlock]) ? 0 : 1;
  uint64_t starts[kWords];
  unsigned words_left = 0;  // bit w: starts[w] has tokens left
  int tokens = 0;
  for (int w = 0; w < kWords; ++w) {
    const uint64_t before = w == 0 ? 0 : in_token[w - 1] >> 63;
    starts[w] = in_token[w] & ~(in_token[w] << 1 | before);
    words_left |= unsigned{starts[w] != 0} << w;
    tokens += std::popcount(starts[w]);
  }
  if (tokens > kSparseTokens || static_cast<size_t>(tokens) > room) return nullptr;
  const char* next = p + kSparseBlock + (in_token[kWords - 1] >> 63);
  uint32_t odd = 0;  // a byte that is not a digit
  int taken = 0, last = 0;
  while (words_left != 0) {
    const int w = std::countr_zero(words_left);
    const int bit = std::countr_zero(starts[w]);
    starts[w] &= starts[w] - 1;
    words_left &= ~(unsigned{starts[w] == 0} << w);
    const int start = 64 * w + bit;
    // The run of token bytes from the start, into the next word; two shifts, as 64 is too many.
    const int length = std::countr_one(in_token[w] >> bit | (in_token[w + 1] << 1) << (63 - bit));
    if (start + length > kSparseBlock) {  // cut by the block's end: the next parse starts there
      if (start == 0) return nullptr;     // a token longer than the block
      next = p + start;
      break;
    }
    if (length > 9) return nullptr;  // a value that may not fit: for the windows
    uint32_t odd_bytes;
    const uint64_t magnitude =
        OneMagnitude(p + start + length, static_cast<size_t>(length), &odd_bytes);
    odd |= odd_bytes;
    values[count + static_cast<size_t>(taken++)] = static_cast<int32_t>(magnitude);
    last = start;
  }
  if (odd != 0) return nullptr;  // not plain: for the windows
  if (taken > 0) last_token = p + last;
  count += static_cast<size_t>(taken);
  return next;
}

// Where the token that ends before bit `end` (at most 63) of a window's `starts` starts.
inline int StartBefore(uint64_t starts, int end) {
  return 63 - std::countl_zero(starts & ((uint64_t{1} << end) - 1));
}

// The usual window of input spaced out by long runs: one token of up to eight digits, white
// space after it. It is read from one load, without classifying the window's bytes. Takes it
// and moves p on as ParseWindow does, or returns false, doing nothing, for another window.
[[gnu::always_inline]] __attribute__((target("avx2,bmi,popcnt"))) inline bool TakeLoneToken(
    const char*& p, const char* end, uint64_t in_token, uint64_t starts, uint64_t ends,
    int32_t* values, size_t max, size_t& count, const char*& last_token) {
  if ((starts & (starts - 1)) != 0 || ends == 0) return false;
  const int start = std::countr_zero(starts), stop = std::countr_zero(ends) + 1;
  const uint64_t word = Load8(p + start);
  const auto length = static_cast<size_t>(stop - start);
  if (length > 8 || DigitCount8(word) < length) return false;
  values[count++] = static_cast<int32_t>(DigitValue8(word, length));
  last_token = p + start;
  if (count == max) {
    p += stop + 1;  // past the white space that follows the token
  } else {
    p = std::countl_zero(in_token) >= 16 ? SkipSpaceRun(p + kWindow, end) : p + kWindow;
  }
  return true;
}

// Takes the tokens of the window of 64 bytes at `p` for ParseAvx2, and moves p to where the next
// window starts. False when the parse must stop at p: `max` values taken, or a token that only the
// caller may judge.
[[gnu::always_inline]] __attribute__((target("avx2,bmi,popcnt"))) inline bool ParseWindow(
    const char*& p, const char* end, int32_t* values, size_t max, size_t& count,
    const char*& last_token) {
  _mm_prefetch(p + kBlockPrefetch, _MM_HINT_T0);
  const uint64_t space = SpaceMask64(p);
  const uint64_t in_token = ~space;
  if (in_token == 0) {  // a run of white space, which may be long: skipped on white space alone
    p = SkipSpaceRun(p + kWindow, end);
    return true;
  }
  uint64_t starts = in_token & ~(in_token << 1);
  // Last bytes of tokens that white space within the window follows.
  uint64_t ends = in_token & ~(in_token >> 1) & ~(uint64_t{1} << 63);
  if (TakeLoneToken(p, end, in_token, starts, ends, values, max, count, last_token)) {
    return count < max;
  }
  const ByteClasses classes = Classify64(p, space);
  // Bytes that make a token something only the caller may judge: a sign is fine only first.
  const uint64_t signs = classes.sign & starts;
  const uint64_t odd = in_token & ~classes.digit & ~signs;
  if (odd != 0) ends &= (uint64_t{1} << std::countr_zero(odd)) - 1;
  if (const size_t room = max - count; static_cast<size_t>(std::popcount(ends)) > room) {
    uint64_t kept = 0;  // the first `room` ends
    for (size_t i = 0; i < room; ++i, ends &= ends - 1) kept |= ends & (0 - ends);
    ends = kept;
  }
  // Runs of token bytes: bit i of runs8 is set when bytes i..i + 7 are all in tokens.
  uint64_t runs8 = in_token & in_token >> 1;
  runs8 &= runs8 >> 2;
  runs8 &= runs8 >> 4;
  WindowTokens window{p, starts, ends, signs, classes.minus, 0};
  const char* after = p;  // just past the last token taken
  const char* stopped;
  if ((runs8 & runs8 >> 2) == 0 && classes.sign == 0) {  // no token over 9 bytes, no sign
    stopped = TakeTokens<WindowKind::kPlain>(window, values, count, last_token, after);
  } else if (const uint64_t runs16 = runs8 & runs8 >> 8; (runs16 & runs16 >> 1) == 0) {
    stopped = TakeTokens<WindowKind::kShort>(window, values, count, last_token, after);
  } else {
    window.zero = ZeroMask64(p);
    stopped = TakeTokens<WindowKind::kLong>(window, values, count, last_token, after);
  }
  if (stopped != nullptr) {
    p = stopped;
    return false;
  }
  starts = window.starts;
  if (count == max) {
    p = after + 1;  // past the white space that follows the last token
    return false;
  }
  if (starts == 0) {  // the rest of the window is white space
    // A long run at its end is likely to go on, and is skipped as one; after a short one, the
    // next token is likely to start at once.
    p = std::countl_zero(in_token) >= 16 ? SkipSpaceRun(p + kWindow, end) : p + kWindow;
    return true;
  }
  // A token the window cuts, or one with an odd byte: the next window starts with it, unless it
  // already started this one (too long for a window) or is odd.
  const char* next = p + std::countr_zero(starts);
  const bool stuck = next == p || odd != 0;
  p = next;
  return !stuck;
}

// Takes sparse blocks from p on while they hold few plain tokens, and returns where the windows
// that follow stop for sparse blocks to be tried again: a stretch after p that doubles with every
// refusal in a row, from 2 KiB up to 16 KiB, or the last whole window of the block.
[[gnu::always_inline]] __attribute__((target("avx2,bmi,popcnt"))) inline const char*
TakeSparseBlocks(const char*& p, const char* end, int32_t* values, size_t max, size_t& count,
                 const char*& last_token, ptrdiff_t& stretch) {
  while (count < max && end - p >= kSparseBlock) {
    const char* const next = TakeSparseBlock(p, values, max - count, count, last_token);
    if (next == nullptr) break;
    p = next;
    stretch = 2048;
  }
  const char* const stretch_end =
      end - p >= stretch + kSparseBlock ? p + stretch : end - kWindow + 1;
  stretch = std::min<ptrdiff_t>(2 * stretch, 16384);
  return stretch_end;
}

__attribute__((target("avx2,bmi,popcnt"))) BlockParse ParseAvx2(const char* p, const char* end,
                                                                int32_t* values, size_t max) {
  size_t count = 0;
  const char* last_token = nullptr;
  for (ptrdiff_t stretch = 2048; count < max && end - p >= kWindow;) {
    const char* const windows_end =
        TakeSparseBlocks(p, end, values, max, count, last_token, stretch);
    while (count < max && p < windows_end) {
      if (!ParseWindow(p, end, values, max, count, last_token)) return {count, p, last_token};
    }
  }
  return {count, p, last_token};
}

// The AVX-512 parser goes window by window like the AVX2 one, but takes a window's tokens four
// at a time, one in each 16-byte lane of a vector: the places of their ends and first
// significant bytes are packed into one vector each (byte k for the window's token k), and each
// lane fetches its token's last 16 bytes from the window with one byte permute.
#define MAXMEDIAN_AVX512 "avx2,bmi,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2"
// GCC 12's AVX-512 intrinsics start from a deliberately undefined vector, which it then warns of.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The place of token k's last byte, given the last bytes of a window's tokens.
__attribute__((target("bmi2"))) inline int LastByte(uint64_t ends, int k) {
  return std::countr_zero(_pdep_u64(uint64_t{1} << k, ends));
}

// Takes the tokens of the window of 64 bytes at `p`, as ParseWindow does.
[[gnu::always_inline]] __attribute__((target(MAXMEDIAN_AVX512))) inline bool ParseWindowAvx512(
    const char*& p, const char* end, int32_t* values, size_t max, size_t& count,
    const char*& last_token) {
  _mm_prefetch(p + kBlockPrefetch, _MM_HINT_T0);
  const __m512i bytes = _mm512_loadu_si512(p);
  // The white-space lookup of IsSpace32, in every 16-byte lane.
  const __m512i space_table =
      _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(kSpaceTable)));
  const uint64_t in_token =
      ~_cvtmask64_u64(_mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(space_table, bytes), bytes));
  if (in_token == 0) {
    p = SkipSpaceRun(p + kWindow, end);
    return true;
  }
  const uint64_t starts = in_token & ~(in_token << 1);
  // Last bytes of tokens that white space within the window follows.
  uint64_t ends = in_token & ~(in_token >> 1) & ~(uint64_t{1} << 63);
  if (TakeLoneToken(p, end, in_token, starts, ends, values, max, count, last_token)) {
    return count < max;
  }
  const uint64_t digit = uint64_t(
      _mm512_cmplt_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8('0')), _mm512_set1_epi8(10)));
  const uint64_t nonzero = uint64_t(
      _mm512_cmplt_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8('1')), _mm512_set1_epi8(9)));
  const uint64_t minus = uint64_t(_mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('-')));
  const uint64_t plus = uint64_t(_mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('+')));
  // Bytes that make a token something only the caller may judge: a sign is fine only first, and
  // only before a digit (a sign cut by the window's end is judged with the next window).
  const uint64_t signs = (minus | plus) & starts;
  const uint64_t odd =
      (in_token & ~digit & ~signs) | (signs & ~(in_token >> 1) & ~(uint64_t{1} << 63));
  if (odd != 0) ends &= (uint64_t{1} << std::countr_zero(odd)) - 1;
  if (const size_t room = max - count; static_cast<size_t>(std::popcount(ends)) > room) {
    ends = _pdep_u64((uint64_t{1} << room) - 1, ends);  // the first `room`
  }
  // Each token's first significant byte: its first digit that is not '0', or, in a token with
  // none, the byte after it. Adding a token's first bit to its sign and leading zeros carries it
  // there; later zeros are left alone.
  const uint64_t leading = in_token & ~nonzero;
  const uint64_t firsts = (leading + starts) & (nonzero | ~in_token);
  // A '-' carried through its token's bytes lands on the byte after it: bit k for token k.
  const uint64_t negatives = _pext_u64(((in_token + (minus & signs)) & ~in_token) >> 1, ends);
  const __m512i iota = _mm512_set_epi8(
      63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41,
      40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18,
      17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  const __m512i last_bytes = _mm512_maskz_compress_epi8(ends, iota);
  // Significant digits: 0 for a token of zeros; over ten cannot fit, and the caller judges.
  const __m512i lengths = _mm512_sub_epi8(_mm512_add_epi8(last_bytes, _mm512_set1_epi8(1)),
                                          _mm512_maskz_compress_epi8(firsts, iota));
  const int tokens = std::popcount(ends);
  const uint64_t too_long = _mm512_cmpgt_epu8_mask(lengths, _mm512_set1_epi8(10));
  uint64_t too_large = 0;
  // Lane j of a group holds token 4g + j of the window; byte i of a lane reads the token's byte
  // 15 - i from its end, kept where it is one of the token's significant digits.
  __m512i lane_token =
      _mm512_set_epi64(0x0303030303030303, 0x0303030303030303, 0x0202020202020202,
                       0x0202020202020202, 0x0101010101010101, 0x0101010101010101, 0, 0);
  const __m512i back = _mm512_broadcast_i32x4(
      _mm_setr_epi8(-15, -14, -13, -12, -11, -10, -9, -8, -7, -6, -5, -4, -3, -2, -1, 0));
  const __m512i distance =
      _mm512_broadcast_i32x4(_mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
  // Every group is converted and stored, and the checks are gathered for one branch after: the
  // next window's place then depends on the window's white space alone.
  for (int group = 0; group < tokens; group += 4) {
    const __m512i lane_last = _mm512_permutexvar_epi8(lane_token, last_bytes);
    const __m512i lane_length = _mm512_permutexvar_epi8(lane_token, lengths);
    lane_token = _mm512_add_epi8(lane_token, _mm512_set1_epi8(4));
    const __mmask64 keep = _mm512_cmplt_epu8_mask(distance, lane_length);
    const __m512i token_bytes = _mm512_permutexvar_epi8(_mm512_add_epi8(lane_last, back), bytes);
    const __m512i digits = _mm512_maskz_sub_epi8(keep, token_bytes, _mm512_set1_epi8('0'));
    const __m512i pairs = _mm512_maddubs_epi16(digits, _mm512_set1_epi16(0x010a));
    const __m512i fours = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00010064));
    const __m512i eights =
        _mm512_madd_epi16(_mm512_packus_epi32(fours, fours), _mm512_set1_epi32(0x00012710));
    // Each lane's first 64 bits: the token's magnitude, below 10^16.
    __m512i magnitudes = _mm512_add_epi64(_mm512_mul_epu32(eights, _mm512_set1_epi64(100000000)),
                                          _mm512_srli_epi64(eights, 32));
    const auto negative = static_cast<__mmask8>(_pdep_u32((negatives >> group) & 15, 0x55));
    const __m512i limit =
        _mm512_mask_add_epi64(_mm512_set1_epi64(0x7fffffff), negative,
                              _mm512_set1_epi64(0x7fffffff), _mm512_set1_epi64(1));
    too_large |= uint64_t{_pext_u32(_mm512_cmpgt_epu64_mask(magnitudes, limit), 0x55)} << group;
    magnitudes = _mm512_mask_sub_epi64(magnitudes, negative, _mm512_setzero_si512(), magnitudes);
    const __m128i four = _mm512_castsi512_si128(_mm512_permutexvar_epi32(
        _mm512_setr_epi32(0, 4, 8, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), magnitudes));
    const auto lanes = static_cast<__mmask8>(_bzhi_u32(15, static_cast<unsigned>(tokens - group)));
    _mm_mask_storeu_epi32(values + count + group, lanes, four);
  }
  const uint64_t bad = (too_long | too_large) & ((uint64_t{1} << tokens) - 1);
  if (odd == 0 && bad == 0 && count + static_cast<size_t>(tokens) < max) [[likely]] {
    count += static_cast<size_t>(tokens);
    if (tokens > 0) last_token = p + StartBefore(starts, 64 - std::countl_zero(ends));
    if (in_token >> 63 == 0) {
      p = std::countl_zero(in_token) >= 16 ? SkipSpaceRun(p + kWindow, end) : p + kWindow;
      return true;
    }
    // The window cuts its last token: the next window starts with it, unless it already started
    // this one (too long for a window).
    const int next = 63 - std::countl_zero(starts);
    p += next;
    return next != 0;
  }
  // Something the caller judges, or `max` values: the tokens before it are taken.
  const int taken = bad != 0 ? std::countr_zero(bad) : tokens;
  count += static_cast<size_t>(taken);
  const int after = taken > 0 ? LastByte(ends, taken - 1) + 1 : 0;  // past the last token taken
  if (taken > 0) last_token = p + StartBefore(starts, after);
  if (count == max) {
    p += after + 1;  // past the white space that follows the last token
    return false;
  }
  const uint64_t left = starts & ~((uint64_t{1} << after) - 1);  // tokens not taken
  const char* const next = p + std::countr_zero(left);
  const bool stuck = next == p || odd != 0 || bad != 0;
  p = next;
  return !stuck;
}

__attribute__((target(MAXMEDIAN_AVX512))) BlockParse ParseAvx512(const char* p, const char* end,
                                                                 int32_t* values, size_t max) {
  size_t count = 0;
  const char* last_token = nullptr;
  for (ptrdiff_t stretch = 2048; count < max && end - p >= kWindow;) {
    const char* const windows_end =
        TakeSparseBlocks(p, end, values, max, count, last_token, stretch);
    while (count < max && p < windows_end) {
      if (!ParseWindowAvx512(p, end, values, max, count, last_token)) {
        return {count, p, last_token};
      }
    }
  }
  return {count, p, last_token};
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif

}  // namespace

#if defined(__x86_64__)
__attribute__((target("avx2,bmi"))) const char* SkipSpaceAvx2(const char* p) {
  for (; AllSpace64(p); p += 64) _mm_prefetch(p + kBlockPrefetch, _MM_HINT_T0);
  const uint64_t space = SpaceMask32(Load32(p)) | SpaceMask32(Load32(p + 32)) << 32;
  return p + std::countr_one(space);
}
#endif

BlockParse ParseBlockAt(CpuLevel level, const char* begin, const char* end, int32_t* values,
                        size_t max) {
#if defined(__x86_64__)
  if (level >= CpuLevel::kAvx512) return ParseAvx512(begin, end, values, max);
  if (level >= CpuLevel::kAvx2) return ParseAvx2(begin, end, values, max);
#else
  (void)level;
#endif
  return ParsePortable(begin, end, values, max);
}

BlockParse ParseBlock(const char* begin, const char* end, int32_t* values, size_t max) {
  return ParseBlockAt(ActiveCpuLevel(), begin, end, values, max);
}

}  // namespace maxmedian
