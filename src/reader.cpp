#include "reader.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
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
      buffer_size_(std::max<size_t>(buffer_size, 1)) {
  // Nothing here may throw, not even for lack of memory: a failed Resize leaves the buffer
  // empty, which ok() reports. Wide loads read the padding: give it a value, although no result
  // depends on it.
  if (buffer_.Resize(buffer_size_ + 1 + kPadding)) std::memset(buffer_.data(), 0, buffer_.size());
  pos_ = end_ = counted_ = buffer_.data();
}

const char* IntReader::SkipSpace(const char* p) {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i four = _mm_set1_epi8(4);
  for (;; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i from_tab = _mm_sub_epi8(bytes, tab);  // \t to \r become 0 to 4
    const __m128i is_space = _mm_or_si128(_mm_cmpeq_epi8(bytes, space),
                                          _mm_cmpeq_epi8(_mm_min_epu8(from_tab, four), from_tab));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(is_space));
    if (mask != 0xffff) return p + std::countr_one(mask);
  }
#else
  while (IsSpace(*p)) ++p;
  return p;
#endif
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
  // White space, across as many reads as it takes.
  for (;;) {
    while (pos_ < end_ && IsSpace(*pos_)) ++pos_;
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

  // The token, byte by byte across reads, in constant memory however long it is.
  bool negative = false;
  bool has_digits = false;
  bool is_integer = true;
  uint64_t magnitude = 0;  // stops growing once it is past every 32-bit magnitude
  size_t length = 0;
  for (;;) {
    for (; pos_ < end_ && !IsSpace(*pos_); ++pos_, ++length) {
      const char ch = *pos_;
      if (length < kPrefixBytes) {
        prefix_[prefix_size_++] = ch;
      } else {
        truncated_ = true;
        // The rest of a bad token cannot change the verdict or the message.
        if (!is_integer) return ReadStatus::kNotInteger;
      }
      if (length == 0 && (ch == '-' || ch == '+')) {
        negative = ch == '-';
      } else if (IsDigit(ch)) {
        has_digits = true;
        if (magnitude <= 0x80000000u) magnitude = magnitude * 10 + static_cast<unsigned>(ch - '0');
      } else {
        is_integer = false;
      }
    }
    if (pos_ < end_) break;
    const Fill fill = Refill();
    if (fill == Fill::kEnd) break;
    if (fill == Fill::kFailed) return ReadStatus::kReadFailed;
    if (fill == Fill::kStopped) return ReadStatus::kStopped;
  }
  if (!is_integer || !has_digits) return ReadStatus::kNotInteger;
  if (magnitude > 0x7fffffffu + uint64_t{negative}) return ReadStatus::kOutOfRange;
  slow_value_ = static_cast<int32_t>(negative ? 0 - magnitude : magnitude);
  return ReadStatus::kValue;
}

Location IntReader::TokenLocation() {
  return token_start_ != nullptr ? Locate(token_start_) : token_location_;
}

}  // namespace maxmedian
