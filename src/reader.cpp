// Reading integers from a byte stream: the token-at-a-time reader that judges every token and
// places every message (NextSlow), the batch reader that takes 64 bytes a step with AVX2
// (ReadManyAvx2), white-space skipping at vector speed, and the line and column of a token,
// counted in bulk at each refill rather than byte by byte.
#include "reader.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace maxmedian {

ptrdiff_t FdSource::Read(char* buffer, size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    // A non-blocking descriptor with nothing to read yet: wait for input as a blocking one would.
    pollfd ready = {fd_, POLLIN, 0};
    if (poll(&ready, 1, -1) < 0 && errno != EINTR) return -1;
  }
}

ptrdiff_t StringSource::Read(char* buffer, size_t size) {
  const size_t n = std::min({size, chunk_, data_.size()});
  std::copy_n(data_.data(), n, buffer);
  data_.remove_prefix(n);
  return static_cast<ptrdiff_t>(n);
}

IntReader::IntReader(ByteSource& source, std::function<bool()> before_read, size_t buffer_size)
    : source_(source),
      before_read_(std::move(before_read)),
      buffer_size_(std::max<size_t>(buffer_size, 1)),
#if defined(__x86_64__)
      wide_(ActiveCpuLevel() >= CpuLevel::kAvx2) {
#else
      wide_(false) {
#endif
  // Nothing here may throw, not even for lack of memory: a failed Resize leaves the buffer
  // empty, which ok() reports. Wide loads read the padding: give it a value, although no result
  // depends on it.
  if (buffer_.Resize(buffer_size_ + 1 + kPadding)) std::memset(buffer_.data(), 0, buffer_.size());
  pos_ = end_ = counted_ = buffer_.data();
}

#if defined(__SSE2__)
namespace {

inline __m128i Load16(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// One bit for each byte of `bytes` that is white space, the first byte lowest.
inline unsigned SpaceMask16(__m128i bytes) {
  const __m128i from_tab = _mm_sub_epi8(bytes, _mm_set1_epi8('\t'));  // \t to \r become 0 to 4
  const __m128i is_space =
      _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')),
                   _mm_cmpeq_epi8(_mm_min_epu8(from_tab, _mm_set1_epi8(4)), from_tab));
  return static_cast<unsigned>(_mm_movemask_epi8(is_space));
}

// One bit for each byte of `bytes` that is NUL, the first byte lowest.
inline unsigned NulMask16(__m128i bytes) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
}

}  // namespace
#endif

#if defined(__x86_64__)
namespace {

// One bit for each of the 32 bytes of `bytes` that is white space, the first byte lowest.
__attribute__((target("avx2"))) inline uint64_t SpaceMask32(__m256i bytes) {
  const __m256i from_tab = _mm256_sub_epi8(bytes, _mm256_set1_epi8('\t'));  // \t..\r: 0..4
  const __m256i space =
      _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(' ')),
                      _mm256_cmpeq_epi8(_mm256_min_epu8(from_tab, _mm256_set1_epi8(4)), from_tab));
  return static_cast<uint32_t>(_mm256_movemask_epi8(space));
}

__attribute__((target("avx2"))) inline __m256i Load32(const char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// SkipSpace's loop with AVX2, 64 bytes a step.
__attribute__((target("avx2,bmi"))) const char* SkipSpaceAvx2(const char* p) {
  for (;; p += 64) {
    const uint64_t space = SpaceMask32(Load32(p)) | SpaceMask32(Load32(p + 32)) << 32;
    if (space != ~uint64_t{0}) return p + std::countr_one(space);
  }
}

}  // namespace
#endif

