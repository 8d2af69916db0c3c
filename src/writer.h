// Writing answers, one decimal integer a line, through a buffer that is flushed on demand.
#ifndef MAXMEDIAN_WRITER_H_
#define MAXMEDIAN_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace maxmedian {

// Somewhere output bytes go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all `size` bytes of `data`. Returns false with errno set when a write fails.
  virtual bool Write(const char* data, size_t size) = 0;
};

// Writes to a file descriptor, finishing short writes and retrying interrupted ones.
class FdSink final : public ByteSink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool Write(const char* data, size_t size) override;

 private:
  int fd_;
};

// Collects everything written, for tests and in-process runs.
class StringSink final : public ByteSink {
 public:
  bool Write(const char* data, size_t size) override {
    text.append(data, size);
    return true;
  }
  std::string text;
};

// Buffers answer lines and hands them to a sink when the buffer fills or Flush is called.
class AnswerWriter {
 public:
  static constexpr size_t kBufferSize = size_t{1} << 16;

  explicit AnswerWriter(ByteSink& sink) : sink_(sink), buffer_(kBufferSize) {}
  AnswerWriter(const AnswerWriter&) = delete;
  AnswerWriter& operator=(const AnswerWriter&) = delete;

  // Adds the line "<answer>\n". Returns false once any write has failed; the line is then lost.
  bool Append(int32_t answer);
  // Writes every buffered line. Returns false, with write_error() set, if this or an earlier
  // write failed; nothing more is written after a failure.
  bool Flush();
  // The errno of the first failed write, or 0.
  int write_error() const { return write_error_; }

 private:
  static constexpr size_t kMaxLine = 12;  // "-2147483648\n"

  ByteSink& sink_;
  std::vector<char> buffer_;
  size_t used_ = 0;
  int write_error_ = 0;
};

}  // namespace maxmedian

#endif  // MAXMEDIAN_WRITER_H_
