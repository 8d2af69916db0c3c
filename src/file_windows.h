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
// into the same place in memory, or (where mapping pages costs far more than copying them, as
// under some hypervisors, which trap on every page first touched) only the first window. Every
// window has zero bytes before it and after it (at least a page of each) and a NUL right after its
// last byte, as the stream reader's buffer does. If the file shrinks while mapped, the bytes gone
// read as zeros instead of killing the process, and the windows report it. Only one FileWindows at
// a time can map; the others read.
class FileWindows {
 public:
  static constexpr size_t kDefaultWindow = size_t{1} << 18;
  // Files with fewer bytes left than this are read: mapping costs more than copying them.
  static constexpr size_t kDefaultMinBytes = size_t{1} << 20;

  // The first window's size when it is timed, at most: a few pages, to keep the trial cheap.
  static constexpr size_t kTrialBytes = size_t{1} << 16;

  // How far windows go on after the first.
  enum class Mapping {
    kWhereCheaper,  // reading and mapping the bytes after the first window are timed; the
                    // rest are mapped unless that took more than twice as long as the read
    kAlways,        // every window is mapped
    kFirstOnly      // as kWhereCheaper, but the rest are read whatever the times (for tests)
  };

  // Windows of `window` bytes (rounded up to whole pages) over the file open at `fd`.
  FileWindows(int fd, size_t window = kDefaultWindow, size_t min_bytes = kDefaultMinBytes,
              Mapping mapping = Mapping::kWhereCheaper)
      : fd_(fd), window_(window), min_bytes_(min_bytes), mapping_(mapping) {}
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
  // `scratch` is memory the caller reads into when windows stop, of `scratch_size` bytes, where
  // the first window may be read to time reading against mapping (see Mapping); with less of it
  // than that window's size (kTrialBytes at most, or a page if that is more), every window is
  // mapped.
  Next Advance(const char** data, size_t* size, char* scratch = nullptr, size_t scratch_size = 0);

  // Whether bytes shown were lost, so that a fault seen in them may come from that: 0 if not,
  // kInputShrank when the file is now shorter than the windows shown reach, EIO when a page of
  // it could not be read.
  int Lost() const;

 private:
  void Unmap();
  // Maps `bytes` of the file from `offset` at `base`, read-only. False if that fails.
  bool MapAt(char* base, size_t bytes, off_t offset);
  // Stops showing windows: reads go on from the end of the last one. kNone, or kLost if they
  // cannot.
  Next Stop();
  // Whether mapping `bytes` of the file took more than twice as long as reading them into
  // `scratch`, timed on the bytes after those from file offset `offset` where the file has as
  // many (else on those), each way's first use paid beforehand; false when reading failed. On
  // return the bytes from `offset` are mapped at `base`, or mapping failed and *mapped is false.
  bool ReadingCheaper(char* base, size_t bytes, off_t offset, char* scratch, bool* mapped);

  int fd_;
  size_t window_, min_bytes_;
  Mapping mapping_;
  bool read_rest_ = false;  // the windows after the one shown are read instead
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
