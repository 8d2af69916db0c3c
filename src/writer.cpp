// Writing to a descriptor to the end, whatever the descriptor does (short writes, interruptions,
// non-blocking), and the output buffer with its mark between whole and unfinished output.
#include "writer.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

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

bool BufferedWriter::FlushMarked() {
  if (write_error_ != 0) return false;
  if (marked_ == 0) return true;
  const bool ok = sink_.Write(buffer_.data(), marked_);
  if (!ok) {
    write_error_ = errno != 0 ? errno : EIO;
    return false;
  }
  std::memmove(buffer_.data(), buffer_.data() + marked_, used_ - marked_);
  used_ -= marked_;
  marked_ = 0;
  return true;
}

RunResult FinishOutput(BufferedWriter& writer, const RunResult& result) {
  if (writer.Flush()) return result;
  const int error = writer.write_error();
  if (error == EPIPE) return {kExitIoError, ""};
  return {kExitIoError, SystemError(writer.sink_name(), "write", error)};
}

}  // namespace maxmedian