const char* IntReader::SkipSpace(const char* p) const {
#if defined(__SSE2__)
  // Most runs are short; a long one goes on with wider steps where the CPU has them.
  if (const unsigned space = SpaceMask16(Load16(p)); space != 0xffff) {
    return p + std::countr_one(space);
  }
#if defined(__x86_64__)
  if (wide_) return SkipSpaceAvx2(p + 16);
#endif
  for (p += 16;; p += 16) {
    if (const unsigned space = SpaceMask16(Load16(p)); space != 0xffff) {
      return p + std::countr_one(space);
    }
  }
#else
  for (;; p += 8) {
    const uint64_t space = SpaceBits8(Load8(p));
    if (space != 0x8080808080808080u) return p + std::countr_one(space | 0x7f7f7f7f7f7f7f7fu) / 8;
  }
#endif
}

bool IntReader::ReadDigits(const char* token, const char* end, int32_t* value) {
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

#if defined(__x86_64__)
namespace {

// Which of 64 bytes are white space, decimal digits, signs and minus signs: bit i for byte i.
struct ByteClasses {
  uint64_t space, digit, sign, minus;
};

__attribute__((target("avx2"))) inline ByteClasses Classify64(const char* p) {
  ByteClasses classes{0, 0, 0, 0};
  for (ptrdiff_t half = 0; half < 2; ++half) {
    const __m256i bytes = Load32(p + 32 * half);
    const __m256i from_zero = _mm256_sub_epi8(bytes, _mm256_set1_epi8('0'));
    const __m256i digit =
        _mm256_cmpeq_epi8(_mm256_min_epu8(from_zero, _mm256_set1_epi8(9)), from_zero);
    const __m256i minus = _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('-'));
    const __m256i sign = _mm256_or_si256(minus, _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('+')));
    // Lambdas do not take on the function's target, so the masks are gathered here.
    const auto shift = 32 * half;
    classes.space |= SpaceMask32(bytes) << shift;
    classes.digit |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(digit))} << shift;
    classes.sign |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(sign))} << shift;
    classes.minus |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(minus))} << shift;
  }
  return classes;
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

}  // namespace

