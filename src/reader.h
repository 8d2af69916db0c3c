// Reading a stream of white-space-separated 32-bit decimal integers, with the place of every
// token known for error messages.
#ifndef MAXMEDIAN_READER_H_
#define MAXMEDIAN_READER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace maxmedian {

// Where a byte stands in the input: line and column both count from 1, the column in bytes.
struct Location {
  int64_t line;
  int64_t column;
};

// Somewhere input bytes come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes into `buffer`. Returns how many it read, 0 at the end of input, or
  // -1 with errno set when the read fails.
  virtual ptrdiff_t Read(char* buffer, size_t size) = 0;
};

// Reads a file descriptor, retrying reads that a signal interrupts.
class FdSource final : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  ptrdiff_t Read(char* buffer, size_t size) override;

 private:
  int fd_;
};

// Reads from memory, at most `chunk` bytes a read, so that tests can cut the input anywhere.
class StringSource final : public ByteSource {
 public:
  explicit StringSource(std::string_view data, size_t chunk = SIZE_MAX)
      : data_(data), chunk_(chunk) {}
  ptrdiff_t Read(char* buffer, size_t size) override;

 private:
  std::string_view data_;
  size_t chunk_;
};

// What IntReader::Next found.
enum class ReadStatus {
  kValue,       // an integer, stored in *value
  kEnd,         // the end of input, with only white space before it
  kNotInteger,  // a token that is not a decimal integer
  kOutOfRange,  // a decimal integer outside -2147483648..2147483647
  kReadFailed,  // the source failed; read_error() holds errno
  kStopped,     // the before-read hook asked to stop
};

// Splits the input into tokens at the six white-space bytes (space, \t, \n, \v, \f, \r) and reads
// each token as an optional sign followed by decimal digits, leading zeros allowed.
class IntReader {
 public:
  static constexpr size_t kDefaultBufferSize = size_t{1} << 16;
  static constexpr size_t kPrefixBytes = 16;  // how much of a bad token messages quote

  // `before_read` runs before every read from `source`, any of which may wait for input; when it
  // returns false, Next returns kStopped. It may be empty.
  IntReader(ByteSource& source, std::function<bool()> before_read,
            size_t buffer_size = kDefaultBufferSize);
  IntReader(const IntReader&) = delete;
  IntReader& operator=(const IntReader&) = delete;

  // Reads the next token. Only kValue stores into *value. After any status but kValue, the
  // reader is not to be used again except for the accessors below.
  ReadStatus Next(int32_t* value);

  // Where the token that the last Next call looked at begins; for kEnd, where the input ends.
  Location TokenLocation();
  // After kNotInteger or kOutOfRange: the token's first bytes, at most kPrefixBytes of them.
  std::string_view TokenPrefix() const { return prefix_; }
  // After kNotInteger or kOutOfRange: whether the token is longer than TokenPrefix().
  bool TokenTruncated() const { return truncated_; }
  // After kReadFailed: the errno of the failed read.
  int read_error() const { return read_error_; }

 private:
  enum class Fill { kData, kEnd, kFailed, kStopped };

  static bool IsSpace(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') < 5; }
  static bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

  ReadStatus NextSlow(int32_t* value);
  Fill Refill();
  Location Locate(const char* p);

  ByteSource& source_;
  std::function<bool()> before_read_;
  std::vector<char> buffer_;  // the bytes of one read, then a NUL that stops every scan loop
  const char* pos_;           // the next byte to look at
  const char* end_;           // one past the last byte read
  bool at_end_ = false;       // the source has reported the end of input

  // Line accounting, done in bulk at each refill rather than per byte.
  const char* counted_;      // newlines before this byte of the buffer are in line_
  int64_t line_ = 1;         // the line of *counted_
  int64_t buffer_base_ = 0;  // offset in the input of buffer_[0]
  int64_t line_begin_ = 0;   // offset in the input of the first byte of line line_

  const char* token_start_ = nullptr;  // the last token, while it is still in the buffer
  Location token_location_{1, 1};      // the last token, when token_start_ is null
  std::string prefix_;
  bool truncated_ = false;
  int read_error_ = 0;
};

inline ReadStatus IntReader::Next(int32_t* value) {
  // The common case: a short, well-formed token followed by white space in the buffer. Anything
  // else, even a token that merely reaches the end of the buffer, goes to NextSlow.
  const char* p = pos_;
  while (IsSpace(*p)) ++p;
  const char* start = p;
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  const char* digits = p;
  uint64_t magnitude = 0;
  while (IsDigit(*p)) magnitude = magnitude * 10 + static_cast<unsigned>(*p++ - '0');
  if (p > digits && p - digits <= 10 && IsSpace(*p) && magnitude <= 0x7fffffffu + negative) {
    pos_ = p;
    token_start_ = start;
    *value = static_cast<int32_t>(negative ? 0 - magnitude : magnitude);
    return ReadStatus::kValue;
  }
  pos_ = start;
  return NextSlow(value);
}

}  // namespace maxmedian

#endif  // MAXMEDIAN_READER_H_
