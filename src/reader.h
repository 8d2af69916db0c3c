// Reading a stream of white-space-separated 32-bit decimal integers, with the place of every
// token known for error messages.
#ifndef MAXMEDIAN_READER_H_
#define MAXMEDIAN_READER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "block_parser.h"
#include "bytes.h"
#include "cpu.h"
#include "file_windows.h"
#include "table.h"

namespace maxmedian {

// Where a byte stands in the input: line and column both count from 1, the column in bytes.
struct Location {
  int64_t line;
  int64_t column;
};

// Somewhere input bytes come from, with a name for messages.
class ByteSource {
 public:
  explicit ByteSource(std::string_view name) : name_(name) {}
  virtual ~ByteSource() = default;
  std::string_view name() const { return name_; }
  // Reads up to `size` bytes into `buffer`. Returns how many it read, 0 at the end of input, or
  // -1 with errno set when the read fails.
  virtual ptrdiff_t Read(char* buffer, size_t size) = 0;
  // Shows the next bytes in place instead, when the source can (see FileWindows::Advance, whose
  // contract this is). The default shows nothing: everything is read.
  virtual FileWindows::Next NextWindow(const char** data, size_t* size, char* scratch,
                                       size_t scratch_size) {
    (void)data;
    (void)size;
    (void)scratch;
    (void)scratch_size;
    return FileWindows::Next::kNone;
  }
  // Whether bytes already shown were lost, and how (see FileWindows::Lost); asked only when
  // the input looks malformed.
  virtual int Lost() const { return 0; }
  // Whether a read may wait for input that is not there yet. True unless the source knows better.
  virtual bool MayWait() const { return true; }

 private:
  std::string_view name_;
};

// Reads a file descriptor, retrying reads that a signal interrupts, and waiting for input when
// the descriptor is non-blocking and has none yet. A large regular file is shown in windows
// instead (FileWindows, with the same `window`, `min_bytes` and `mapping`).
class FdSource final : public ByteSource {
 public:
  FdSource(int fd, std::string_view name, size_t window = FileWindows::kDefaultWindow,
           size_t min_bytes = FileWindows::kDefaultMinBytes,
           FileWindows::Mapping mapping = FileWindows::Mapping::kWhereCheaper)
      : ByteSource(name), fd_(fd), windows_(fd, window, min_bytes, mapping) {}
  ptrdiff_t Read(char* buffer, size_t size) override;
  FileWindows::Next NextWindow(const char** data, size_t* size, char* scratch,
                               size_t scratch_size) override {
    return windows_.Advance(data, size, scratch, scratch_size);
  }
  int Lost() const override { return windows_.Lost(); }
  // False for a regular file, whose reads never wait for a writer.
  bool MayWait() const override;

 private:
  int fd_;
  FileWindows windows_;
};

// Reads from memory, at most `chunk` bytes a read, so that tests can cut the input anywhere.
// Its name is "<input>".
class StringSource final : public ByteSource {
 public:
  explicit StringSource(std::string_view data, size_t chunk = SIZE_MAX)
      : ByteSource("<input>"), data_(data), chunk_(chunk) {}
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
  kReadFailed,  // the source failed; read_error() holds errno, or kInputShrank (file_windows.h)
  kStopped,     // the before-read hook asked to stop
};

// Splits the input into tokens at the six white-space bytes (space, \t, \n, \v, \f, \r) and reads
// each token as an optional sign followed by decimal digits, leading zeros allowed.
class IntReader {
 public:
  // Small enough that what a read copies is still in the second-level cache when the parser
  // reaches it: 256 KiB took 1.06 times as long on input that is mostly white space.
  static constexpr size_t kDefaultBufferSize = size_t{1} << 17;
  static constexpr size_t kPrefixBytes = 16;  // how much of a bad token messages quote

  // `before_read` runs before every read from `source`, any of which may wait for input; when it
  // returns false, Next returns kStopped. It may be empty. Check ok() before any other call.
  IntReader(ByteSource& source, std::function<bool()> before_read,
            size_t buffer_size = kDefaultBufferSize);
  IntReader(const IntReader&) = delete;
  IntReader& operator=(const IntReader&) = delete;