__attribute__((target("avx2,bmi,popcnt"))) size_t IntReader::ReadManyAvx2(int32_t* values,
                                                                          size_t max_count) {
  constexpr ptrdiff_t kWindow = 64;
  const char* p = pos_;  // by the invariant on pos_, no token began before p and runs on past it
  size_t count = 0;
  const char* last_token = nullptr;
  const auto stop = [&](const char* at) {
    pos_ = at;
    if (last_token != nullptr) token_start_ = last_token;
    return count;
  };
  // Windows that lie wholly within the data read, with room before them for the loads that end
  // with a token.
  while (count < max_count && end_ - p >= kWindow && p - buffer_.data() >= kLookBehind) {
    const ByteClasses classes = Classify64(p);
    const uint64_t in_token = ~classes.space;
    if (in_token == 0) {  // a run of white space, which may be long: skipped at SkipSpace's pace
      p = SkipSpace(p + kWindow);
      continue;
    }
    uint64_t starts = in_token & ~(in_token << 1);
    // Last bytes of tokens that white space within the window follows.
    uint64_t ends = in_token & ~(in_token >> 1) & ~(uint64_t{1} << 63);
    // Bytes that make a token something only Next may judge: a sign is fine only first.
    const uint64_t signs = classes.sign & starts;
    const uint64_t odd = in_token & ~classes.digit & ~signs;
    if (odd != 0) ends &= (uint64_t{1} << std::countr_zero(odd)) - 1;
    if (const size_t room = max_count - count; static_cast<size_t>(std::popcount(ends)) > room) {
      uint64_t kept = 0;  // the first `room` ends
      for (size_t i = 0; i < room; ++i, ends &= ends - 1) kept |= ends & (0 - ends);
      ends = kept;
    }
    const char* after = p;  // just past the last token taken
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
      const auto sign_a = static_cast<int>((signs >> start_a) & 1);
      const auto sign_b = static_cast<int>((signs >> start_b) & 1);
      const auto length_a = static_cast<size_t>(end_a - start_a - sign_a);
      const auto length_b = two ? static_cast<size_t>(end_b - start_b - sign_b) : 1;
      int32_t* const out = values + count;
      uint64_t magnitude_a, magnitude_b;
      if (((length_a - 1) | (length_b - 1)) < 16) {
        TwoMagnitudes(p + end_a, length_a, p + end_b, length_b, &magnitude_a, &magnitude_b);
        const bool negative_a = (classes.minus >> start_a) & 1;
        const bool negative_b = (classes.minus >> start_b) & 1;
        if (magnitude_a > 0x7fffffffu + negative_a) return stop(p + start_a);
        if (two && magnitude_b > 0x7fffffffu + negative_b) {
          *out = static_cast<int32_t>(negative_a ? 0 - magnitude_a : magnitude_a);
          ++count;
          last_token = p + start_a;
          return stop(p + start_b);
        }
        out[two] = static_cast<int32_t>(negative_b ? 0 - magnitude_b : magnitude_b);
        out[0] = static_cast<int32_t>(negative_a ? 0 - magnitude_a : magnitude_a);
      } else {  // a lone sign or more than 16 digits: rare, so one token at a time
        if (!ReadDigits(p + start_a, p + end_a, out)) return stop(p + start_a);
        if (two && !ReadDigits(p + start_b, p + end_b, out + 1)) {
          ++count;
          last_token = p + start_a;
          return stop(p + start_b);
        }
      }
      count += 1 + two;
      last_token = p + (two ? start_b : start_a);
      after = p + (two ? end_b : end_a);
    }
    if (count == max_count) {
      p = after + 1;  // past the white space that follows the last token
      break;
    }
    if (starts == 0) {
      p += kWindow;  // the rest of the window is white space
      continue;
    }
    // A token the window cuts, or one with an odd byte: the next window starts with it, unless it
    // already started this one (too long for a window) or is odd.
    const char* next = p + std::countr_zero(starts);
    const bool stuck = next == p || odd != 0;
    p = next;
    if (stuck) break;
  }
  return stop(p);
}
#else
size_t IntReader::ReadManyAvx2(int32_t*, size_t) { return 0; }  // never called: wide_ is false
#endif

namespace {

int64_t CountNewlines(const char* p, const char* end) {
  // Counts in blocks small enough for byte-wide counters, which the compiler turns into wide
  // vector compares and adds.
  constexpr ptrdiff_t kBlock = 255;
  int64_t count = 0;
  while (end - p >= kBlock) {
    uint8_t block_count = 0;
    for (ptrdiff_t i = 0; i < kBlock; ++i) block_count += p[i] == '\n';
    count += block_count;
    p += kBlock;
  }
  for (; p < end; ++p) count += *p == '\n';
  return count;
}

}  // namespace

Location IntReader::Locate(const char* p) {
  // Callers only move forward through the buffer, so counting can resume where it stopped.
  if (const int64_t newlines = CountNewlines(counted_, p); newlines > 0) {
    const char* last = static_cast<const char*>(memrchr(counted_, '\n', p - counted_));
    line_ += newlines;
    line_begin_ = buffer_base_ + (last + 1 - buffer_.data());
  }
  counted_ = p;
  return {line_, buffer_base_ + (p - buffer_.data()) - line_begin_ + 1};
}

IntReader::Fill IntReader::Refill() {
  if (at_end_) return Fill::kEnd;
  Locate(end_);
  buffer_base_ += end_ - buffer_.data();
  char* data = buffer_.data();
  pos_ = end_ = counted_ = data;
  *data = '\0';
  if (before_read_ && !before_read_()) return Fill::kStopped;
  const ptrdiff_t n = source_.Read(data, buffer_size_);
  if (n < 0) {
    read_error_ = errno;
    return Fill::kFailed;
  }
  if (n == 0) {
    at_end_ = true;
    return Fill::kEnd;
  }
  end_ = data + n;
  data[n] = '\0';
  return Fill::kData;
}

