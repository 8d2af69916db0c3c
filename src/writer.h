// Writing answers, one decimal integer a line, through a buffer that is flushed on demand.
#ifndef MAXMEDIAN_WRITER_H_
#define MAXMEDIAN_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "table.h"

namespace maxmedian {

// Somewhere output bytes go, with a name for messages.
class ByteSink {
 public:
  explicit ByteSink(std::string_view name) : name_(name) {}
  virtual ~ByteSink() = default;
  std::string_view name() const { return name_; }
  // Writes all `size` bytes of `data`. Returns false with errno set when a write fails.
  virtual bool Write(const char* data, size_t size) = 0;

 private:
  std::string_view name_;
};

// Writes to a file descriptor, finishing short writes, retrying interrupted ones, and waiting
// for room when the descriptor is non-blocking and full. A write that reports no bytes written
// fails with EIO rather than being retried forever.
class FdSink final : public ByteSink {
 public:
  FdSink(int fd, std::string_view name) : ByteSink(name), fd_(fd) {}
  bool Write(const char* data, size_t size) override;

 private:
  int fd_;
};

// Collects everything written, for tests and in-process runs. Its name is "<output>".
class StringSink final : public ByteSink {
 public:
  StringSink() : ByteSink("<output>") {}
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

  // Check ok() before any other call.
  explicit AnswerWriter(ByteSink& sink) : sink_(sink) {
    (void)buffer_.Resize(kBufferSize);  // a failure leaves the buffer empty: see ok()
  }
  AnswerWriter(const AnswerWriter&) = delete;
  AnswerWriter& operator=(const AnswerWriter&) = delete;

  // Whether the buffer could be allocated; if not, the writer must not be used.
  bool ok() const { return !buffer_.empty(); }

  // Adds the line "<answer>\n". Returns false once any write has failed; the line is then lost.
  bool Append(int32_t answer);
  // Writes every buffered line. Returns false, with write_error() set, if this or an earlier
  // write failed; nothing more is written after a failure.
  bool Flush();
  // The name of the sink the lines go to.
  std::string_view sink_name() const { return sink_.name(); }
  // The errno of the first failed write, or 0.
  int write_error() const { return write_error_; }

 private:
  static constexpr size_t kMaxLine = 12;  // "-2147483648\n"

  ByteSink& sink_;
  Table<char> buffer_;
  size_t used_ = 0;
  int write_error_ = 0;
};

}  // namespace maxmedian

#endif  // MAXMEDIAN_WRITER_H_