  // Whether the buffer could be allocated; if not, the reader must not be used.
  bool ok() const { return !buffer_.empty(); }

  // Reads the next token. Only kValue stores into *value. After any status but kValue, the
  // reader is not to be used again except for the accessors below.
  [[gnu::always_inline]] ReadStatus Next(int32_t* value);

  // Reads up to `max_count` tokens into `values`, as Next would, but many at a time (see
  // ParseBlock): only tokens that Next would read as values and that lie wholly within the data
  // already read, stopping before the first other one, for Next to read and judge. Returns how
  // many it stored; never fails.
  size_t ReadMany(int32_t* values, size_t max_count);

  // Where the token that the last Next call looked at begins; for kEnd, where the input ends.
  // After ReadMany, where the last token it read begins.
  Location TokenLocation();
  // After ReadMany has read more than `back` tokens and before any other call: where the token
  // `back` tokens before its last one begins.
  Location TokenLocationBack(size_t back);
  // After kNotInteger or kOutOfRange: the token's first bytes, at most kPrefixBytes of them.
  std::string_view TokenPrefix() const { return {prefix_, prefix_size_}; }
  // After kNotInteger or kOutOfRange: whether the token is longer than TokenPrefix().
  bool TokenTruncated() const { return truncated_; }
  // After kReadFailed: the errno of the failed read, or kInputShrank.
  int read_error() const { return read_error_; }

 private:
  enum class Fill { kData, kEnd, kFailed, kStopped };

  // The first byte at or after `p` that is not white space, looking at 16 bytes a step, or 64
  // with AVX2: runs of white space can be long. The NUL after the data ends every run.
  const char* SkipSpace(const char* p) const;

  // Reads the token at or after `start` the slow way. The value goes through a member rather
  // than the caller's pointer, so that the caller's variable can stay in a register.
  ReadStatus NextSlowFrom(const char* start, int32_t* value) {
    pos_ = start;
    const ReadStatus status = NextSlow();
    if (status == ReadStatus::kValue) *value = slow_value_;
    return status;
  }
  ReadStatus NextSlow();
  // kNotInteger, unless the token may be zeros that stand in for bytes the input lost.
  ReadStatus NotInteger() {
    read_error_ = source_.Lost();
    return read_error_ == 0 ? ReadStatus::kNotInteger : ReadStatus::kReadFailed;
  }

  // What the pieces of a token read so far make of it.
  struct TokenState {
    size_t length = 0;
    bool negative = false;
    bool has_digits = false;
    bool is_integer = true;
    uint64_t magnitude = 0;  // stops growing once it is past every 32-bit magnitude
  };
  // The first white-space byte at or after `p`, or end_: where the token at `p` ends in this
  // read, looking at 16 bytes a step.
  const char* TokenEnd(const char* p) const;
  // Takes the token's bytes [p, end) into `token`, and into the prefix that messages quote.
  void AddPiece(const char* p, const char* end, TokenState& token);
  Fill Refill();
  // Where the bytes of a read go in buffer_, after the room for wide loads.
  char* buffer_data() { return buffer_.data() + kLookBehind; }
  Location Locate(const char* p);

  ByteSource& source_;
  std::function<bool()> before_read_;
  // Room before the data and after its NUL, for wide loads.
  static constexpr size_t kLookBehind = kBlockLookBehind, kPadding = kBlockPadding;
  Table<char> buffer_;    // room, the bytes of one read, a NUL that stops every scan, padding
  size_t buffer_size_;    // how many bytes one read may bring
  const char* pos_;       // the next byte to look at; never inside a token, so it or the one
                          // before it is white space, or it starts the data
  const char* data_;      // the first byte of this read's data: in buffer_, or a window shown
  const char* end_;       // one past the last byte read
  bool at_end_ = false;   // the source has reported the end of input
  const CpuLevel level_;  // the CPU level in use when the reader was made, for its vector paths