ReadStatus IntReader::NextSlow() {
  token_start_ = nullptr;
  // White space, across as many reads as it takes, as fast as within one read.
  for (;;) {
    pos_ = SkipSpace(pos_);
    if (pos_ < end_) break;
    switch (Refill()) {
      case Fill::kData:
        continue;
      case Fill::kEnd:
        token_location_ = Locate(pos_);
        return ReadStatus::kEnd;
      case Fill::kFailed:
        token_location_ = Locate(pos_);
        return ReadStatus::kReadFailed;
      case Fill::kStopped:
        return ReadStatus::kStopped;
    }
  }
  token_location_ = Locate(pos_);
  prefix_size_ = 0;
  truncated_ = false;

  // The token, one read's piece at a time, in constant memory however long it is.
  TokenState token;
  for (;;) {
    const char* piece_end = TokenEnd(pos_);
    AddPiece(pos_, piece_end, token);
    pos_ = piece_end;
    // The rest of a bad token cannot change the verdict or the message.
    if (!token.is_integer && truncated_) return ReadStatus::kNotInteger;
    if (pos_ < end_) break;
    const Fill fill = Refill();
    if (fill == Fill::kEnd) break;
    if (fill == Fill::kFailed) return ReadStatus::kReadFailed;
    if (fill == Fill::kStopped) return ReadStatus::kStopped;
  }
  if (!token.is_integer || !token.has_digits) return ReadStatus::kNotInteger;
  if (token.magnitude > 0x7fffffffu + uint64_t{token.negative}) return ReadStatus::kOutOfRange;
  slow_value_ = static_cast<int32_t>(token.negative ? 0 - token.magnitude : token.magnitude);
  return ReadStatus::kValue;
}

const char* IntReader::TokenEnd(const char* p) const {
  for (;;) {
#if defined(__SSE2__)
    for (;; p += 16) {
      const __m128i bytes = Load16(p);
      if (const unsigned stops = SpaceMask16(bytes) | NulMask16(bytes); stops != 0) {
        p += std::countr_zero(stops);
        break;
      }
    }
#else
    for (;; p += 8) {
      const uint64_t word = Load8(p);
      if (const uint64_t stops = SpaceBits8(word) | NulBits8(word); stops != 0) {
        p += std::countr_zero(stops) / 8;
        break;
      }
    }
#endif
    // A NUL byte before the end of the data belongs to the token.
    if (*p != '\0' || p == end_) return p;
    ++p;
  }
}

void IntReader::AddPiece(const char* p, const char* end, TokenState& token) {
  const auto size = static_cast<size_t>(end - p);
  const size_t quoted = std::min(size, kPrefixBytes - prefix_size_);
  std::memcpy(prefix_ + prefix_size_, p, quoted);
  prefix_size_ += quoted;
  truncated_ = truncated_ || quoted < size;
  if (token.length == 0 && size > 0 && (*p == '-' || *p == '+')) {
    token.negative = *p++ == '-';
  }
  token.length += size;
  // Past every 32-bit magnitude: the value stops growing here, so that no digit count overflows.
  constexpr uint64_t kPast = uint64_t{0x80000000u} + 1;
  for (; end - p >= 8 && token.is_integer; p += 8) {
    const uint64_t word = Load8(p);
    if (DigitCount8(word) < 8) {
      token.is_integer = false;
      break;
    }
    token.has_digits = true;
    token.magnitude = std::min(token.magnitude * 100000000 + DigitValue8(word, 8), kPast);
  }
  for (; p < end && token.is_integer; ++p) {
    if (!IsDigit(*p)) {
      token.is_integer = false;
      break;
    }
    token.has_digits = true;
    token.magnitude = std::min(token.magnitude * 10 + static_cast<unsigned>(*p - '0'), kPast);
  }
}

Location IntReader::TokenLocation() {
  return token_start_ != nullptr ? Locate(token_start_) : token_location_;
}

}  // namespace maxmedian
