#include "writer.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "decimal.h"

namespace maxmedian {

bool FdSink::Write(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
      // A non-blocking descriptor that is full: wait for room as a blocking one would.
      pollfd ready = {fd_, POLLOUT, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
      continue;
    }
    if (n == 0) {
      // No error and no progress: retrying could spin forever, so it is a failed write.
      errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool AnswerWriter::Append(int32_t answer) {
  if (kBufferSize - used_ < kMaxLine && !Flush()) return false;
  char* out = FormatDecimal(answer, buffer_.data() + used_);
  *out++ = '\n';
  used_ = static_cast<size_t>(out - buffer_.data());
  return write_error_ == 0;
}

bool AnswerWriter::Flush() {
  if (write_error_ != 0) return false;
  if (used_ == 0) return true;
  const bool ok = sink_.Write(buffer_.data(), used_);
  used_ = 0;
  if (!ok) write_error_ = errno != 0 ? errno : EIO;
  return ok;
}

}  // namespace maxmedian