  // Line accounting, done in bulk at each refill rather than per byte.
  const char* counted_;      // newlines before this byte of the buffer are in line_
  int64_t line_ = 1;         // the line of *counted_
  int64_t buffer_base_ = 0;  // offset in the input of data_[0]
  int64_t line_begin_ = 0;   // offset in the input of the first byte of line line_
  int64_t data_line_ = 1, data_line_begin_ = 0;  // line_ and line_begin_ at data_

  const char* token_start_ = nullptr;  // the last token, while it is still in the buffer
  Location token_location_{1, 1};      // the last token, when token_start_ is null
  char prefix_[kPrefixBytes];
  size_t prefix_size_ = 0;
  bool truncated_ = false;
  int read_error_ = 0;
  int32_t slow_value_ = 0;  // the value NextSlow read
};

inline ReadStatus IntReader::Next(int32_t* value) {
  // The common case: a well-formed token followed by white space in the buffer, of any length as
  // long as at most 10 digits are significant. Anything else, even a token that merely reaches
  // the end of the buffer, goes to NextSlow, which decides every case on its own; this path only
  // has to agree with it. The NUL after the data stops every scan at its end, and the buffer's
  // padding makes the wide loads safe. The token's first eight bytes are loaded once: they also
  // show the white space before it (one byte is usual; more goes to SkipSpace), a sign, and the
  // byte that ends a short token, so that where the next token starts depends on that one load
  // and the digit count rather than on a load of each byte.
  using bytes::AllZeros, bytes::DigitCount8, bytes::DigitValue8, bytes::IsSpace, bytes::Load8;
  const char* p = pos_;
  const char* start = p;
  uint64_t magnitude;
  bool negative = false;
  uint64_t word = Load8(p);
  if (IsSpace(static_cast<char>(word))) {
    start = p = SkipSpace(p);
    word = Load8(p);
  }
  size_t count = DigitCount8(word);
  if (count == 0) {
    const auto sign = static_cast<char>(word);
    if (sign != '-' && sign != '+') return NextSlowFrom(start, value);
    negative = sign == '-';
    word = Load8(++p);
    count = DigitCount8(word);
    if (count == 0) return NextSlowFrom(start, value);
  }
  if (count < 8) {
    if (!IsSpace(static_cast<char>(word >> (8 * count)))) return NextSlowFrom(start, value);
    magnitude = DigitValue8(word, count);
    p += count;
  } else if (const uint64_t tail = Load8(p + 8); DigitCount8(tail) <= 2) {
    // Eight to ten digits, from the two loads already made.
    const size_t more = DigitCount8(tail);
    static constexpr uint64_t kScale[] = {1, 10, 100};
    if (!IsSpace(static_cast<char>(tail >> (8 * more)))) return NextSlowFrom(start, value);
    magnitude = DigitValue8(word, 8) * kScale[more] + (more > 0 ? DigitValue8(tail, more) : 0);
    p += 8 + more;
  } else {
    // More digits: find where they end, check that all but the last ten are zeros, and
    // convert the last ten, as eight and two, from loads that end at the last digit.
    const size_t tail_count = DigitCount8(tail);
    const char* end = p + 8 + tail_count;
    for (size_t more = tail_count; more == 8; end += more) {
      __builtin_prefetch(end + kBlockPrefetch);  // a long run of zeros: see kBlockPrefetch
      more = DigitCount8(Load8(end));
    }
    const size_t digits = static_cast<size_t>(end - p);
    if (digits > 10 && !AllZeros(p, digits - 10)) return NextSlowFrom(start, value);
    magnitude = DigitValue8(Load8(end - 8), 8);
    magnitude += uint64_t{static_cast<unsigned char>(end[-9]) - 0x30u} * 100000000;
    magnitude += uint64_t{static_cast<unsigned char>(end[-10]) - 0x30u} * 1000000000;
    p = end;
    if (!IsSpace(*p)) return NextSlowFrom(start, value);
  }
  if (magnitude > 0x7fffffffu + negative) return NextSlowFrom(start, value);
  pos_ = p + 1;  // past the white space that ended the token, which is in the buffer
  token_start_ = start;
  *value = static_cast<int32_t>(negative ? 0 - magnitude : magnitude);
  return ReadStatus::kValue;
}

}  // namespace maxmedian

#endif  // MAXMEDIAN_READER_H_
