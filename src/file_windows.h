// Showing a regular file's bytes in place, a window at a time, so that reading them costs no copy
// from the system's cache into a buffer of our own.
#ifndef MAXMEDIAN_FILE_WINDOWS_H_
#define MAXMEDIAN_FILE_WINDOWS_H_

#include <sys/types.h>

#include <cstddef>

namespace maxmedian {

// An error number of our own, beside errno's: the input file shrank while it was being read.
inline constexpr int kInputShrank = -1;

// Maps the rest of a regular file, from its offset at the first window, one window after another
// into the same place in memory. Every window has zero bytes before it and after it (at least a
// page of each) and a NUL right after its last byte, as the stream reader's buffer does. If the
// file shrinks while mapped, the bytes gone read as zeros instead of killing the process, and the
// windows report it. Only one FileWindows at a time can map; the others read.
class FileWindows {
 public:
  static constexpr size_t kDefaultWindow = size_t{1} << 18;
  // Files with fewer bytes left than this are read: mapping costs more than copying them.
  static constexpr size_t kDefaultMinBytes = size_t{1} << 20;

  // Windows of `window` bytes (rounded up to whole pages) over the file open at `fd`.
  FileWindows(int fd, size_t window = kDefaultWindow, size_t min_bytes = kDefaultMinBytes)
      : fd_(fd), window_(window), min_bytes_(min_bytes) {}
  FileWindows(const FileWindows&) = delete;
  FileWindows& operator=(const FileWindows&) = delete;
  ~FileWindows();

  enum class Next {
    kShown,  // the next window is at *data, *size bytes (at least one)
    kNone,   // nothing more to show: read the descriptor, whose offset follows the last window
    kLost    // bytes shown were lost (see Lost()); what was shown since may be zeros
  };
  // Replaces the window shown last by the next one. kNone at the first call means the file is
  // not a regular one, has fewer than min_bytes left, or cannot be mapped: nothing was mapped and
  // the descriptor's offset is unchanged. After kNone or kLost, every call returns the same.
  Next Advance(const char** data, size_t* size);

  // Whether bytes shown were lost, so that a fault seen in them may come from that: 0 if not,
  // kInputShrank when the file is now shorter than the windows shown reach, EIO when a page of
  // it could not be read.
  int Lost() const;

 private:
  void Unmap();

  int fd_;
  size_t window_, min_bytes_;
  enum class State { kUnused, kMapping, kDone } state_ = State::kUnused;
  char* region_ = nullptr;  // the place windows are mapped into, with the zeros around them
  size_t region_size_ = 0;
  off_t next_ = 0;       // the file offset the next window starts at
  off_t end_ = 0;        // the file's size when the first window was shown
  off_t shown_end_ = 0;  // the file offset just past the window shown last
  int lost_ = 0;         // what Lost() found when Advance last looked
};

}  // namespace maxmedian

#endif  // MAXMEDIAN_FILE_WINDOWS_H_
