// Reading integers from a byte stream: refilling the buffer, the token-at-a-time reader that
// judges every token and places every message (NextSlow), white-space skipping at vector speed,
// and the line and column of a token, counted in bulk at each refill rather than byte by byte.
// Many tokens at a time are the block parser's (block_parser.h).
#include "reader.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
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

using bytes::DigitCount8;
using bytes::DigitValue8;
using bytes::IsDigit;
using bytes::Load8;
using bytes::NulBits8;
using bytes::SpaceBits8;

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

bool FdSource::MayWait() const {
  struct stat status;
  return fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode);
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
      level_(ActiveCpuLevel()) {
  // Nothing here may throw, not even for lack of memory: a failed Resize leaves the buffer
  // empty, which ok() reports. Wide loads read the room before the data and the padding after
  // its NUL: give them a value, although no result depends on it. Only they are set, so that a
  // short input does not fault in every page of the buffer.
  static_assert(kLookBehind + kDefaultBufferSize + 1 + kPadding < table_memory::kHugeThreshold,
                "the buffer stays in small pages: see kHugeThreshold");
  if (buffer_.Resize(kLookBehind + buffer_size_ + 1 + kPadding)) {
    std::memset(buffer_.data(), 0, kLookBehind + 1 + kPadding);
  }
  pos_ = end_ = counted_ = data_ = buffer_data();
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

const char* IntReader::SkipSpace(const char* p) const {
#if defined(__SSE2__)
  // Most runs are short; a long one goes on with wider steps where the CPU has them.
  if (const unsigned space = SpaceMask16(Load16(p)); space != 0xffff) {
    return p + std::countr_one(space);
  }
#if defined(__x86_64__)
  if (level_ >= CpuLevel::kAvx2) return SkipSpaceAvx2(p + 16);  // block_parser.h
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

size_t IntReader::ReadMany(int32_t* values, size_t max_count) {
  // By the invariant on pos_, no token began before it and runs on past it, as ParseBlock needs.
  const BlockParse parsed = ParseBlockAt(level_, pos_, end_, values, max_count);
  pos_ = parsed.next;
  Locate(pos_);  // the lines of what the parser read, while its bytes are still in the cache
  if (parsed.last_token != nullptr) token_start_ = parsed.last_token;
  return parsed.count;
}

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

#if defined(__x86_64__)
// CountNewlines with AVX2, 64 bytes a step: lines are counted over every byte of the input, and
// input that is mostly white space is mostly newlines. Each compare is subtracted from byte-wide
// counters (a match is -1), which are summed before any can pass 255.
__attribute__((target("avx2"))) int64_t CountNewlinesAvx2(const char* p, const char* end) {
  int64_t count = 0;
  const __m256i newline = _mm256_set1_epi8('\n');
  while (end - p >= 64) {
    const char* const stop = p + std::min<ptrdiff_t>((end - p) / 64, 255) * 64;
    __m256i low = _mm256_setzero_si256(), high = _mm256_setzero_si256();
    for (; p < stop; p += 64) {
      low = _mm256_sub_epi8(
          low, _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), newline));
      high = _mm256_sub_epi8(
          high,
          _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), newline));
    }
    const __m256i zero = _mm256_setzero_si256();
    const __m256i sums = _mm256_add_epi64(_mm256_sad_epu8(low, zero), _mm256_sad_epu8(high, zero));
    count += _mm256_extract_epi64(sums, 0) + _mm256_extract_epi64(sums, 1) +
             _mm256_extract_epi64(sums, 2) + _mm256_extract_epi64(sums, 3);
  }
  return count + CountNewlines(p, end);
}
#endif

}  // namespace

Location IntReader::Locate(const char* p) {
  // Counting resumes where it stopped; a place before that (a fault among the tokens ReadMany
  // just read) is counted again from the start of the data.
  if (p < counted_) {
    counted_ = data_;
    line_ = data_line_;
    line_begin_ = data_line_begin_;
  }
#if defined(__x86_64__)
  const int64_t newlines =
      level_ >= CpuLevel::kAvx2 ? CountNewlinesAvx2(counted_, p) : CountNewlines(counted_, p);
#else
  const int64_t newlines = CountNewlines(counted_, p);
#endif
  if (newlines > 0) {
    const char* last = static_cast<const char*>(memrchr(counted_, '\n', p - counted_));
    line_ += newlines;
    line_begin_ = buffer_base_ + (last + 1 - data_);
  }
  counted_ = p;
  return {line_, buffer_base_ + (p - data_) - line_begin_ + 1};
}

IntReader::Fill IntReader::Refill() {
  if (at_end_) return Fill::kEnd;
  Locate(end_);
  data_line_ = line_;
  data_line_begin_ = line_begin_;
  buffer_base_ += end_ - data_;
  char* data = buffer_data();
  pos_ = end_ = counted_ = data_ = data;
  *data = '\0';
  if (before_read_ && !before_read_()) return Fill::kStopped;
  const char* shown;
  size_t shown_size;
  switch (source_.NextWindow(&shown, &shown_size, data, buffer_size_)) {
    case FileWindows::Next::kShown:
      pos_ = counted_ = data_ = shown;
      end_ = shown + shown_size;
      return Fill::kData;
    case FileWindows::Next::kLost:
      read_error_ = source_.Lost();
      return Fill::kFailed;
    case FileWindows::Next::kNone:
      break;
  }
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
  std::memset(data + n, 0, 1 + kPadding);  // the NUL that stops every scan, and the padding
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
    if (!token.is_integer && truncated_) return NotInteger();
    if (pos_ < end_) break;
    const Fill fill = Refill();
    if (fill == Fill::kEnd) break;
    if (fill == Fill::kFailed) return ReadStatus::kReadFailed;
    if (fill == Fill::kStopped) return ReadStatus::kStopped;
  }
  if (!token.is_integer || !token.has_digits) return NotInteger();
  if (token.magnitude > 0x7fffffffu + uint64_t{token.negative}) return ReadStatus::kOutOfRange;
  slow_value_ = static_cast<int32_t>(token.negative ? 0 - token.magnitude : token.magnitude);
  return ReadStatus::kValue;
}

const char* IntReader::TokenEnd(const char* p) const {
  for (;;) {
#if defined(__SSE2__)
    for (;; p += 16) {
      _mm_prefetch(p + kBlockPrefetch, _MM_HINT_T0);  // a long token: see kBlockPrefetch
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
  // Leading zeros, which change nothing, at a compare a word: a token cut by a read may be tens
  // of thousands of them.
  if (token.magnitude == 0 && token.is_integer) {
    const char* const zeros = p;
    while (end - p >= 8 && Load8(p) == 0x3030303030303030u) p += 8;
    token.has_digits = token.has_digits || p > zeros;
  }
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

Location IntReader::TokenLocationBack(size_t back) {
  // The tokens ReadMany read are all still in the buffer, with white space between them.
  const char* p = token_start_;
  for (; back > 0; --back) {
    do --p;
    while (bytes::IsSpace(*p));
    while (!bytes::IsSpace(p[-1]) && p[-1] != '\0') --p;
  }
  return Locate(p);
}

}  // namespace maxmedian
