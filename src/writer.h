// Writing output through a buffer that is flushed on demand: answer lines, converted cases.
#ifndef MAXMEDIAN_WRITER_H_
#define MAXMEDIAN_WRITER_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "decimal.h"
#include "status.h"
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

// Buffers output and hands it to a sink when the buffer fills or Flush is called. A mark
// separates what is whole (answer lines, converted cases) from what is still being built, so
// that a fault can take back an unfinished piece as long as it has not left the buffer.
class BufferedWriter {
 public:
  static constexpr size_t kDefaultBufferSize = size_t{1} << 16;
  static constexpr size_t kMaxNumber = 11;   // "-2147483648"
  static constexpr size_t kNumberSlack = 8;  // what FormatDecimalWide may write past a number

  // Check ok() before any other call.
  explicit BufferedWriter(ByteSink& sink, size_t buffer_size = kDefaultBufferSize) : sink_(sink) {
    (void)buffer_.Resize(std::max(buffer_size, 4 * kMaxNumber));  // failure: see ok()
  }
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;

  // Whether the buffer could be allocated; if not, the writer must not be used.
  bool ok() const { return !buffer_.empty(); }

  // Adds the line "<answer>\n" and marks it whole. Returns false once any write has failed; the
  // line is then lost.
  [[nodiscard]] bool Append(int32_t answer) {
    char* out = Room(kMaxNumber + 1 + kNumberSlack);
    if (out == nullptr) return false;
    out = FormatDecimalWide(answer, out);
    *out++ = '\n';
    Commit(out);
    Mark();
    return true;
  }
  // Room for `size` bytes (at most the buffer's size) at the end of the buffer, flushing everything
  // first if need be; null once any write has failed. Commit says how much was used.
  char* Room(size_t size) {
    if (buffer_.size() - used_ < size && !Flush()) return nullptr;
    return write_error_ == 0 ? buffer_.data() + used_ : nullptr;
  }
  // Keeps the bytes written since Room, up to `end`.
  void Commit(const char* end) { used_ = static_cast<size_t>(end - buffer_.data()); }
  // Marks everything kept so far as whole.
  void Mark() { marked_ = used_; }
  // Takes back what was kept after the mark, as far as it is still in the buffer.
  void DropUnmarked() { used_ = marked_; }
  // Writes everything up to the mark; what follows it stays in the buffer. Returns false, with
  // write_error() set, if this or an earlier write failed; nothing more is written after that.
  bool FlushMarked();
  // Writes everything kept, marked or not; returns as FlushMarked does.
  bool Flush() {
    Mark();
    return FlushMarked();
  }
  // The name of the sink the output goes to.
  std::string_view sink_name() const { return sink_.name(); }
  // The errno of the first failed write, or 0.
  int write_error() const { return write_error_; }

 private:
  ByteSink& sink_;
  Table<char> buffer_;
  size_t used_ = 0;    // bytes kept in the buffer
  size_t marked_ = 0;  // of which whole
  int write_error_ = 0;
};

// Ends a run: writes everything kept in `writer` and returns `result`, unless writing failed,
// which outranks whatever else went wrong (the output is what the caller came for). A failure
// because the reader of the output has gone (EPIPE) gives kExitIoError and no message, any other
// kExitIoError and the system's reason.
RunResult FinishOutput(BufferedWriter& writer, const RunResult& result);

}  // namespace maxmedian

#endif  // MAXMEDIAN_WRITER_H_
